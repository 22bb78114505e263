import QtQuick
import QtQuick.Controls

// A small push button, as wide as its text. Assistive tools press it as a click does.
Button {
    id: button
    Accessible.name: text
    Accessible.onPressAction: if (button.enabled) button.clicked()
    font.pixelSize: 11
    topPadding: 3
    bottomPadding: 3
    leftPadding: 9
    rightPadding: 9
    implicitWidth: contentItem.implicitWidth + leftPadding + rightPadding
    implicitHeight: contentItem.implicitHeight + topPadding + bottomPadding
}
