import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The settings sheet: token and workspace folders.
Pane {
    id: sheet

    required property AgentViewModel model

    objectName: "workspace.sheet"
    implicitWidth: 600
    padding: 24
    background: null

    ColumnLayout {
        anchors.fill: parent

        RowLayout {
            Layout.fillWidth: true

            Item {
                Layout.fillWidth: true
            }
            Button {
                objectName: "workspace.done"
                text: "Готово"
                onClicked: sheet.model.isWorkspaceSheetPresented = false
            }
        }
    }
}
