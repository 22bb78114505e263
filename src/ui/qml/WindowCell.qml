import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One usage window: its short label, the percentage (orange when ahead of pace), the gauge and
// the time left.
ColumnLayout {
    id: windowCell
    objectName: "windowCell"
    property var cell
    property color tint
    readonly property string key: cell ? cell.key : ""
    // When the window fills at its recent pace, if before its reset.
    readonly property string forecast: cell && cell.forecast ? cell.forecast : ""
    spacing: 3

    HoverHandler { id: hover }
    ToolTip.text: windowCell.forecast
    ToolTip.visible: hover.hovered && windowCell.forecast !== ""
    ToolTip.delay: 400

    Label {
        text: windowCell.cell.label
        Layout.fillWidth: true
        horizontalAlignment: Text.AlignHCenter
        font.pixelSize: 10
        elide: Text.ElideRight
        opacity: 0.6
    }
    Label {
        objectName: "percentLabel"
        text: windowCell.cell.percentText
        Layout.alignment: Qt.AlignHCenter
        font.pixelSize: 14
        font.weight: Font.DemiBold
        color: windowCell.cell.aheadOfPace ? "#ff9500" : palette.text
    }
    UsageBar {
        Layout.fillWidth: true
        utilization: windowCell.cell.utilization
        elapsed: windowCell.cell.elapsed
        tint: windowCell.tint
    }
    Label {
        objectName: "remainingLabel"
        visible: windowCell.cell.remaining !== ""
        text: windowCell.cell.remaining
        Layout.alignment: Qt.AlignHCenter
        font.pixelSize: 9
        opacity: 0.45
    }
}
