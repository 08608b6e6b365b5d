import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Third row: the connection settings in brief (token, folders, user); a click anywhere opens
// the settings sheet.
QuorvaneCardButtonStyle {
    id: card

    required property AgentViewModel model

    objectName: "workspace.configure"
    padding: 18
    Accessible.name: "Настройки подключения и локальных папок"
    Accessible.description: "Открывает настройку локальной папки"
    onClicked: model.isWorkspaceSheetPresented = true

    contentItem: RowLayout {
        spacing: 16

        Rectangle {
            Layout.preferredWidth: 46
            Layout.preferredHeight: 46
            radius: 12
            color: Qt.rgba(SystemColors.blue.r, SystemColors.blue.g, SystemColors.blue.b, 0.13)

            SymbolIcon {
                anchors.centerIn: parent
                name: "avatar-default-symbolic"
                fallback: "person-badge-check"
                size: 25
                color: SystemColors.blue
            }
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 5

            Label {
                text: "Настройки подключения и локальных папок"
                font: TextStyles.headline
                color: SystemColors.label
            }
            SymbolLabel {
                objectName: "workspace.tokenStatus"
                Layout.fillWidth: true
                text: card.model.tokenAccessNeeded ? PlatformTexts.tokenAccessNeededLine
                                                   : card.model.hasSavedToken ? "Токен сохранён" : "Токен не добавлен"
                symbol: card.model.hasSavedToken ? "security-high-symbolic" : "security-low-symbolic"
                fallback: card.model.hasSavedToken ? "shield-check" : "shield-lock"
                color: card.model.hasSavedToken ? SystemColors.green : SystemColors.orange
            }
            SymbolLabel {
                objectName: "workspace.folderStatus"
                Layout.fillWidth: true
                text: card.model.workspaceStatusTitle
                symbol: "folder-symbolic"
                fallback: "folder"
                color: SystemColors.secondaryLabel
            }
            Label {
                objectName: "workspace.account"
                Layout.fillWidth: true
                text: PlatformTexts.workspaceUserPrefix + card.model.workspaceAccount
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font: TextStyles.caption
                color: SystemColors.secondaryLabel
            }
        }
        Label {
            text: "Настроить"
            font: TextStyles.body
            color: SystemColors.blue
        }
        SymbolIcon {
            name: "go-next-symbolic"
            fallback: "chevron-right"
            size: 12
            color: SystemColors.blue
        }
    }
}
