import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import MeterKeeper

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
            Accessible.name: qsTr("ウィンドウ")
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
                Accessible.name: qsTr("期間")
                Layout.preferredWidth: Math.max(260, implicitWidth) // English names are longer
                model: root.history.rangeLabels
                current: root.history.ranges.indexOf(root.history.range)
                onPicked: (i) => root.history.range = root.history.ranges[i]
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            UsageChart {
                objectName: "chart"
                anchors.fill: parent
                visible: !(root.history.loaded && root.history.empty)
                history: root.history
                font.pixelSize: 10
                textColor: palette.text
                gridColor: Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.1)
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
                    text: qsTr("履歴がまだありません")
                    font.pixelSize: 17
                    font.bold: true
                }
                Label {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: qsTr("接続して使用量を取得すると、更新間隔ごとに自動記録されます")
                    font.pixelSize: 12
                    opacity: 0.6
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            Label {
                text: qsTr("現在")
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

    Component.onCompleted: root.history.reload()
}
