import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Last row: the version, how to update the beta, and the maker's credit.
RowLayout {
    id: footer

    required property AgentViewModel model

    spacing: 8

    Label {
        objectName: "app.version"
        Layout.minimumWidth: implicitWidth
        text: footer.model.versionText
        textFormat: Text.PlainText
        font: TextStyles.caption
        color: SystemColors.secondaryLabel
    }
    Button {
        id: updateButton

        objectName: "agent.checkUpdates"
        Accessible.role: Accessible.Button
        Accessible.name: text
        Accessible.onPressAction: if (enabled) clicked()
        Layout.minimumWidth: implicitWidth
        text: "Как обновить beta"
        font: TextStyles.caption
        topPadding: 4
        bottomPadding: 4
        leftPadding: 10
        rightPadding: 10
        background: Rectangle {
            implicitHeight: 22
            radius: 6
            color: updateButton.down ? updateButton.palette.mid : updateButton.palette.button

            FocusRing {
                shown: updateButton.visualFocus
                radius: 9
            }
        }
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()
        onClicked: footer.model.updateStatus = PlatformTexts.updateNote
    }
    Label {
        id: updateStatus

        objectName: "agent.updateStatus"
        visible: footer.model.updateStatus.length > 0
        // Takes the room between the button and the credit and wraps in it.
        Layout.fillWidth: true
        text: footer.model.updateStatus
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: TextStyles.caption
        color: SystemColors.orange
    }
    Item {
        visible: !updateStatus.visible
        Layout.fillWidth: true
    }
    Label {
        objectName: "app.credit"
        Layout.minimumWidth: implicitWidth
        text: "Разработано в Arlenwick"
        font: TextStyles.caption
        color: SystemColors.secondaryLabel
    }
}
