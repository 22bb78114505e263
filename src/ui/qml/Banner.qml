import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A call to action above the profile list: icon, a title and a detail line, one small button
// beside them (none without `buttonText`). With `wrapDetail` the detail runs over as many lines as
// it needs and the button goes below it.
Rectangle {
    id: banner
    property color accent
    property real backgroundOpacity
    property string iconName
    property string title
    property string detail
    property string buttonText
    property bool wrapDetail: false
    signal activated()

    implicitHeight: row.implicitHeight + 16
    radius: 8
    color: Qt.rgba(accent.r, accent.g, accent.b, backgroundOpacity)

    GridLayout {
        id: row
        x: 8
        y: 8
        width: banner.width - 16
        columnSpacing: 8
        rowSpacing: 6
        Image {
            Layout.row: 0
            Layout.column: 0
            Layout.alignment: banner.wrapDetail ? Qt.AlignTop : Qt.AlignVCenter
            source: "image://icon/" + banner.iconName + "?" + banner.accent
            sourceSize.width: 18
            sourceSize.height: 18
        }
        ColumnLayout {
            spacing: 1
            Layout.row: 0
            Layout.column: 1
            Layout.fillWidth: true
            Label {
                text: banner.title
                font.pixelSize: 11
                font.bold: true
            }
            Label {
                objectName: "bannerDetail"
                text: banner.detail
                font.pixelSize: 10
                opacity: 0.6
                elide: banner.wrapDetail ? Text.ElideNone : Text.ElideMiddle
                wrapMode: banner.wrapDetail ? Text.Wrap : Text.NoWrap
                Layout.fillWidth: true
            }
        }
        SmallButton {
            objectName: "bannerButton"
            visible: banner.buttonText !== ""
            Layout.row: banner.wrapDetail ? 1 : 0
            Layout.column: banner.wrapDetail ? 1 : 2
            Layout.alignment: banner.wrapDetail ? Qt.AlignRight : Qt.AlignVCenter
            text: banner.buttonText
            onClicked: banner.activated()
        }
    }
}
