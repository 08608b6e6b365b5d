import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The token section of the settings sheet: whether a device token is stored, the entry or
// replacement of one, and the request for access to a stored token the panel cannot read.
// The stored token itself is never read or shown here.
SettingsGroupBox {
    id: section

    required property AgentViewModel model
    // The user asked to replace the stored token; the entry form is shown for the new one.
    property bool isReplacing: false
    // Follows the token field's keyboard focus; setting it moves the focus.
    property bool isTokenFocused: false

    readonly property bool showsEntryForm: isReplacing || (!model.hasSavedToken && !model.tokenAccessNeeded)

    objectName: "configuration.tokenSection"
    title: "1. Подключение к Quorvane"
    enabled: !model.isAuthorizingToken

    function cancelReplacement() {
        model.tokenDraft = "";
        isReplacing = false;
        isTokenFocused = false;
    }

    // Acts only on a difference, so the window losing and regaining the focus leaves the
    // field's focus alone.
    onIsTokenFocusedChanged: {
        if (isTokenFocused && !tokenField.activeFocus)
            tokenField.forceActiveFocus();
        else if (!isTokenFocused && tokenField.activeFocus)
            tokenField.focus = false;
    }
    // The sheet hides the section or destroys it on closing; either way a replacement in
    // progress and the typed token are discarded.
    onVisibleChanged: {
        if (!visible)
            cancelReplacement();
    }
    Component.onDestruction: cancelReplacement()

    // The save ends on its own time; a failed one keeps the replacement form and its draft.
    Connections {
        target: section.model
        function onTokenSaved() {
            section.isReplacing = false;
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 14

        // Secret store access block.
        SymbolLabel {
            objectName: "configuration.tokenAccessNeeded"
            visible: section.model.tokenAccessNeeded
            Layout.fillWidth: true
            text: "Нет доступа к сохранённому токену"
            symbol: "channel-secure-symbolic"
            fallback: "shield-lock"
            font: TextStyles.headline
            color: SystemColors.orange
        }
        Label {
            visible: section.model.tokenAccessNeeded
            Layout.fillWidth: true
            text: PlatformTexts.tokenAccessHint
            wrapMode: Text.Wrap
            font: TextStyles.callout
            color: SystemColors.label
        }
        SheetButton {
            objectName: "configuration.authorizeToken"
            visible: section.model.tokenAccessNeeded
            text: section.model.isAuthorizingToken ? PlatformTexts.authorizingToken : "Разрешить доступ к токену…"
            enabled: !section.model.isAuthorizingToken
            onClicked: section.model.authorizeTokenAccess()
        }

        // Saved-token card.
        Rectangle {
            objectName: "configuration.tokenSaved"
            visible: section.model.hasSavedToken
            Accessible.role: Accessible.Grouping
            Accessible.name: "Токен сохранён"
            Layout.fillWidth: true
            implicitHeight: card.implicitHeight + 2 * 14
            radius: 12
            color: Qt.rgba(SystemColors.green.r, SystemColors.green.g, SystemColors.green.b, 0.1)
            border.width: 1
            border.color: Qt.rgba(SystemColors.green.r, SystemColors.green.g, SystemColors.green.b, 0.35)

            RowLayout {
                id: card

                anchors.fill: parent
                anchors.margins: 14
                spacing: 12

                SymbolIcon {
                    Layout.alignment: Qt.AlignTop
                    name: "security-high-symbolic"
                    fallback: "shield-check"
                    size: 28
                    color: SystemColors.green
                }
                ColumnLayout {
                    Layout.alignment: Qt.AlignTop
                    Layout.fillWidth: true
                    spacing: 5

                    Label {
                        text: "Токен сохранён"
                        font: TextStyles.headline
                        color: SystemColors.green
                    }
                    Label {
                        Layout.fillWidth: true
                        text: PlatformTexts.savedTokenProtection
                        wrapMode: Text.Wrap
                        font: TextStyles.callout
                        color: SystemColors.label
                    }
                    Label {
                        Layout.fillWidth: true
                        text: "Состояние соединения проверяется отдельно на главном экране."
                        wrapMode: Text.Wrap
                        font: TextStyles.caption
                        color: SystemColors.secondaryLabel
                    }
                }
            }
        }

        SheetButton {
            objectName: "configuration.replaceToken"
            visible: !section.showsEntryForm && section.model.hasSavedToken
            text: "Заменить токен…"
            icon.name: "view-refresh-symbolic"
            icon.source: Qt.resolvedUrl("icons/arrow-circlepath.svg")
            onClicked: {
                section.model.tokenDraft = "";
                section.isReplacing = true;
                section.isTokenFocused = true;
            }
        }

        // Token entry form.
        Label {
            id: tokenFormTitle

            objectName: "configuration.tokenFormTitle"
            visible: section.showsEntryForm
            text: section.isReplacing ? "Замена токена" : "Добавьте токен устройства"
            font: TextStyles.headline
            color: SystemColors.label
        }
        Label {
            objectName: "configuration.tokenFormDescription"
            visible: section.showsEntryForm
            Layout.fillWidth: true
            text: section.isReplacing ? "Текущий токен останется сохранённым, пока вы не сохраните новый."
                                      : "Скопируйте токен этого компьютера из кабинета Quorvane."
            wrapMode: Text.Wrap
            font: TextStyles.caption
            color: SystemColors.secondaryLabel
        }
        SheetTextField {
            id: tokenField

            objectName: "configuration.agentToken"
            Accessible.name: tokenFormTitle.text
            visible: section.showsEntryForm
            Layout.fillWidth: true
            placeholderText: section.isReplacing ? "Вставьте новый токен" : "qv_agent_…"
            echoMode: TextInput.Password
            inputMethodHints: Qt.ImhSensitiveData | Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
            text: section.model.tokenDraft
            onTextChanged: if (text !== section.model.tokenDraft) section.model.tokenDraft = text
            onActiveFocusChanged: section.isTokenFocused = activeFocus
        }
        RowLayout {
            visible: section.showsEntryForm
            Layout.fillWidth: true

            SheetButton {
                objectName: "configuration.cancelTokenReplacement"
                visible: section.isReplacing
                text: "Отменить замену"
                onClicked: section.cancelReplacement()
            }
            Item {
                Layout.fillWidth: true
            }
            SheetButton {
                objectName: "configuration.saveToken"
                prominent: true
                text: section.isReplacing ? "Сохранить новый токен" : "Сохранить токен"
                enabled: !TextRules.isBlank(section.model.tokenDraft) && !section.model.isSavingToken
                onClicked: section.model.saveToken()
            }
        }
    }
}
