import QtQuick
import Quorvane.Ui

// Text shown verbatim that the user can select and copy but not change; screen readers read it
// as static text.
TextEdit {
    Accessible.role: Accessible.StaticText
    Accessible.name: text
    readOnly: true
    selectByMouse: true
    textFormat: TextEdit.PlainText
    wrapMode: TextEdit.Wrap
    selectionColor: SystemColors.blue
    selectedTextColor: "white"
}
