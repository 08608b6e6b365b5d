import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// The large round power button: a glow, a dark disc with a coloured ring and a shadow, and
// the power symbol or, while busy, a spinner. Hovering brightens the glow and enlarges the
// button slightly; only that change is animated.
T.AbstractButton {
    id: button

    required property bool isOn
    required property bool isBusy
    // The agent's state as the status pill names it, for screen readers.
    property string stateText
    readonly property bool isHovering: hovered

    // 0 at rest, 1 while the pointer is over the button.
    property real hoverProgress: isHovering ? 1 : 0
    Behavior on hoverProgress {
        NumberAnimation {
            duration: 150
            easing.type: Easing.OutQuad
        }
    }

    readonly property color ringColor: isOn ? SystemColors.green : SystemColors.gray

    implicitWidth: 212
    implicitHeight: 212
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    readonly property string actionText: isOn ? "Выключить Quorvane Agent" : "Включить Quorvane Agent"

    Accessible.name: stateText.length > 0 ? actionText + ". Состояние: " + stateText : actionText
    Accessible.role: Accessible.Button
    // Qt's controls take a screen reader's press and do nothing with it.
    Accessible.onPressAction: if (enabled) clicked()
    // Return and Enter press it, as Space does.
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    contentItem: Item {
        scale: 1 + 0.015 * button.hoverProgress
        // A disabled button is dimmed as a whole.
        opacity: button.enabled ? 1 : 0.45

        SoftDisc {
            objectName: "glow"
            anchors.centerIn: parent
            diameter: 212
            blurRadius: 4 - 3 * button.hoverProgress
            color: button.ringColor
            opacity: 0.2 + 0.12 * button.hoverProgress
        }
        SoftDisc {
            objectName: "shadow"
            anchors.centerIn: parent
            anchors.verticalCenterOffset: 8
            diameter: 188
            blurRadius: 18
            color: button.isOn ? SystemColors.green : "black"
            opacity: 0.35
        }
        Rectangle {
            objectName: "disc"
            anchors.centerIn: parent
            width: 188
            height: 188
            radius: width / 2
            color: Qt.rgba(0.08, 0.11, 0.17, 1)
            border.width: 7
            border.color: button.ringColor

            FocusRing {
                shown: button.visualFocus
                gap: 6
                radius: width / 2
            }
        }
        BusyIndicator {
            objectName: "spinner"
            anchors.centerIn: parent
            width: 64
            height: 64
            visible: button.isBusy
            running: button.isBusy
            palette.dark: "white"
        }
        SymbolIcon {
            objectName: "powerSymbol"
            anchors.centerIn: parent
            visible: !button.isBusy
            name: "system-shutdown-symbolic"
            fallback: "power"
            size: 62
            color: "white"
        }
    }
}
