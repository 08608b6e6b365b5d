pragma Singleton
import QtQuick

// The panel's own colours, independent of the desktop's accent and window colours.
QtObject {
    readonly property color background: Qt.rgba(0.094, 0.125, 0.184, 1)
    readonly property color cardBackground: Qt.rgba(0.098, 0.133, 0.204, 1)
    readonly property color border: Qt.rgba(0.184, 0.235, 0.329, 1)
    readonly property color logText: Qt.rgba(0.66, 0.78, 0.70, 1)
}
