import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic

// A single-line field of the settings sheet, in a rounded border. The sheet's fields have no
// commit action: Return is taken here, so it neither submits anything nor reaches the sheet's
// default button, which would close the sheet over the text being typed.
TextField {
    id: field

    font: TextStyles.body
    topPadding: 5
    bottomPadding: 5
    Keys.onReturnPressed: event => event.accepted = true
    Keys.onEnterPressed: event => event.accepted = true

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 30
        radius: 6
        color: field.palette.base
        border.width: field.activeFocus ? 2 : 1
        border.color: field.activeFocus ? QuorvaneTheme.focusRing : QuorvaneTheme.border
    }
}
