pragma Singleton
import QtQuick
import Quorvane.Ui

// The panel's own colours, independent of the desktop's accent and window colours.
QtObject {
    readonly property color background: Qt.rgba(0.094, 0.125, 0.184, 1)
    readonly property color cardBackground: Qt.rgba(0.098, 0.133, 0.204, 1)
    readonly property color border: Qt.rgba(0.184, 0.235, 0.329, 1)
    readonly property color logText: Qt.rgba(0.66, 0.78, 0.70, 1)
    // Fill of the buttons that carry the accent: darker than the accent text colour, so white
    // labels on it keep a contrast of 4.5:1.
    readonly property color accentFill: Qt.rgba(0, 0.4, 0.84, 1)
    // The keyboard focus outline.
    readonly property color focusRing: SystemColors.blue
}
