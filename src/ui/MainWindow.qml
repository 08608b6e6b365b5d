import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic

// The panel's only window, never smaller than 840 × 720. Every row stretches or wraps to the
// width it is given, so the window opens at its minimum width; its height follows the content.
ApplicationWindow {
    id: window

    required property AgentViewModel model

    title: "Quorvane Agent"
    minimumWidth: 840
    minimumHeight: Math.max(720, content.implicitHeight)
    width: minimumWidth
    height: minimumHeight
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

    // Growing content (the log panel opening) grows the window rather than clipping it.
    onMinimumHeightChanged: height = Math.max(height, minimumHeight)

    ContentView {
        id: content
        model: window.model
        anchors.fill: parent
    }
}
