import QtQuick
import Quorvane.Ui
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "Scrolling.js" as Scrolling

// The settings sheet: the device token, then the local folders bound to the cabinet's folder
// codes. Everything shown comes from the view model and every control writes to it or calls
// one of its actions; the sheet keeps nothing of its own.
FocusScope {
    id: sheet

    required property AgentViewModel model

    readonly property int padding: 26

    objectName: "workspace.sheet"
    implicitWidth: 600
    implicitHeight: stack.implicitHeight + stack.spacing + doneRow.implicitHeight + 2 * padding
    // "Готово" is the default button: Return reaches it unless a focused control takes it.
    Keys.onReturnPressed: done.clicked()
    Keys.onEnterPressed: done.clicked()
    Component.onCompleted: forceActiveFocus()

    // A new message is scrolled into view. The layout places the line only when it next
    // settles, so until the user scrolls or moves the focus every move of the line reveals it.
    property bool revealsMessage: false

    function revealMessage() {
        if (revealsMessage)
            Scrolling.reveal(scroller, message, 8);
    }

    Connections {
        target: sheet.model
        function onConfigurationMessageChanged() {
            sheet.revealsMessage = sheet.model.hasConfigurationMessage;
            sheet.revealMessage();
        }
    }
    Connections {
        target: sheet.Window.window
        function onActiveFocusItemChanged() {
            sheet.revealsMessage = false;
            Scrolling.reveal(scroller, sheet.Window.activeFocusItem, 8);
        }
    }

    // The sheet is as tall as its content; only where the window offers less room (many
    // folders, a long message) does the content scroll. "Готово" stays below it, always in view.
    Flickable {
        id: scroller

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: doneRow.top
        anchors.bottomMargin: stack.spacing
        contentWidth: width
        contentHeight: stack.implicitHeight + sheet.padding
        interactive: contentHeight > height
        boundsBehavior: Flickable.StopAtBounds
        clip: interactive
        onMovementStarted: sheet.revealsMessage = false
        onHeightChanged: sheet.revealMessage()
        onContentHeightChanged: sheet.revealMessage()
        ScrollBar.vertical: ScrollBar {
            policy: scroller.interactive ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }

        ColumnLayout {
            id: stack

            x: sheet.padding
            y: sheet.padding
            width: sheet.width - 2 * sheet.padding
            spacing: 18

            SymbolLabel {
                Layout.fillWidth: true
                text: "Настройка Quorvane Agent"
                symbol: "emblem-system-symbolic"
                fallback: "gearshape"
                font: TextStyles.title2Bold
                color: SystemColors.blue
            }
            AgentTokenSettingsView {
                model: sheet.model
                Layout.fillWidth: true
            }
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 1
                color: QuorvaneTheme.border
            }
            SymbolLabel {
                Layout.fillWidth: true
                text: "2. Локальные папки Workspace"
                symbol: "folder-symbolic"
                fallback: "folder"
                font: TextStyles.title3Bold
                color: SystemColors.label
            }
            Label {
                Layout.fillWidth: true
                text: PlatformTexts.workspaceIntroduction
                wrapMode: Text.Wrap
                font: TextStyles.body
                color: SystemColors.secondaryLabel
            }
            Label {
                Layout.fillWidth: true
                text: PlatformTexts.workspaceSaveAdvice
                wrapMode: Text.Wrap
                font: TextStyles.caption
                color: SystemColors.secondaryLabel
            }

            SettingsGroupBox {
                Layout.fillWidth: true
                title: "Локальная папка"

                ColumnLayout {
                    anchors.fill: parent
                    spacing: 10

                    Label {
                        id: rootIDLabel

                        text: "Код папки из кабинета"
                        font: TextStyles.headline
                        color: SystemColors.label
                    }
                    SheetTextField {
                        objectName: "workspace.rootID"
                        Accessible.name: rootIDLabel.text
                        Layout.fillWidth: true
                        placeholderText: "UUID или workspace.UUID"
                        inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
                        text: sheet.model.workspaceRootIDDraft
                        onTextChanged: if (text !== sheet.model.workspaceRootIDDraft) sheet.model.workspaceRootIDDraft = text
                    }
                    SelectableText {
                        objectName: "workspace.statusDetail"
                        Layout.fillWidth: true
                        text: sheet.model.workspaceStatusDetail
                        font: TextStyles.body
                        color: SystemColors.label
                    }
                    // One line where the labels fit; otherwise the save button moves below,
                    // still at the trailing edge.
                    GridLayout {
                        id: buttonRow

                        readonly property bool fitsOnOneLine: selectFolder.implicitWidth + writeEnabled.implicitWidth
                                                              + saveFolder.implicitWidth + 2 * columnSpacing <= width

                        Layout.fillWidth: true
                        columns: fitsOnOneLine ? 4 : 3

                        SheetButton {
                            id: selectFolder

                            objectName: "workspace.selectFolder"
                            text: "Выбрать папку…"
                            onClicked: sheet.model.selectWorkspaceFolder()
                        }
                        SheetSwitch {
                            id: writeEnabled

                            objectName: "workspace.writeEnabled"
                            text: "Разрешить запись"
                            checked: sheet.model.workspaceWriteEnabled
                            onToggled: sheet.model.workspaceWriteEnabled = checked
                        }
                        Item {
                            Layout.fillWidth: true
                        }
                        SheetButton {
                            id: saveFolder

                            objectName: "workspace.save"
                            Layout.columnSpan: buttonRow.fitsOnOneLine ? 1 : 3
                            Layout.alignment: Qt.AlignRight
                            text: "Сохранить и проверить доступ"
                            // Whether the code and the folder are acceptable is the save
                            // action's business; here only their presence counts.
                            enabled: sheet.model.workspaceRootIDDraft.length > 0 && sheet.model.hasWorkspacePath
                                     && !sheet.model.isChangingState
                            onClicked: sheet.model.saveWorkspace()
                        }
                    }
                }
            }

            SettingsGroupBox {
                objectName: "workspace.savedRoots"
                visible: savedRoots.count > 0
                Layout.fillWidth: true
                title: PlatformTexts.savedFoldersTitle

                // Only the rows in view exist, however many folders are saved; beyond a few
                // rows the list scrolls within the sheet.
                ListView {
                    id: savedRoots

                    readonly property int maximumHeight: 320

                    anchors.fill: parent
                    implicitHeight: Math.min(contentHeight, maximumHeight)
                    // Rows are made as they scroll into view, none ahead: opening the sheet
                    // costs the rows it shows.
                    cacheBuffer: 0
                    reuseItems: true
                    spacing: 8
                    clip: interactive
                    interactive: contentHeight > height
                    boundsBehavior: Flickable.StopAtBounds
                    model: sheet.model.workspaceRootsModel
                    ScrollBar.vertical: ScrollBar {
                        policy: savedRoots.interactive ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
                    }

                    // Anchored rather than laid out, so the remove button stays centred
                    // while the wrapped path settles its height.
                    delegate: Item {
                        id: row

                        required property string rootID
                        required property string path
                        required property bool writeEnabled

                        objectName: "workspace.savedRoot." + rootID
                        width: ListView.view.width
                        implicitHeight: Math.max(texts.implicitHeight, remove.implicitHeight)
                        height: implicitHeight

                        ColumnLayout {
                            id: texts

                            anchors.left: parent.left
                            anchors.right: remove.left
                            anchors.rightMargin: 5
                            anchors.verticalCenter: parent.verticalCenter
                            spacing: 2

                            SelectableText {
                                objectName: "workspace.savedRoot.path"
                                Layout.fillWidth: true
                                text: row.path
                                font: TextStyles.body
                                color: SystemColors.label
                            }
                            Label {
                                Layout.fillWidth: true
                                text: "Сохранено локально · подключение проверяется в кабинете"
                                wrapMode: Text.Wrap
                                font: TextStyles.caption
                                color: SystemColors.secondaryLabel
                            }
                            Label {
                                objectName: "workspace.savedRoot.access"
                                Layout.fillWidth: true
                                text: row.rootID + " · " + (row.writeEnabled ? "чтение и запись" : "только чтение")
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                font: TextStyles.caption
                                color: SystemColors.secondaryLabel
                            }
                        }
                        ToolButton {
                            id: remove

                            objectName: "workspace.savedRoot.remove"
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            focusPolicy: Qt.TabFocus
                            display: AbstractButton.IconOnly
                            icon.name: "user-trash-symbolic"
                            icon.source: Qt.resolvedUrl("icons/trash.svg")
                            icon.width: 16
                            icon.height: 16
                            icon.color: SystemColors.red
                            Accessible.name: "Удалить Workspace " + row.rootID
                            Accessible.onPressAction: if (enabled) clicked()
                            onClicked: sheet.model.removeWorkspace(row.rootID)
                            Keys.onReturnPressed: clicked()
                            Keys.onEnterPressed: clicked()

                            // Borderless: only a press or the keyboard focus shows a shape.
                            background: Rectangle {
                                implicitWidth: 28
                                implicitHeight: 28
                                radius: 6
                                color: remove.down ? remove.palette.mid : "transparent"

                                FocusRing {
                                    shown: remove.visualFocus
                                    gap: 0
                                    radius: 6
                                }
                            }
                        }
                    }
                }
            }

            Label {
                id: message

                objectName: "configuration.message"
                onYChanged: sheet.revealMessage()
                onHeightChanged: sheet.revealMessage()
                visible: sheet.model.hasConfigurationMessage
                Layout.fillWidth: true
                text: sheet.model.configurationMessage
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: TextStyles.callout
                color: SystemColors.orange
            }
        }
    }

    RowLayout {
        id: doneRow

        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: sheet.padding
        anchors.rightMargin: sheet.padding
        anchors.bottomMargin: sheet.padding

        Item {
            Layout.fillWidth: true
        }
        SheetButton {
            id: done

            objectName: "workspace.done"
            prominent: true
            text: "Готово"
            onClicked: sheet.model.isWorkspaceSheetPresented = false
        }
    }
}
