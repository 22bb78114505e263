import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One menu-bar metric: on/off, its glyph style (tiles drawn by the tray's own painter) and, for
// the session metric, the time-left badge.
Card {
    id: card
    property string icon
    property color tint
    property string title
    property string subtitle
    property bool enabledValue
    property string styleValue
    property bool hasRemaining: false
    property bool remainingValue: false
    property var settings
    signal enabledEdited(bool on)
    signal styleEdited(string style)
    signal remainingEdited(bool on)
    spacing: 12

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        Image {
            source: "image://icon/" + card.icon + "?" + card.tint
            sourceSize.width: 20
            sourceSize.height: 20
        }
        ColumnLayout {
            spacing: 1
            Label { text: card.title; font.pixelSize: 13; font.bold: true }
            Label { text: card.subtitle; font.pixelSize: 11; opacity: 0.6 }
        }
        Item { Layout.fillWidth: true }
        Switch {
            objectName: "metricSwitch"
            Accessible.name: card.title
            checked: card.enabledValue
            onToggled: card.enabledEdited(checked)
        }
    }
    Rectangle { visible: card.enabledValue; Layout.fillWidth: true; height: 1; opacity: 0.15; color: palette.text }
    Label { visible: card.enabledValue; text: qsTr("アイコンスタイル"); font.pixelSize: 11; opacity: 0.6 }
    Flow {
        objectName: "stylePicker"
        visible: card.enabledValue
        Layout.fillWidth: true
        spacing: 8
        Repeater {
            model: card.settings.styles
            delegate: Rectangle {
                objectName: "styleTile"
                Accessible.role: Accessible.RadioButton
                Accessible.name: card.settings.styleNames[index]
                Accessible.checkable: true
                Accessible.checked: chosen
                Accessible.onPressAction: card.styleEdited(modelData)
                activeFocusOnTab: true
                Keys.onSpacePressed: card.styleEdited(modelData)
                required property int index
                required property string modelData
                readonly property bool chosen: modelData === card.styleValue
                width: 82
                height: 62
                radius: 8
                color: chosen ? Qt.rgba(0, 0.48, 1, 0.15) : Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.04)
                border.width: chosen ? 1.5 : 1
                border.color: chosen ? "#007aff" : Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.10)
                Column {
                    anchors.centerIn: parent
                    spacing: 8
                    Item {
                        width: 74
                        height: 22
                        Image {
                            anchors.centerIn: parent
                            source: "image://glyph/tile/" + modelData
                        }
                    }
                    Label {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: card.settings.styleNames[index]
                        font.pixelSize: 10
                        opacity: parent.parent.chosen ? 1 : 0.6
                    }
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: card.styleEdited(modelData)
                }
            }
        }
    }
    Rectangle { visible: card.enabledValue && card.hasRemaining; Layout.fillWidth: true; height: 1; opacity: 0.15; color: palette.text }
    RowLayout {
        visible: card.enabledValue && card.hasRemaining
        Layout.fillWidth: true
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1
            Label { text: qsTr("次のセッションまでの時間を表示"); font.pixelSize: 12 }
            Label { text: qsTr("アイコンに残り時間（例: →2H）を表示"); font.pixelSize: 10; opacity: 0.6 }
        }
        Switch {
            objectName: "remainingSwitch"
            Accessible.name: qsTr("次のセッションまでの時間を表示")
            checked: card.remainingValue
            onToggled: card.remainingEdited(checked)
        }
    }
}
