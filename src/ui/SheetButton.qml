import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Controls.impl

// A push button of the settings sheet; `prominent` fills it with the accent colour for the
// action a form or the sheet leads to. Like the desktop's dialog buttons, a click leaves the
// keyboard focus where it was, so a field being edited keeps it.
Button {
    id: button

    property bool prominent: false
    readonly property color labelColor: !enabled ? Qt.rgba(1, 1, 1, 0.4) : prominent ? "white" : palette.buttonText

    focusPolicy: Qt.TabFocus
    font: TextStyles.body
    leftPadding: 12
    rightPadding: 12
    topPadding: 5
    bottomPadding: 5
    spacing: 6
    icon.width: 14
    icon.height: 14
    icon.color: labelColor
    // Named and given their role whether or not the platform reports a screen reader, so the
    // accessibility tree always holds them.
    Accessible.role: Accessible.Button
    Accessible.name: text
    // Qt's controls take a screen reader's press and do nothing with it.
    Accessible.onPressAction: if (enabled) clicked()
    // Return and Enter press a focused button, as Space does.
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    contentItem: IconLabel {
        spacing: button.spacing
        display: button.display
        icon: button.icon
        text: button.text
        font: button.font
        color: button.labelColor
    }
    background: Rectangle {
        implicitWidth: 64
        implicitHeight: 28
        radius: 6
        color: {
            const base = button.prominent ? QuorvaneTheme.accentFill : button.palette.button;
            if (!button.enabled)
                return Qt.rgba(base.r, base.g, base.b, 0.4);
            return button.down ? Qt.darker(base, 1.25) : base;
        }

        FocusRing {
            shown: button.visualFocus
            radius: 9
        }
    }
}
