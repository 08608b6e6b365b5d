import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic

// The panel's only window. Every row stretches or wraps to the width it is given, so the window
// opens at its minimum width; its height follows the content, at least 720, as far as the
// screen has room. A shorter window (small or scaled screens) scrolls its content.
ApplicationWindow {
    id: window

    required property AgentViewModel model

    // 1920 × 1080 at 150 % leaves about 650 of its 720 points beside a panel and a title bar.
    readonly property int lowestHeight: 560
    // The height of the window's screen that the desktop's panels leave free, kept up to date by
    // the C++ side; QML's Screen offers only the whole desktop's.
    property int screenAvailableHeight: 0
    // The screen's room less the title bar, which the window's own height does not include.
    readonly property int screenRoom: screenAvailableHeight > 0 ? screenAvailableHeight - 40 : 100000
    readonly property real wantedHeight: Math.max(720, content.implicitHeight)
    // The height the window had before the sheet grew it, restored when the sheet closes.
    property real heightBeforeSheet: 0

    function fittedHeight(wanted) {
        return Math.max(lowestHeight, Math.min(Math.ceil(wanted), screenRoom));
    }
    // Grows towards what the content wants; never shrinks a window the user made larger.
    function grow() {
        height = Math.max(height, fittedHeight(wantedHeight));
    }

    title: "Quorvane Agent"
    minimumWidth: 840
    minimumHeight: lowestHeight
    width: minimumWidth
    height: fittedHeight(wantedHeight)
    color: QuorvaneTheme.background
    visible: true

    // Always dark, whatever the desktop's colour scheme.
    palette.window: QuorvaneTheme.background
    palette.windowText: SystemColors.label
    palette.base: Qt.rgba(0.07, 0.09, 0.13, 1)
    palette.alternateBase: QuorvaneTheme.cardBackground
    palette.text: SystemColors.label
    palette.placeholderText: SystemColors.gray
    palette.button: Qt.rgba(0.20, 0.24, 0.31, 1)
    palette.buttonText: SystemColors.label
    palette.brightText: "white"
    palette.light: Qt.rgba(0.30, 0.36, 0.46, 1)
    palette.midlight: Qt.rgba(0.25, 0.30, 0.39, 1)
    palette.mid: Qt.rgba(0.16, 0.19, 0.25, 1)
    palette.dark: Qt.rgba(0.13, 0.16, 0.21, 1)
    palette.shadow: "black"
    palette.highlight: SystemColors.blue
    palette.highlightedText: "white"
    palette.link: SystemColors.blue
    palette.toolTipBase: Qt.rgba(0.20, 0.24, 0.31, 1)
    palette.toolTipText: "white"
    palette.disabled.windowText: SystemColors.gray
    palette.disabled.text: SystemColors.gray
    palette.disabled.buttonText: SystemColors.gray

    // Growing content (the log panel opening, the sheet's message) grows the window as far as
    // the screen allows; beyond that the content scrolls.
    onWantedHeightChanged: grow()
    onScreenRoomChanged: height = Math.min(height, Math.max(lowestHeight, screenRoom))

    // The open sheet grows the window to its own height; closing it restores the height the
    // window had.
    Connections {
        target: content
        function onSheetHeightChanged() {
            if (content.sheetHeight > 0) {
                if (window.heightBeforeSheet === 0)
                    window.heightBeforeSheet = window.height;
                window.height = Math.max(window.height, window.fittedHeight(content.sheetHeight));
            } else if (window.heightBeforeSheet > 0) {
                window.height = window.heightBeforeSheet;
                window.heightBeforeSheet = 0;
            }
        }
    }

    ContentView {
        id: content
        model: window.model
        anchors.fill: parent
    }
}
