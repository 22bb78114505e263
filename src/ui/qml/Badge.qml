import QtQuick
import QtQuick.Controls

// A small word on a capsule of its own colour.
Rectangle {
    id: badge
    property alias text: label.text
    property color accent
    property real backgroundOpacity
    implicitWidth: label.implicitWidth + 10
    implicitHeight: label.implicitHeight + 2
    radius: height / 2
    color: Qt.rgba(accent.r, accent.g, accent.b, backgroundOpacity)
    Label {
        id: label
        anchors.centerIn: parent
        color: badge.accent
        font.pixelSize: 9
        font.weight: Font.DemiBold
    }
}
