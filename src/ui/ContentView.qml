import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import "Scrolling.js" as Scrolling

// The window's content: header, status, workspace card, log and footer stacked on the
// panel's background, refreshed while shown, with the settings sheet above it.
Rectangle {
    id: root

    required property AgentViewModel model

    readonly property int horizontalPadding: 48
    readonly property int topPadding: 24
    readonly property int bottomPadding: 18

    // Quitting from the keyboard takes the same way as closing the window.
    readonly property var quitKeys: ["Ctrl+Q", "Ctrl+W"]

    function closeWindow() {
        root.Window.window.close();
    }

    // The margin kept between the open sheet and the window's edges.
    readonly property int sheetMargin: 24
    // The height that shows the whole open sheet with its margins; 0 while it is closed.
    readonly property real sheetHeight: sheet.visible ? sheet.implicitHeight + 2 * sheetMargin : 0

    color: QuorvaneTheme.background
    implicitWidth: stack.implicitWidth + 2 * horizontalPadding
    implicitHeight: stack.implicitHeight + topPadding + bottomPadding

    // Scrolls only where the window is shorter than the content; the control that takes the
    // keyboard focus is scrolled into view.
    Flickable {
        id: page

        objectName: "mainPage"
        anchors.fill: parent
        contentWidth: width
        contentHeight: Math.max(height, root.implicitHeight)
        interactive: contentHeight > height
        boundsBehavior: Flickable.StopAtBounds
        clip: interactive
        ScrollBar.vertical: ScrollBar {
            policy: page.interactive ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }

        Connections {
            target: root.Window.window
            function onActiveFocusItemChanged() {
                Scrolling.reveal(page, root.Window.activeFocusItem, 8);
            }
        }

        ColumnLayout {
            id: stack

            // What the window offers beyond the content's own height goes to the log panel (up to
            // its limit); the rest is shared evenly above and below.
            readonly property real offeredHeight: page.contentHeight - root.topPadding - root.bottomPadding

            x: root.horizontalPadding
            y: root.topPadding + Math.max(0, (offeredHeight - height) / 2)
            width: page.width - 2 * root.horizontalPadding
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
    }

    Shortcut {
        sequences: root.quitKeys
        onActivated: root.closeWindow()
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
        // As tall as its content where the window has room; otherwise the sheet scrolls.
        height: Math.min(implicitHeight, parent.height - 2 * root.sheetMargin)
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape
        padding: 0
        onClosed: root.model.isWorkspaceSheetPresented = false

        // The modal sheet holds back the window's shortcuts; these keys still quit.
        Shortcut {
            sequences: root.quitKeys
            enabled: sheet.visible
            onActivated: root.closeWindow()
        }

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
