import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Fourth row: a card that opens to show the recent log lines, each selectable monospaced
// text. Whether it is open lives in the view model.
Rectangle {
    id: panel

    required property AgentViewModel model

    readonly property int minimumLogHeight: 112
    readonly property int maximumLogHeight: 180
    // How much taller than its own height the panel may grow when the window offers room.
    readonly property real maximumGrowth: model.isLogExpanded ? maximumLogHeight - minimumLogHeight : 0

    objectName: "agent.logDisclosure"
    implicitWidth: column.implicitWidth + 36
    implicitHeight: column.implicitHeight + 36
    radius: 14
    color: QuorvaneTheme.cardBackground
    border.width: 1
    border.color: Qt.rgba(QuorvaneTheme.border.r, QuorvaneTheme.border.g, QuorvaneTheme.border.b, 0.5)

    ColumnLayout {
        id: column

        anchors.fill: parent
        anchors.margins: 18
        spacing: 12

        AbstractButton {
            id: header

            objectName: "agent.logHeader"
            Layout.fillWidth: true
            Accessible.name: "Журнал работы"
            Accessible.role: Accessible.Button
            Accessible.checkable: true
            Accessible.checked: panel.model.isLogExpanded
            Accessible.onPressAction: if (enabled) clicked()
            onClicked: panel.model.isLogExpanded = !panel.model.isLogExpanded
            Keys.onReturnPressed: clicked()
            Keys.onEnterPressed: clicked()

            background: Item {
                FocusRing {
                    shown: header.visualFocus
                    radius: 6
                }
            }

            contentItem: RowLayout {
                spacing: 8

                SymbolIcon {
                    name: "go-next-symbolic"
                    fallback: "chevron-right"
                    size: 10
                    color: SystemColors.secondaryLabel
                    rotation: panel.model.isLogExpanded ? 90 : 0
                }
                SymbolIcon {
                    name: "edit-find-symbolic"
                    fallback: "doc-magnifier"
                    size: 16
                    color: SystemColors.blue
                }
                Label {
                    text: "Журнал работы"
                    font: TextStyles.headline
                    color: SystemColors.label
                }
                Item {
                    Layout.fillWidth: true
                }
                Label {
                    text: "последние события"
                    font: TextStyles.caption
                    color: SystemColors.secondaryLabel
                }
            }
        }

        Rectangle {
            objectName: "agent.log"
            visible: panel.model.isLogExpanded
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: panel.minimumLogHeight
            Layout.preferredHeight: panel.minimumLogHeight
            Layout.maximumHeight: panel.maximumLogHeight
            radius: 10
            color: Qt.rgba(0, 0, 0, 0.32)

            // One selectable line per row; only the rows in view exist.
            ListView {
                id: lines

                objectName: "agent.logLines"
                anchors.fill: parent
                topMargin: 14
                bottomMargin: 14
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                model: panel.model.logLines
                ScrollBar.vertical: ScrollBar {
                    policy: lines.contentHeight > lines.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
                }

                delegate: TextEdit {
                    required property string line

                    width: ListView.view.width
                    leftPadding: 14
                    rightPadding: 14
                    text: line
                    textFormat: TextEdit.PlainText
                    wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
                    readOnly: true
                    selectByMouse: true
                    font: TextStyles.monospacedCaption
                    color: QuorvaneTheme.logText
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    selectionColor: SystemColors.blue
                    selectedTextColor: "white"
                }
            }
        }
    }
}
