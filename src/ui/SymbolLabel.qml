import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts

// A symbol followed by a line of text, both in one colour.
RowLayout {
    id: symbolLabel

    property alias text: label.text
    // Icon-theme name of the symbol and the bundled drawing used where the theme has none.
    property string symbol
    property string fallback
    property color color: SystemColors.label
    property font font: TextStyles.subheadline

    spacing: 6

    SymbolIcon {
        id: icon
        name: symbolLabel.symbol
        fallback: symbolLabel.fallback
        size: symbolLabel.font.pixelSize + 2
        color: symbolLabel.color
    }
    Label {
        id: label
        Layout.fillWidth: true
        color: symbolLabel.color
        font: symbolLabel.font
        textFormat: Text.PlainText
        elide: Text.ElideRight
    }
}
