import QtQuick
import QtQuick.Layouts

// A settings card: content inset by 14 points on a rounded rectangle.
Rectangle {
    id: card
    default property alias content: column.data
    property alias spacing: column.spacing
    property real inset: 14
    property color fill: Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.05)
    Layout.fillWidth: true
    implicitHeight: column.implicitHeight + 2 * inset
    radius: 12
    color: fill
    ColumnLayout {
        id: column
        x: card.inset
        y: card.inset
        width: card.width - 2 * card.inset
        spacing: 8
    }
}
