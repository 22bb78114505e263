import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A call to action above the profile list: icon, two lines of text, one small button.
Rectangle {
    id: banner
    property color accent
    property real backgroundOpacity
    property string iconName
    property string title
    property string detail
    property string buttonText
    signal activated()

    implicitHeight: row.implicitHeight + 16
    radius: 8
    color: Qt.rgba(accent.r, accent.g, accent.b, backgroundOpacity)

    RowLayout {
        id: row
        x: 8
        y: 8
        width: banner.width - 16
        spacing: 8
        Image {
            source: "image://icon/" + banner.iconName + "?" + banner.accent
            sourceSize.width: 18
            sourceSize.height: 18
        }
        ColumnLayout {
            spacing: 1
            Layout.fillWidth: true
            Label {
                text: banner.title
                font.pixelSize: 11
                font.bold: true
            }
            Label {
                text: banner.detail
                font.pixelSize: 10
                opacity: 0.6
                elide: Text.ElideMiddle
                Layout.fillWidth: true
            }
        }
        SmallButton {
            objectName: "bannerButton"
            text: banner.buttonText
            onClicked: banner.activated()
        }
    }
}
