import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import MeterKeeper

// The settings: profiles, menu-bar metrics, automatic switching, general options.
Rectangle {
    id: root
    objectName: "settingsRoot"
    required property var store      // the UsageStore
    required property var profiles   // its ProfileListModel
    required property var settings   // SettingsModel

    property string selection: "profiles"
    width: 720
    height: 560
    color: palette.window

    readonly property var categories: [
        { key: "profiles", title: qsTr("プロファイル"), icon: "system-users" },
        { key: "menubar", title: DesktopWords.text.trayPage, icon: "view-list-details" },
        { key: "autoswitch", title: qsTr("自動切替"), icon: "view-refresh" },
        { key: "general", title: qsTr("一般"), icon: "preferences-system" }
    ]

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            Layout.preferredWidth: 180
            Layout.fillHeight: true
            color: Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.04)
            Column {
                x: 8
                y: 12
                width: parent.width - 16
                spacing: 2
                Repeater {
                    model: root.categories
                    delegate: Rectangle {
                        objectName: "category_" + modelData.key
                        required property var modelData
                        Accessible.role: Accessible.PageTab
                        Accessible.name: modelData.title
                        Accessible.checkable: true
                        Accessible.checked: root.selection === modelData.key
                        Accessible.onPressAction: root.selection = modelData.key
                        activeFocusOnTab: true
                        Keys.onSpacePressed: root.selection = modelData.key
                        width: parent.width
                        height: 28
                        radius: 6
                        color: root.selection === modelData.key ? Qt.rgba(0, 0.48, 1, 0.18) : "transparent"
                        Row {
                            x: 8
                            anchors.verticalCenter: parent.verticalCenter
                            spacing: 8
                            Image {
                                anchors.verticalCenter: parent.verticalCenter
                                source: "image://icon/" + modelData.icon + "?" + palette.text
                                sourceSize.width: 14
                                sourceSize.height: 14
                            }
                            Label {
                                text: modelData.title
                                font.pixelSize: 13
                            }
                        }
                        MouseArea {
                            anchors.fill: parent
                            onClicked: root.selection = modelData.key
                        }
                    }
                }
            }
        }

        ScrollView {
            id: scroller
            Layout.fillWidth: true
            Layout.fillHeight: true
            contentWidth: availableWidth
            clip: true

            Loader {
                objectName: "page"
                x: 18
                width: scroller.availableWidth - 36
                sourceComponent: root.selection === "profiles" ? profilesPage
                               : root.selection === "menubar" ? menubarPage
                               : root.selection === "autoswitch" ? autoswitchPage : generalPage
            }
        }
    }

    // A slider's value on its steps (keyboard steps do not snap by themselves).
    function snapped(value, from, step) {
        return from + Math.round((value - from) / step) * step
    }

    component Title: Label {
        font.pixelSize: 17
        font.bold: true
    }
    component Note: Label {
        Layout.fillWidth: true
        wrapMode: Text.Wrap
        font.pixelSize: 11
        opacity: 0.6
    }

    Component {
        id: profilesPage
        ColumnLayout {
            objectName: "profilesPage"
            spacing: 12
            Item { height: 6 }
            Title { text: qsTr("プロファイル") }
            Card {
                inset: 12
                radius: 10
                fill: Qt.rgba(0.2, 0.78, 0.35, 0.08)
                RowLayout {
                    spacing: 8
                    Image {
                        source: "image://icon/user-identity?#34c759"
                        sourceSize.width: 20
                        sourceSize.height: 20
                    }
                    ColumnLayout {
                        spacing: 1
                        Label { text: qsTr("現在 claude にログイン中"); font.pixelSize: 11; opacity: 0.6 }
                        TextEdit {
                            objectName: "liveEmail"
                            readOnly: true
                            selectByMouse: true
                            text: root.settings.liveEmail !== "" ? root.settings.liveEmail : qsTr("（未ログイン / 取得できません）")
                            font.pixelSize: 13
                            font.bold: true
                            color: palette.text
                        }
                    }
                    Item { Layout.fillWidth: true }
                    IconButton {
                        iconName: "view-refresh"
                        tip: qsTr("現在のログインを再確認")
                        onClicked: root.settings.recheckLiveLogin()
                    }
                }
            }
            Note {
                text: DesktopWords.text.profilesNote
            }
            Repeater {
                model: root.profiles
                delegate: ProfileRow {
                    Layout.fillWidth: true
                    settings: root.settings
                }
            }
            Note {
                objectName: "settingsMessage"
                visible: text !== ""
                text: root.store.lastActionMessageText
            }
            RowLayout {
                SmallButton {
                    objectName: "addClaude"
                    text: qsTr("＋ Claude を追加")
                    onClicked: root.settings.addProfile("claude")
                }
                SmallButton {
                    objectName: "addCodex"
                    text: qsTr("＋ Codex を追加")
                    onClicked: root.settings.addProfile("codex")
                }
            }
            Item { height: 12 }
        }
    }

    Component {
        id: menubarPage
        ColumnLayout {
            objectName: "menubarPage"
            spacing: 12
            Item { height: 6 }
            Title { text: DesktopWords.text.trayMetricsTitle }
            Note { text: DesktopWords.text.trayMetricsNote }
            Card {
                inset: 12
                radius: 10
                RowLayout {
                    spacing: 10
                    Label { text: qsTr("プレビュー"); font.pixelSize: 11; opacity: 0.6 }
                    Rectangle {
                        implicitWidth: preview.width + 16
                        implicitHeight: preview.height + 8
                        radius: 6
                        color: Qt.rgba(0, 0, 0, 0.85)
                        Image {
                            id: preview
                            objectName: "preview"
                            x: 8
                            y: 4
                            cache: false
                            source: "image://glyph/label/" + root.settings.previewRevision
                        }
                    }
                }
            }
            MetricCard {
                objectName: "sessionCard"
                icon: "appointment-soon"
                tint: "#ff9500"
                title: "Session Usage"
                subtitle: qsTr("5時間ローリングウィンドウ")
                enabledValue: root.settings.menuSessionEnabled
                styleValue: root.settings.menuSessionStyle
                hasRemaining: true
                remainingValue: root.settings.menuSessionShowRemaining
                settings: root.settings
                onEnabledEdited: (on) => root.settings.menuSessionEnabled = on
                onStyleEdited: (style) => root.settings.menuSessionStyle = style
                onRemainingEdited: (on) => root.settings.menuSessionShowRemaining = on
            }
            MetricCard {
                objectName: "weekCard"
                icon: "x-office-calendar"
                tint: "#af52de"
                title: "Week Usage"
                subtitle: qsTr("週間使用量（全モデル）")
                enabledValue: root.settings.menuWeekEnabled
                styleValue: root.settings.menuWeekStyle
                settings: root.settings
                onEnabledEdited: (on) => root.settings.menuWeekEnabled = on
                onStyleEdited: (style) => root.settings.menuWeekStyle = style
            }
            Item { height: 12 }
        }
    }

    Component {
        id: autoswitchPage
        ColumnLayout {
            objectName: "autoswitchPage"
            spacing: 12
            Item { height: 6 }
            Title { text: qsTr("自動切替") }
            Note { text: qsTr("使用中の口座のセッション使用率が閾値を超えたら、別の口座へ自動でログインを切り替えます。切替は次に起動する claude から有効です。") }
            Card {
                spacing: 12
                Switch {
                    objectName: "autoSwitch"
                    text: qsTr("セッション満杯で自動切替")
                    checked: root.settings.autoSwitchEnabled
                    onToggled: root.settings.autoSwitchEnabled = checked
                }
                Rectangle { visible: root.settings.autoSwitchEnabled; Layout.fillWidth: true; height: 1; opacity: 0.15; color: palette.text }
                ColumnLayout {
                    visible: root.settings.autoSwitchEnabled
                    spacing: 4
                    Layout.fillWidth: true
                    Label {
                        objectName: "thresholdLabel"
                        text: qsTr("しきい値: %1%").arg(Math.floor(root.settings.autoSwitchThreshold))
                    }
                    Slider {
                        objectName: "thresholdSlider"
                        Accessible.name: qsTr("しきい値")
                        Layout.fillWidth: true
                        from: 80
                        to: 100
                        stepSize: 5
                        snapMode: Slider.SnapAlways
                        value: root.settings.autoSwitchThreshold
                        onMoved: root.settings.autoSwitchThreshold = root.snapped(value, from, stepSize)
                    }
                    Label { text: qsTr("この使用率を超えたら切替を発動"); font.pixelSize: 10; opacity: 0.6 }
                }
            }
            Card {
                Label { text: qsTr("切替先の優先順位"); font.bold: true }
                Note { text: qsTr("上から順に、空いている（しきい値未満の）最初の Claude 口座へ切り替えます。順番は「プロファイル」画面の ▲▼ で変更できます。"); font.pixelSize: 10 }
                Repeater {
                    objectName: "priorityList"
                    model: root.profiles
                    delegate: RowLayout {
                        objectName: "priorityRow"
                        required property string name
                        required property string provider
                        required property string profileColor
                        required property bool hasIdentity
                        required property int claudePosition
                        visible: provider === "claude"
                        spacing: 8
                        Label {
                            objectName: "priorityNumber"
                            Layout.preferredWidth: 16
                            text: parent.claudePosition
                            font.bold: true
                            opacity: 0.6
                        }
                        Rectangle { width: 8; height: 8; radius: 4; color: parent.profileColor }
                        Label { text: parent.name }
                        Label {
                            visible: !parent.hasIdentity
                            text: qsTr("要取り込み")
                            font.pixelSize: 10
                            color: "#ff9500"
                        }
                    }
                }
            }
            Card {
                Switch {
                    objectName: "forecastSwitch"
                    text: qsTr("上限が近づいたら通知")
                    checked: root.settings.forecastNotify
                    onToggled: root.settings.forecastNotify = checked
                }
                Note {
                    text: qsTr("使用中の口座のセッションが、このペースだと 30 分以内に上限に達しそうなときに一度だけ通知します。")
                    font.pixelSize: 10
                }
            }
            Item { height: 12 }
        }
    }

    Component {
        id: generalPage
        ColumnLayout {
            objectName: "generalPage"
            spacing: 12
            Item { height: 6 }
            Title { text: qsTr("一般") }
            Card {
                RowLayout {
                    Layout.fillWidth: true
                    ColumnLayout {
                        Layout.fillWidth: true
                        Label {
                            objectName: "keychainState"
                            text: root.settings.keychainConnected ? DesktopWords.text.connected : DesktopWords.text.disconnected
                            color: root.settings.keychainConnected ? "#34c759" : "#ff9500"
                            font.bold: true
                        }
                        Note { text: DesktopWords.text.disconnectedNote; font.pixelSize: 10 }
                    }
                    SmallButton {
                        objectName: "keychainButton"
                        text: root.settings.keychainConnected ? qsTr("切断") : qsTr("接続")
                        highlighted: !root.settings.keychainConnected
                        onClicked: root.settings.keychainConnected ? root.settings.disconnectKeychain()
                                                                   : root.settings.connectKeychain()
                    }
                }
            }
            Card {
                Switch {
                    objectName: "launchAtLogin"
                    text: qsTr("ログイン時に起動")
                    checked: root.settings.launchAtLogin
                    onToggled: {
                        root.settings.setLaunchAtLogin(checked)
                        checked = Qt.binding(() => root.settings.launchAtLogin)
                    }
                }
                Note { text: qsTr("デスクトップにログインすると自動的に MeterKeeper を起動します"); font.pixelSize: 10 }
                Label {
                    objectName: "launchError"
                    visible: root.settings.launchError !== ""
                    text: root.settings.launchError
                    color: "#ff9500"
                    font.pixelSize: 10
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
            }
            Card {
                Label { text: "言語 / Language" }
                Segmented {
                    objectName: "languagePicker"
                    Accessible.name: "言語 / Language"
                    readonly property var values: ["auto", "ja", "en"]
                    model: [qsTr("自動"), "日本語", "English"]
                    current: values.indexOf(root.settings.language)
                    onPicked: (i) => root.settings.language = values[i]
                }
                Note { text: qsTr("次回の起動から反映されます"); font.pixelSize: 10 }
            }
            Card {
                Label { text: qsTr("更新間隔") }
                RowLayout {
                    Layout.fillWidth: true
                    Slider {
                        objectName: "intervalSlider"
                        Accessible.name: qsTr("更新間隔")
                        Layout.fillWidth: true
                        from: 30
                        to: 600
                        stepSize: 30
                        snapMode: Slider.SnapAlways
                        value: root.settings.pollIntervalSec
                        onMoved: root.settings.pollIntervalSec = root.snapped(value, from, stepSize)
                    }
                    Label {
                        objectName: "intervalLabel"
                        Layout.preferredWidth: 56
                        horizontalAlignment: Text.AlignRight
                        text: qsTr("%1秒").arg(Math.floor(root.settings.pollIntervalSec))
                    }
                }
            }
            Card {
                Switch {
                    objectName: "liveLogin"
                    text: qsTr("Claude のライブログインを自動読み取り")
                    checked: root.settings.autoReadLiveClaude
                    onToggled: root.settings.autoReadLiveClaude = checked
                }
                Note {
                    font.pixelSize: 10
                    text: root.settings.autoReadLiveClaude
                          ? DesktopWords.text.liveLoginOn
                          : DesktopWords.text.liveLoginOff
                }
            }
            Item { height: 12 }
        }
    }
}
