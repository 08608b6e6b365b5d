import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T

// The window's content: header, status, workspace card, log and footer stacked on the
// panel's background, refreshed while shown, with the settings sheet above it.
Rectangle {
    id: root

    required property AgentViewModel model

    readonly property int horizontalPadding: 48
    readonly property int topPadding: 24
    readonly property int bottomPadding: 18

    color: QuorvaneTheme.background
    implicitWidth: stack.implicitWidth + 2 * horizontalPadding
    implicitHeight: stack.implicitHeight + topPadding + bottomPadding

    ColumnLayout {
        id: stack

        // What the window offers beyond the content's own height goes to the log panel (up to
        // its limit); the rest is shared evenly above and below.
        readonly property real offeredHeight: root.height - root.topPadding - root.bottomPadding

        x: root.horizontalPadding
        y: root.topPadding + Math.max(0, (offeredHeight - height) / 2)
        width: root.width - 2 * root.horizontalPadding
        height: implicitHeight + Math.max(0, Math.min(offeredHeight - implicitHeight, logView.maximumGrowth))
        spacing: 20

        AppHeaderView {
            Layout.fillWidth: true
        }
        AgentStatusView {
            model: root.model
            Layout.fillWidth: true
        }
        WorkspaceCard {
            model: root.model
            Layout.fillWidth: true
        }
        AgentLogView {
            id: logView
            model: root.model
            Layout.fillWidth: true
            Layout.fillHeight: true
        }
        AgentFooterView {
            model: root.model
            Layout.fillWidth: true
        }
    }

    // Refreshes at once when the window is shown and every 2 seconds while it stays shown.
    Timer {
        interval: 2000
        repeat: true
        triggeredOnStart: true
        running: root.Window.window !== null && root.Window.window.visible
        onTriggered: root.model.refresh()
    }

    Connections {
        target: root.model
        function onIsWorkspaceSheetPresentedChanged() {
            if (root.model.isWorkspaceSheetPresented)
                sheet.open();
            else
                sheet.close();
        }
    }

    Popup {
        id: sheet

        objectName: "workspaceSheet"
        parent: T.Overlay.overlay
        anchors.centerIn: parent
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape
        padding: 0
        onClosed: root.model.isWorkspaceSheetPresented = false

        background: Rectangle {
            color: QuorvaneTheme.background
            radius: 12
            border.width: 1
            border.color: QuorvaneTheme.border
        }
        // Built anew on every opening, so nothing typed survives a dismissal but the
        // view model's own drafts.
        contentItem: Loader {
            active: sheet.visible
            sourceComponent: Component {
                WorkspaceSettingsView {
                    model: root.model
                }
            }
        }
    }
}
