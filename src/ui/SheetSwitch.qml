import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic

// An on/off switch with its label, drawn in the accent colour while on.
Switch {
    id: control

    font: TextStyles.body
    // Published whether or not the platform reports a screen reader.
    Accessible.role: Accessible.CheckBox
    Accessible.name: text
    Accessible.checkable: true
    Accessible.checked: checked
    // Qt would flip `checked` alone, without the toggled() the views act on.
    Accessible.onPressAction: if (enabled) { toggle(); toggled() }
    Accessible.onToggleAction: if (enabled) { toggle(); toggled() }
    spacing: 8

    indicator: Rectangle {
        x: control.leftPadding
        y: (control.height - height) / 2
        implicitWidth: 34
        implicitHeight: 20
        radius: height / 2
        color: control.checked ? SystemColors.blue : control.palette.button
        opacity: control.enabled ? 1 : 0.4

        Rectangle {
            x: control.checked ? parent.width - width - 2 : 2
            y: 2
            width: 16
            height: 16
            radius: 8
            color: "white"
        }
        FocusRing {
            shown: control.visualFocus
            radius: parent.radius + gap
        }
    }
    contentItem: Label {
        leftPadding: control.indicator.width + control.spacing
        verticalAlignment: Text.AlignVCenter
        text: control.text
        font: control.font
        color: SystemColors.label
        opacity: control.enabled ? 1 : 0.4
    }
}
