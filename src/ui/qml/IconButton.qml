import QtQuick
import QtQuick.Controls

// A borderless button showing one icon, with a tooltip.
ToolButton {
    id: button
    property string iconName
    property string tip
    property int iconSize: 14
    flat: true
    padding: 2
    implicitWidth: iconSize + 8
    implicitHeight: iconSize + 8
    icon.source: "image://icon/" + iconName
    icon.width: iconSize
    icon.height: iconSize
    icon.color: "transparent"
    ToolTip.text: tip
    ToolTip.visible: hovered && tip !== ""
    ToolTip.delay: 600
}
