import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Second row: the power button and, beside it, the agent's state with the one button that
// leads to its fix.
Item {
    id: view

    required property AgentViewModel model

    implicitWidth: row.implicitWidth
    implicitHeight: row.implicitHeight + 24

    AgentStatusPresentation {
        id: presentation
        serviceState: view.model.serviceState
        hasSavedToken: view.model.hasSavedToken
    }

    RowLayout {
        id: row

        anchors.fill: parent
        anchors.topMargin: 12
        anchors.bottomMargin: 12
        spacing: 54

        AgentPowerButton {
            objectName: "agent.powerButton"
            isOn: presentation.isOn
            isBusy: view.model.isChangingState
            stateText: presentation.pillTitle
            enabled: presentation.allowsPowerChange && !view.model.isChangingState
            onClicked: view.model.togglePower()
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 14

            Label {
                text: "СОСТОЯНИЕ АГЕНТА"
                font: TextStyles.captionBoldTracked
                color: SystemColors.secondaryLabel
            }
            Label {
                id: pill

                objectName: "agent.status.title"
                text: presentation.pillTitle
                color: presentation.statusColor
                font: TextStyles.headline
                leftPadding: 15 + dot.width + 6
                rightPadding: 15
                topPadding: 10
                bottomPadding: 10
                background: Rectangle {
                    radius: height / 2
                    color: Qt.rgba(pill.color.r, pill.color.g, pill.color.b, 0.14)
                }

                SymbolIcon {
                    id: dot
                    x: 15
                    anchors.verticalCenter: parent.verticalCenter
                    name: "media-record-symbolic"
                    fallback: "circle-fill"
                    size: 12
                    color: pill.color
                }
            }
            Label {
                objectName: "agent.status.detail"
                Layout.fillWidth: true
                text: presentation.detail
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: TextStyles.body
                color: SystemColors.secondaryLabel
            }
            Button {
                id: configureButton

                objectName: "agent.configureConnection"
                Accessible.role: Accessible.Button
                Accessible.name: text
                Accessible.onPressAction: if (enabled) clicked()
                visible: presentation.extraButton === AgentStatusPresentation.ConfigureConnection
                text: "Настроить подключение"
                font: TextStyles.body
                leftPadding: 14
                rightPadding: 14
                onClicked: view.model.isWorkspaceSheetPresented = true
                Keys.onReturnPressed: clicked()
                Keys.onEnterPressed: clicked()
                contentItem: Label {
                    text: configureButton.text
                    font: configureButton.font
                    color: "white"
                }
                background: Rectangle {
                    implicitHeight: 30
                    radius: 7
                    color: configureButton.down ? Qt.darker(QuorvaneTheme.accentFill, 1.2) : QuorvaneTheme.accentFill

                    FocusRing {
                        shown: configureButton.visualFocus
                        radius: 10
                    }
                }
            }
            Button {
                id: settingsLink

                objectName: "agent.openLoginItemsSettings"
                Accessible.role: Accessible.Button
                Accessible.name: text
                Accessible.onPressAction: if (enabled) clicked()
                visible: presentation.extraButton === AgentStatusPresentation.AllowBackgroundStart
                text: PlatformTexts.blockedServiceButton
                flat: true
                padding: 0
                onClicked: view.model.openLoginItemsSettings()
                Keys.onReturnPressed: clicked()
                Keys.onEnterPressed: clicked()
                contentItem: Label {
                    text: settingsLink.text
                    font.pixelSize: TextStyles.body.pixelSize
                    font.underline: settingsLink.hovered
                    color: SystemColors.blue
                }
                background: Item {
                    FocusRing {
                        shown: settingsLink.visualFocus
                        radius: 4
                    }
                }
            }
        }
    }
}
