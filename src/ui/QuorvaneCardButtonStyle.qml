import QtQuick
import Quorvane.Ui
import QtQuick.Templates as T

// A large card that is one button: clicks anywhere inside it count. Pressed, the fill dims,
// the outline turns blue and the card shrinks a little; the change is immediate.
T.AbstractButton {
    id: card

    readonly property real cornerRadius: 14

    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    hoverEnabled: false
    scale: pressed ? 0.995 : 1
    // Qt's controls take a screen reader's press and do nothing with it.
    Accessible.onPressAction: if (enabled) clicked()
    // Return and Enter press it, as Space does.
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    background: Item {
        Rectangle {
            objectName: "cardFill"
            anchors.fill: parent
            radius: card.cornerRadius
            color: QuorvaneTheme.cardBackground
            opacity: card.pressed ? 0.78 : 1
        }
        Rectangle {
            objectName: "cardOutline"
            anchors.fill: parent
            radius: card.cornerRadius
            color: "transparent"
            border.width: 1
            border.color: card.pressed ? Qt.rgba(SystemColors.blue.r, SystemColors.blue.g, SystemColors.blue.b, 0.8)
                                       : Qt.rgba(QuorvaneTheme.border.r, QuorvaneTheme.border.g, QuorvaneTheme.border.b, 0.5)
        }
        FocusRing {
            shown: card.visualFocus
            radius: card.cornerRadius + gap
        }
    }
}
