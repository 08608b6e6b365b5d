import QtQuick
import Quorvane.Ui

// The keyboard focus of a control: an outline in the accent colour just outside its shape.
// Only focus given by the keyboard shows it, and nothing else draws an outline of this colour,
// so it never reads as hover or press.
Rectangle {
    required property bool shown
    property real gap: 3

    anchors.fill: parent
    anchors.margins: -gap
    visible: shown
    color: "transparent"
    border.width: 2
    border.color: QuorvaneTheme.focusRing
}
