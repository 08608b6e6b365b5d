import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic

// A titled box of the settings sheet: the title above a lightly filled rounded panel. Its one
// child fills the panel `contentPadding` inside the panel's own margin.
GroupBox {
    id: box

    property int contentPadding: 8
    readonly property int panelMargin: 4

    padding: contentPadding + panelMargin
    topPadding: implicitLabelHeight + spacing + padding
    spacing: 6

    label: Label {
        width: box.width
        text: box.title
        textFormat: Text.PlainText
        elide: Text.ElideRight
        font: TextStyles.subheadline
        color: SystemColors.label
    }
    background: Rectangle {
        y: box.implicitLabelHeight + box.spacing
        width: box.width
        height: box.height - y
        radius: 8
        color: Qt.rgba(1, 1, 1, 0.04)
        border.width: 1
        border.color: QuorvaneTheme.border
    }
}
