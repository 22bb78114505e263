import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One profile: colour dot, name, badges, e-mail, reorder arrows, the switch button; then its
// reading (window cells), its error, or "読み込み中…". The model's roles are its properties.
Rectangle {
    id: section
    objectName: "profileSection"

    required property string profileId
    required property string name
    required property string provider
    required property string profileColor
    required property string email
    required property bool isActive
    required property bool hasSlot
    required property bool isDuplicate
    required property bool isFirst
    required property bool isLast
    required property string statusKind
    required property string message
    required property var windows

    signal switchRequested()
    signal captureRequested()
    signal settingsRequested()
    signal moveRequested(int by)
    signal dragStarted()
    signal dragMoved(point point)   // in the popover's coordinates
    signal dragEnded()

    readonly property color tint: profileColor
    readonly property string switchTip: isActive ? qsTr("使用中のアカウントです")
                                      : hasSlot ? qsTr("このアカウントに切り替え")
                                                : qsTr("未取り込みのため切替できません")

    // The address sits in the header when all of it fits beside the rest, else on a line of its
    // own under it (cut in the middle only when even that line is too narrow): a short address is
    // never cut. The header's label always takes the room that is left, so whether the address
    // fits there is what the layout itself measured.
    readonly property bool emailInline: email !== "" && !inlineEmail.truncated

    implicitHeight: content.implicitHeight + 16
    radius: 10
    color: isActive ? Qt.rgba(tint.r, tint.g, tint.b, 0.13) : "transparent"
    border.width: isActive ? 1 : 0
    border.color: Qt.rgba(tint.r, tint.g, tint.b, 0.35)

    // Press and move to drag the row; the popover reorders the list as it passes other rows.
    MouseArea {
        id: dragArea
        anchors.fill: parent
        preventStealing: true
        property point pressedAt
        property bool dragging: false
        onPressed: (mouse) => { pressedAt = Qt.point(mouse.x, mouse.y); dragging = false }
        onPositionChanged: (mouse) => {
            if (!dragging && Math.abs(mouse.y - pressedAt.y) + Math.abs(mouse.x - pressedAt.x) > 6) {
                dragging = true
                section.dragStarted()
            }
            if (dragging)
                section.dragMoved(mapToItem(null, mouse.x, mouse.y))
        }
        onReleased: {
            if (dragging)
                section.dragEnded()
            dragging = false
        }
        onPressAndHold: (mouse) => {
            if (!dragging)
                section.openMenu(mouse.x, mouse.y)
        }
        onCanceled: {
            if (dragging)
                section.dragEnded()
            dragging = false
        }
    }

    // A Claude row's own menu (right click, the Menu key, a long press): capture the live login
    // into this profile, switch to it, or open the settings.
    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: (eventPoint) => section.openMenu(eventPoint.position.x, eventPoint.position.y)
    }
    activeFocusOnTab: section.provider !== "codex"
    Accessible.role: Accessible.Grouping
    Accessible.name: section.name
    Keys.onMenuPressed: section.openMenu(16, 16)
    function openMenu(x, y) {
        if (section.provider === "codex")
            return
        profileMenu.popup(section, x, y)
    }
    Menu {
        id: profileMenu
        objectName: "profileMenu"
        MenuItem {
            objectName: "captureItem"
            text: qsTr("現在のログインをここに取り込む")
            onTriggered: section.captureRequested()
        }
        MenuItem {
            objectName: "switchItem"
            text: qsTr("切替")
            enabled: !section.isActive && section.hasSlot
            onTriggered: section.switchRequested()
        }
        MenuItem {
            objectName: "settingsItem"
            text: qsTr("設定…")
            onTriggered: section.settingsRequested()
        }
    }

    ColumnLayout {
        id: content
        x: 8
        y: 8
        width: section.width - 16
        spacing: 6

        RowLayout {
            id: header
            Layout.fillWidth: true
            spacing: 6
            Rectangle {
                width: 8
                height: 8
                radius: 4
                color: section.tint
            }
            Label {
                objectName: "nameLabel"
                text: section.name
                font.pixelSize: 12
                font.bold: true
            }
            Rectangle {
                objectName: "providerBadge"
                implicitWidth: providerRow.implicitWidth + 8
                implicitHeight: providerRow.implicitHeight + 2
                radius: height / 2
                color: Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.06)
                Row {
                    id: providerRow
                    anchors.centerIn: parent
                    spacing: 2
                    Image {
                        anchors.verticalCenter: parent.verticalCenter
                        source: "image://icon/" + (section.provider === "codex" ? "text-x-script" : "starred")
                                + "?" + palette.text
                        sourceSize.width: 8
                        sourceSize.height: 8
                        opacity: 0.6
                    }
                    Label {
                        objectName: "providerLabel"
                        anchors.verticalCenter: parent.verticalCenter
                        text: section.provider === "codex" ? "Codex" : "Claude"
                        font.pixelSize: 9
                        font.weight: Font.Medium
                        opacity: 0.6
                    }
                }
            }
            Badge {
                objectName: "activeBadge"
                visible: section.isActive
                text: qsTr("使用中")
                accent: section.tint
                backgroundOpacity: 0.25
            }
            Badge {
                objectName: "duplicateBadge"
                visible: section.isDuplicate
                text: qsTr("重複")
                accent: "#ff9500"
                backgroundOpacity: 0.20
            }
            Label {
                id: inlineEmail
                objectName: "emailLabel"
                text: section.email
                font.pixelSize: 10
                opacity: section.emailInline ? 0.6 : 0
                Accessible.ignored: !section.emailInline
                elide: Text.ElideMiddle
                Layout.fillWidth: true
            }
            IconButton {
                objectName: "upButton"
                iconName: "go-up"
                tip: qsTr("上へ移動")
                iconSize: 9
                enabled: !section.isFirst
                opacity: enabled ? 0.6 : 0.25
                onClicked: section.moveRequested(-1)
            }
            IconButton {
                objectName: "downButton"
                iconName: "go-down"
                tip: qsTr("下へ移動")
                iconSize: 9
                enabled: !section.isLast
                opacity: enabled ? 0.6 : 0.25
                onClicked: section.moveRequested(1)
            }
            SmallButton {
                objectName: "switchButton"
                visible: section.provider !== "codex"
                text: qsTr("切替")
                Accessible.description: section.switchTip
                enabled: !section.isActive && section.hasSlot
                onClicked: section.switchRequested()
                ToolTip.text: section.switchTip
                ToolTip.visible: switchHover.hovered
                ToolTip.delay: 600
                // A disabled button gets no hover of its own: the tip shows all the same.
                HoverHandler { id: switchHover }
            }
        }

        Label {
            objectName: "emailBelowLabel"
            visible: section.email !== "" && inlineEmail.truncated
            text: section.email
            font.pixelSize: 10
            opacity: 0.6
            elide: Text.ElideMiddle
            Layout.fillWidth: true
            Layout.topMargin: -4
        }

        Label {
            objectName: "loadingLabel"
            visible: section.statusKind === "none"
            text: qsTr("読み込み中…")
            font.pixelSize: 11
            opacity: 0.6
        }

        // Why it could not be read: instead of a reading, or under the one kept from before.
        RowLayout {
            visible: section.message !== ""
            Layout.fillWidth: true
            spacing: 4
            Image {
                Layout.alignment: Qt.AlignTop
                source: "image://icon/dialog-warning?#ff9500"
                sourceSize.width: 12
                sourceSize.height: 12
            }
            Label {
                objectName: "errorLabel"
                text: section.message
                color: "#ff9500"
                font.pixelSize: 11
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
        }

        RowLayout {
            visible: section.statusKind === "ok"
            Layout.fillWidth: true
            spacing: 8
            Repeater {
                model: section.statusKind === "ok" ? section.windows : []
                delegate: WindowCell {
                    Layout.fillWidth: true
                    Layout.preferredWidth: 1
                    Layout.alignment: Qt.AlignTop
                    cell: modelData
                    tint: section.tint
                }
            }
        }
    }
}
