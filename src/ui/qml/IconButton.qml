import QtQuick
import QtQuick.Controls

// A borderless button showing one of our symbols, with a tooltip (also its accessible name).
ToolButton {
    id: button
    property string iconName
    property string tip
    property int iconSize: 14
    flat: true
    padding: 2
    implicitWidth: iconSize + 8
    implicitHeight: iconSize + 8
    // Our own symbol in the text colour of the palette: legible on light and dark themes alike.
    icon.source: "image://icon/" + iconName + "?" + palette.buttonText
    icon.width: iconSize
    icon.height: iconSize
    icon.color: "transparent"
    Accessible.name: tip
    Accessible.description: tip
    Accessible.onPressAction: if (button.enabled) button.clicked()
    ToolTip.text: tip
    ToolTip.visible: hovered && tip !== ""
    ToolTip.delay: 600
}
