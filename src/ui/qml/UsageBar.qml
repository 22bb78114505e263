import QtQuick

// The gauge of a window cell: track, fill in the level colour, elapsed marker.
Item {
    id: bar
    objectName: "usageBar"
    property real utilization
    property real elapsed: -1   // none when negative
    property color tint
    readonly property color fillColor: utilization >= 90 ? "#ff3b30" : utilization >= 70 ? "#ff9500" : tint
    implicitHeight: 13

    Rectangle {
        y: 3
        width: bar.width
        height: 7
        radius: 3.5
        color: Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.12)
    }
    Rectangle {
        objectName: "usageFill"
        y: 3
        width: Math.max(3, bar.width * Math.min(bar.utilization, 100) / 100)
        height: 7
        radius: 3.5
        color: bar.fillColor
    }
    Rectangle {
        objectName: "elapsedMarker"
        visible: bar.elapsed >= 0
        x: Math.min(bar.width * bar.elapsed, bar.width - 1.5)
        width: 1.5
        height: 13
        radius: 0.75
        color: Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.7)
    }
}
