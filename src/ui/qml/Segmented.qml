import QtQuick
import QtQuick.Controls

// A segmented control: one segment per text, exactly one chosen. To assistive tools and the
// keyboard each segment is a radio button (Tab reaches it, Space picks it).
Rectangle {
    id: control
    property var model: []
    property int current: 0
    signal picked(int index)

    implicitWidth: row.implicitWidth + 4
    implicitHeight: 26
    radius: 6
    color: Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.08)

    Row {
        id: row
        x: 2
        y: 2
        height: control.height - 4
        Repeater {
            model: control.model
            delegate: Rectangle {
                objectName: "segment"
                Accessible.role: Accessible.RadioButton
                Accessible.name: modelData
                Accessible.checkable: true
                Accessible.checked: chosen
                Accessible.onPressAction: control.picked(index)
                activeFocusOnTab: true
                Keys.onSpacePressed: control.picked(index)
                required property int index
                required property string modelData
                readonly property bool chosen: index === control.current
                width: Math.max(label.implicitWidth + 20, (control.width - 4) / Math.max(1, control.model.length))
                height: row.height
                radius: 5
                color: chosen ? palette.base : "transparent"
                border.width: chosen ? 1 : 0
                border.color: Qt.rgba(0, 0, 0, 0.12)
                Label {
                    id: label
                    anchors.centerIn: parent
                    text: parent.modelData
                    font.pixelSize: 11
                    font.weight: parent.chosen ? Font.DemiBold : Font.Normal
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: control.picked(parent.index)
                }
            }
        }
    }
}
