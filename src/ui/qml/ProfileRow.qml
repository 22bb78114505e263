import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One profile in the settings: order, colour, name, tool, colour name, delete; its directory;
// its account or "未取り込み", and the capture button (Claude) or where Codex logs are read; for
// Claude, where its usage is read from and whether claude's status line feeds this program.
Rectangle {
    id: row
    objectName: "profileRow"
    required property var settings
    required property string profileId
    required property string name
    required property string provider
    required property string colorName
    required property string profileColor
    required property string configDir
    required property string knownEmail
    required property string usageSource
    readonly property var statusLine: settings.statusLine[profileId] || ({})
    required property bool isFirst
    required property bool isLast

    implicitHeight: column.implicitHeight + 20
    radius: 8
    color: Qt.rgba(palette.text.r, palette.text.g, palette.text.b, 0.04)

    ColumnLayout {
        id: column
        x: 10
        y: 10
        width: row.width - 20
        spacing: 6

        RowLayout {
            spacing: 8
            ColumnLayout {
                spacing: 0
                IconButton {
                    objectName: "rowUp"
                    iconName: "go-up"
                    tip: qsTr("上へ移動")
                    iconSize: 10
                    enabled: !row.isFirst
                    opacity: enabled ? 0.6 : 0.25
                    onClicked: row.settings.moveProfile(row.profileId, -1)
                }
                IconButton {
                    objectName: "rowDown"
                    iconName: "go-down"
                    tip: qsTr("下へ移動")
                    iconSize: 10
                    enabled: !row.isLast
                    opacity: enabled ? 0.6 : 0.25
                    onClicked: row.settings.moveProfile(row.profileId, 1)
                }
            }
            Rectangle { width: 9; height: 9; radius: 4.5; color: row.profileColor }
            TextField {
                objectName: "nameField"
                Accessible.name: placeholderText
                Layout.preferredWidth: 120
                placeholderText: qsTr("名前")
                text: row.name
                onTextEdited: row.settings.setProfileName(row.profileId, text)
            }
            ComboBox {
                objectName: "providerPicker"
                Accessible.name: qsTr("種類")
                Layout.preferredWidth: 90
                model: ["Claude", "Codex"]
                currentIndex: row.provider === "codex" ? 1 : 0
                onActivated: (i) => row.settings.setProfileProvider(row.profileId, i === 1 ? "codex" : "claude")
            }
            ComboBox {
                objectName: "colorPicker"
                Accessible.name: qsTr("色")
                Layout.preferredWidth: 96
                model: row.settings.colorNames
                currentIndex: row.settings.colorNames.indexOf(row.colorName)
                onActivated: (i) => row.settings.setProfileColor(row.profileId, row.settings.colorNames[i])
            }
            Item { Layout.fillWidth: true }
            IconButton {
                objectName: "deleteButton"
                iconName: "edit-delete"
                tip: qsTr("削除")
                onClicked: row.settings.removeProfile(row.profileId)
            }
        }

        TextField {
            objectName: "directoryField"
            Accessible.name: qsTr("設定ディレクトリ")
            Accessible.description: placeholderText
            Layout.fillWidth: true
            placeholderText: qsTr("設定ディレクトリ（例: ~/.claude, ~/.codex）")
            text: row.configDir
            onTextEdited: row.settings.setProfileDirectory(row.profileId, text)
        }

        RowLayout {
            spacing: 8
            Label {
                objectName: "accountLabel"
                visible: text !== ""
                text: row.knownEmail !== "" ? row.knownEmail : (row.provider === "claude" ? qsTr("未取り込み") : "")
                color: row.knownEmail === "" ? "#ff9500" : palette.text
                opacity: row.knownEmail === "" ? 1 : 0.6
                font.pixelSize: 10
                elide: Text.ElideMiddle
                Layout.maximumWidth: 260
            }
            Label {
                objectName: "codexSource"
                visible: row.provider === "codex"
                text: qsTr("Codex: %1/sessions から読み取り").arg(row.configDir)
                font.pixelSize: 10
                opacity: 0.6
            }
            SmallButton {
                objectName: "captureButton"
                visible: row.provider === "claude"
                text: qsTr("現在のログインを取り込む")
                onClicked: row.settings.capture(row.profileId)
            }
        }

        RowLayout {
            objectName: "statusLineRow"
            visible: row.provider === "claude"
            spacing: 8
            Label { text: qsTr("使用量の取得"); font.pixelSize: 10; opacity: 0.6 }
            ComboBox {
                objectName: "sourcePicker"
                Accessible.name: qsTr("使用量の取得")
                Layout.preferredWidth: 150
                model: [qsTr("API（トークン）"), qsTr("ステータスライン")]
                currentIndex: row.usageSource === "statusLine" ? 1 : 0
                onActivated: (i) => row.settings.setProfileUsageSource(row.profileId, i === 1 ? "statusLine" : "api")
            }
            Label {
                objectName: "statusLineState"
                text: row.statusLine.state === "ours" ? qsTr("ステータスライン: 導入済み")
                    : row.statusLine.state === "other" ? (row.statusLine.command ? qsTr("ステータスライン: 別のコマンド（%1）").arg(row.statusLine.command)
                                                                                 : qsTr("ステータスライン: 別のコマンド"))
                    : qsTr("ステータスライン: 未導入")
                color: row.usageSource === "statusLine" && row.statusLine.state !== "ours" ? "#ff9500" : palette.text
                opacity: color === palette.text ? 0.6 : 1
                font.pixelSize: 10
                elide: Text.ElideMiddle
                Layout.fillWidth: true
            }
            SmallButton {
                objectName: "statusLineInstall"
                visible: row.statusLine.state === "none"
                text: qsTr("導入")
                onClicked: row.settings.installStatusLine(row.profileId)
            }
        }
        Label {
            objectName: "statusLineMessage"
            visible: row.provider === "claude" && text !== ""
            text: row.statusLine.message || ""
            font.pixelSize: 10
            opacity: 0.6
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
