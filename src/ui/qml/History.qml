import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtCharts

// How one usage window developed: one line per profile over the chosen span, and each profile's
// value now.
Rectangle {
    id: root
    objectName: "historyRoot"
    required property var history   // HistoryModel

    width: 720
    height: 640
    color: palette.window

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 12

        Segmented {
            objectName: "windowPicker"
            Accessible.name: "ウィンドウ"
            model: root.history.keyLabels
            current: root.history.availableKeys.indexOf(root.history.windowKey)
            onPicked: (i) => root.history.windowKey = root.history.availableKeys[i]
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 12
            Repeater {
                objectName: "legend"
                model: root.history.profiles
                delegate: Row {
                    objectName: "legendEntry"
                    required property var modelData
                    spacing: 5
                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 8
                        height: 8
                        radius: 4
                        color: parent.modelData.color
                    }
                    Label {
                        text: parent.modelData.name
                        font.pixelSize: 11
                    }
                }
            }
            Item { Layout.fillWidth: true }
            Segmented {
                objectName: "rangePicker"
                Accessible.name: "期間"
                Layout.preferredWidth: 260
                model: root.history.ranges
                current: root.history.ranges.indexOf(root.history.range)
                onPicked: (i) => root.history.range = root.history.ranges[i]
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            ChartView {
                id: chart
                objectName: "chart"
                anchors.fill: parent
                visible: !(root.history.loaded && root.history.empty)
                legend.visible: false
                // WORKAROUND(QtCharts 6.4, software rendering): antialiased areas over a week or a
                // month of readings take seconds per frame; the short spans keep smooth lines.
                antialiasing: root.history.range === "5時間" || root.history.range === "24時間"
                backgroundColor: "transparent"
                margins { left: 0; right: 0; top: 0; bottom: 0 }

                DateTimeAxis {
                    id: axisX
                    objectName: "axisX"
                    min: root.history.axisMin
                    max: root.history.axisMax
                    // Whole hours or days between the marks: 1 h, 6 h, 1 day, 5 days.
                    tickCount: ({"5時間": 6, "24時間": 5, "7日": 8, "30日": 7})[root.history.range] || 5
                    format: root.history.range === "5時間" || root.history.range === "24時間" ? "H:mm" : "M/d"
                    labelsFont.pixelSize: 10
                    gridLineColor: Qt.rgba(0, 0, 0, 0.08)
                }
                ValueAxis {
                    id: axisY
                    min: 0
                    max: 100
                    tickCount: 5
                    labelFormat: "%.0f%%"
                    labelsFont.pixelSize: 10
                    gridLineColor: Qt.rgba(0, 0, 0, 0.08)
                }
            }

            Column {
                objectName: "emptyState"
                visible: root.history.loaded && root.history.empty
                anchors.centerIn: parent
                spacing: 8
                Image {
                    anchors.horizontalCenter: parent.horizontalCenter
                    source: "image://icon/office-chart-line?" + palette.text
                    sourceSize.width: 36
                    sourceSize.height: 36
                    opacity: 0.5
                }
                Label {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "履歴がまだありません"
                    font.pixelSize: 17
                    font.bold: true
                }
                Label {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "接続して使用量を取得すると、更新間隔ごとに自動記録されます"
                    font.pixelSize: 12
                    opacity: 0.6
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            Label {
                text: "現在"
                font.pixelSize: 11
                opacity: 0.6
            }
            Repeater {
                model: root.history.profiles
                delegate: Row {
                    objectName: "currentEntry"
                    required property var modelData
                    readonly property string value: modelData.current
                    spacing: 4
                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        width: 7
                        height: 7
                        radius: 3.5
                        color: parent.modelData.color
                    }
                    Label {
                        text: parent.modelData.name
                        font.pixelSize: 11
                    }
                    Label {
                        text: parent.modelData.current
                        font.pixelSize: 11
                        font.bold: true
                    }
                }
            }
            Item { Layout.fillWidth: true }
        }
    }

    Connections {
        target: root.history
        function onResultChanged() { root.rebuild() }
    }

    // One translucent area with a 2-point border per profile, filled from C++.
    function rebuild() {
        chart.removeAllSeries()
        const colors = {}
        for (const p of root.history.profiles)
            colors[p.name] = p.color
        for (const name of root.history.seriesNames()) {
            const area = chart.createSeries(ChartView.SeriesTypeArea, name, axisX, axisY)
            const c = Qt.color(colors[name])
            area.color = Qt.rgba(c.r, c.g, c.b, 0.15)
            area.borderColor = c
            area.borderWidth = 2
            root.history.fill(area.upperSeries, name) // styled first: one drawing with the points
        }
    }

    Component.onCompleted: root.history.reload()
}
