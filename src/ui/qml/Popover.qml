import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import MeterKeeper

// The panel that opens from the tray icon: one section per profile, the banners above them, the
// last message and the footer below.
Rectangle {
    id: root
    objectName: "popover"

    required property var store     // the UsageStore
    required property var profiles  // its ProfileListModel
    required property var actions   // opens the other windows, quits

    // The row being dragged ("" when none).
    property string draggingId: ""
    // The 30-second clock runs only while the panel is shown.
    property bool shown: true

    width: 312 + 24
    implicitHeight: column.implicitHeight + 24
    height: implicitHeight
    color: palette.window

    Timer {
        objectName: "clock"
        interval: 30000
        repeat: true
        running: root.shown
        onTriggered: root.profiles.refreshTime()
    }

    ColumnLayout {
        id: column
        x: 12
        y: 12
        width: 312
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Label {
                text: "MeterKeeper"
                font.pixelSize: 13
                font.bold: true
            }
            Item { Layout.fillWidth: true }
            Label {
                objectName: "lastRefresh"
                visible: !isNaN(root.store.lastRefreshTime.getTime())
                text: visible ? Qt.formatTime(root.store.lastRefreshTime, "H:mm") : ""
                font.pixelSize: 10
                opacity: 0.6
            }
            IconButton {
                objectName: "refreshButton"
                iconName: "view-refresh"
                tip: qsTr("今すぐ更新")
                onClicked: root.store.requestRefresh()
            }
        }

        Banner {
            objectName: "configBanner"
            visible: root.store.configFaultText !== ""
            Layout.fillWidth: true
            accent: "#ff3b30"
            backgroundOpacity: 0.10
            iconName: "dialog-warning"
            title: qsTr("設定ファイルに誤りがあります")
            detail: root.store.configFaultText
            wrapDetail: true
            buttonText: root.store.configRestoreText
            onActivated: root.store.requestRestoreConfig()
        }

        Banner {
            objectName: "keychainBanner"
            visible: !root.store.keychainConnected
            Layout.fillWidth: true
            accent: "#ff9500"
            backgroundOpacity: 0.12
            iconName: "changes-prevent"
            title: DesktopWords.text.disconnected
            detail: qsTr("接続すると認証して使用量を読み込みます")
            buttonText: qsTr("接続")
            onActivated: root.store.requestConnectKeychain()
        }

        Banner {
            objectName: "enrollBanner"
            visible: root.store.pendingEnrollEmailText !== ""
            Layout.fillWidth: true
            accent: "#007aff"
            backgroundOpacity: 0.10
            iconName: "list-add-user"
            title: qsTr("新しいアカウントを検出")
            detail: root.store.pendingEnrollEmailText
            buttonText: qsTr("登録")
            onActivated: root.store.requestEnroll()
        }

        Column {
            id: list
            objectName: "profileList"
            Layout.fillWidth: true
            spacing: 8

            Repeater {
                model: root.profiles
                delegate: ProfileSection {
                    width: list.width
                    opacity: root.draggingId === profileId ? 0.4 : 1
                    onSwitchRequested: root.store.requestSwitch(profileId)
                    onCaptureRequested: root.store.requestCapture(profileId)
                    onSettingsRequested: root.actions.openSettings()
                    onMoveRequested: (by) => root.store.moveProfileBy(profileId, by)
                    onDragStarted: root.draggingId = profileId
                    onDragMoved: (point) => root.dragOver(point)
                    onDragEnded: root.drop()
                }
            }
        }

        Label {
            objectName: "messageLabel"
            visible: text !== ""
            text: root.store.lastActionMessageText
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            font.pixelSize: 10
            opacity: 0.6
        }

        Rectangle {
            Layout.fillWidth: true
            height: 1
            color: palette.text
            opacity: 0.15
        }

        RowLayout {
            Layout.fillWidth: true
            SmallButton {
                objectName: "historyButton"
                text: qsTr("履歴…")
                onClicked: root.actions.openHistory()
            }
            SmallButton {
                objectName: "settingsButton"
                text: qsTr("設定…")
                onClicked: root.actions.openSettings()
            }
            Item { Layout.fillWidth: true }
            SmallButton {
                objectName: "quitButton"
                text: qsTr("終了")
                onClicked: root.actions.quit()
            }
        }
    }

    // A dragged row passes over another: the list reorders live (saved on drop).
    function dragOver(point) {
        if (root.draggingId === "")
            return
        const local = list.mapFromItem(root, point.x, point.y)
        const over = list.childAt(local.x, local.y)
        if (over && over.profileId !== undefined && over.profileId !== root.draggingId)
            root.store.moveProfileBefore(root.draggingId, over.profileId)
    }

    function drop() {
        if (root.draggingId === "")
            return
        root.store.saveNowForDrop()
        root.draggingId = ""
    }
}
