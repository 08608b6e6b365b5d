#include <QAccessible>
#include <QColor>
#include <QGuiApplication>
#include <QQuickItem>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <functional>
#include <memory>

#include "tests/ui/PanelFixture.h"
#include "tests/ui/WindowDriver.h"
#include "ui/MainWindow.h"
#include "ui/SystemColors.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

const QString validToken = u"qv_agent_"_s + QString(43, u'A');
const QString otherToken = u"qv_agent_"_s + QString(43, u'b');
const QString firstRootID = u"11111111-1111-4111-8111-111111111111"_s;
const QString secondRootID = u"22222222-2222-4222-8222-222222222222"_s;

QString accessibleName(QQuickItem* item) {
    QAccessibleInterface* interface = QAccessible::queryAccessibleInterface(item);
    return interface ? interface->text(QAccessible::Name) : QString();
}

QString textOf(QQuickItem* item) {
    return item->property("text").toString();
}

// The main window with the settings sheet open, driven through its controls.
class Sheet {
public:
    explicit Sheet(const PanelScenario& scenario) : panel_(scenario), driver_(panel_.window()) {
        open();
    }

    PanelFixture& panel() { return panel_; }
    WindowDriver& driver() { return driver_; }
    AgentViewModel& model() { return panel_.model(); }
    QQuickItem* item(const QString& objectName) { return driver_.item(objectName); }
    bool shows(const QString& objectName) { return driver_.shows(objectName); }
    bool isOpen() { return panel_.sheetIsOpen(); }

    void open() {
        model().setWorkspaceSheetPresented(true);
        driver_.settle();
    }
    void click(const QString& objectName) { driver_.click(objectName); }
    void type(const QString& objectName, const QString& text) {
        driver_.click(objectName);
        driver_.type(text);
    }
    void press(Qt::Key key) { driver_.press(key); }
    QQuickItem* savedRoot(const QString& rootID, const QString& part) {
        QQuickItem* found = WindowDriver::find(item(u"workspace.savedRoot."_s + rootID),
                                               u"workspace.savedRoot."_s + part);
        if (found == nullptr) {
            throw std::runtime_error("no " + part.toStdString() + " in the row");
        }
        return found;
    }

private:
    PanelFixture panel_;
    WindowDriver driver_;
};

PanelScenario withToken() {
    PanelScenario scenario;
    scenario.token = validToken;
    return scenario;
}

PanelScenario refusingSaves(std::optional<QString> token) {
    PanelScenario scenario;
    scenario.token = std::move(token);
    scenario.keyringRefusesSave = true;
    return scenario;
}

PanelScenario lockedKeyring() {
    PanelScenario scenario;
    scenario.keyringLocked = true;
    return scenario;
}

void replaceWith(Sheet& sheet, const QString& token) {
    sheet.click(u"configuration.replaceToken"_s);
    sheet.driver().type(token);
}

using Preparation = std::function<void(Sheet&)>;

enum class ThirdSlot { entryForm, replaceButton, nothing };

}  // namespace

Q_DECLARE_METATYPE(quorvane::testing::PanelScenario)
Q_DECLARE_METATYPE(Preparation)
Q_DECLARE_METATYPE(ThirdSlot)

class WorkspaceSettingsViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainWindow::configureApplication(); }

    void tokenSectionFollowsTheState_data() {
        QTest::addColumn<PanelScenario>("scenario");
        QTest::addColumn<Preparation>("prepare");
        QTest::addColumn<bool>("accessBlock");
        QTest::addColumn<bool>("savedCard");
        QTest::addColumn<ThirdSlot>("thirdSlot");
        QTest::addColumn<bool>("replacing");

        const Preparation nothing = [](Sheet&) {};
        const Preparation replace = [](Sheet& sheet) {
            sheet.click(u"configuration.replaceToken"_s);
        };
        const Preparation failReplacement = [](Sheet& sheet) {
            replaceWith(sheet, otherToken);
            sheet.click(u"configuration.saveToken"_s);
        };
        const Preparation failAndCancelReplacement = [=](Sheet& sheet) {
            failReplacement(sheet);
            sheet.click(u"configuration.cancelTokenReplacement"_s);
        };

        QTest::newRow("no token saved")
            << PanelScenario() << nothing << false << false << ThirdSlot::entryForm << false;
        QTest::newRow("token saved")
            << withToken() << nothing << false << true << ThirdSlot::replaceButton << false;
        QTest::newRow("access needed, no known token")
            << lockedKeyring() << nothing << true << false << ThirdSlot::nothing << false;
        QTest::newRow("access needed, token known")
            << refusingSaves(validToken) << failAndCancelReplacement << true << true
            << ThirdSlot::replaceButton << false;
        QTest::newRow("replacing")
            << withToken() << replace << false << true << ThirdSlot::entryForm << true;
        QTest::newRow("replacing while access is needed")
            << refusingSaves(validToken) << failReplacement << true << true << ThirdSlot::entryForm
            << true;
    }

    void tokenSectionFollowsTheState() {
        QFETCH(PanelScenario, scenario);
        QFETCH(Preparation, prepare);
        QFETCH(bool, accessBlock);
        QFETCH(bool, savedCard);
        QFETCH(ThirdSlot, thirdSlot);
        QFETCH(bool, replacing);

        Sheet sheet(scenario);
        prepare(sheet);

        QCOMPARE(sheet.shows(u"configuration.tokenAccessNeeded"_s), accessBlock);
        QCOMPARE(sheet.shows(u"configuration.authorizeToken"_s), accessBlock);
        QCOMPARE(sheet.shows(u"configuration.tokenSaved"_s), savedCard);
        QCOMPARE(sheet.shows(u"configuration.replaceToken"_s),
                 thirdSlot == ThirdSlot::replaceButton);
        const bool form = thirdSlot == ThirdSlot::entryForm;
        QCOMPARE(sheet.shows(u"configuration.agentToken"_s), form);
        QCOMPARE(sheet.shows(u"configuration.saveToken"_s), form);
        QCOMPARE(sheet.shows(u"configuration.cancelTokenReplacement"_s), form && replacing);
        if (!form) {
            return;
        }
        QCOMPARE(textOf(sheet.item(u"configuration.tokenFormTitle"_s)),
                 replacing ? u"Замена токена"_s : u"Добавьте токен устройства"_s);
        QCOMPARE(textOf(sheet.item(u"configuration.tokenFormDescription"_s)),
                 replacing ? u"Текущий токен останется сохранённым, пока вы не сохраните новый."_s
                           : u"Скопируйте токен этого компьютера из кабинета Quorvane."_s);
        QCOMPARE(sheet.item(u"configuration.agentToken"_s)->property("placeholderText").toString(),
                 replacing ? u"Вставьте новый токен"_s : u"qv_agent_…"_s);
        QCOMPARE(textOf(sheet.item(u"configuration.saveToken"_s)),
                 replacing ? u"Сохранить новый токен"_s : u"Сохранить токен"_s);
    }

    void saveTokenNeedsMoreThanWhitespace_data() {
        QTest::addColumn<QString>("draft");
        QTest::addColumn<bool>("enabled");

        QTest::newRow("empty") << QString() << false;
        QTest::newRow("spaces") << u"   "_s << false;
        QTest::newRow("tabs and line breaks") << u"\t\n\r\n\v\f"_s << false;
        QTest::newRow("Unicode separators and NEL")
            << u"\u00a0\u2028\u2029\u3000\u0085\u2007"_s << false;
        QTest::newRow("surrounded by spaces") << u"  qv_agent_x \n"_s << true;
        QTest::newRow("one character") << u"x"_s << true;
        QTest::newRow("zero-width no-break space is text") << u"\ufeff"_s << true;
    }

    void saveTokenNeedsMoreThanWhitespace() {
        QFETCH(QString, draft);
        QFETCH(bool, enabled);

        Sheet sheet({});
        sheet.model().setTokenDraft(draft);
        QCOMPARE(sheet.item(u"configuration.agentToken"_s)->property("text").toString(), draft);
        QCOMPARE(sheet.item(u"configuration.saveToken"_s)->isEnabled(), enabled);
    }

    void typedTokenIsSavedMaskedAndReplaced() {
        Sheet sheet({});
        sheet.type(u"configuration.agentToken"_s, u"  "_s + validToken);
        QCOMPARE(sheet.model().tokenDraft(), u"  "_s + validToken);
        QQuickItem* field = sheet.item(u"configuration.agentToken"_s);
        QVERIFY(!field->property("displayText").toString().contains(u"qv_agent_"_s));

        sheet.click(u"configuration.saveToken"_s);
        QTRY_VERIFY(sheet.model().hasSavedToken());
        QVERIFY(sheet.model().tokenDraft().isEmpty());
        QVERIFY(sheet.shows(u"configuration.tokenSaved"_s));
        QVERIFY(sheet.shows(u"configuration.replaceToken"_s));
        QCOMPARE(textOf(sheet.item(u"configuration.message"_s)),
                 u"Токен сохранён в хранилище паролей."_s);

        replaceWith(sheet, otherToken);
        sheet.click(u"configuration.saveToken"_s);
        QTRY_VERIFY(!sheet.shows(u"configuration.agentToken"_s));
        QVERIFY(sheet.shows(u"configuration.replaceToken"_s));
        QVERIFY(sheet.model().tokenDraft().isEmpty());
    }

    void replaceEmptiesTheDraftAndFocusesTheField() {
        Sheet sheet(withToken());
        sheet.model().setTokenDraft(u"stale"_s);
        sheet.click(u"configuration.replaceToken"_s);
        QVERIFY(sheet.model().tokenDraft().isEmpty());
        QVERIFY(sheet.item(u"configuration.agentToken"_s)->hasActiveFocus());

        sheet.click(u"configuration.cancelTokenReplacement"_s);
        QVERIFY(!sheet.item(u"configuration.agentToken"_s)->hasActiveFocus());
        QVERIFY(sheet.shows(u"configuration.replaceToken"_s));
    }

    void returnInTheTokenFieldNeitherSavesNorCloses() {
        Sheet sheet({});
        sheet.type(u"configuration.agentToken"_s, validToken);
        sheet.press(Qt::Key_Return);
        sheet.press(Qt::Key_Enter);
        QVERIFY(!sheet.model().hasSavedToken());
        QCOMPARE(sheet.model().tokenDraft(), validToken);
        QVERIFY(sheet.isOpen());
    }

    void failedReplacementKeepsTheDraftFormAndFocus() {
        Sheet sheet(refusingSaves(validToken));
        replaceWith(sheet, otherToken);
        sheet.click(u"configuration.saveToken"_s);
        QTRY_VERIFY(sheet.shows(u"configuration.message"_s));

        QCOMPARE(sheet.model().tokenDraft(), otherToken);
        QCOMPARE(textOf(sheet.item(u"configuration.tokenFormTitle"_s)), u"Замена токена"_s);
        QVERIFY(sheet.item(u"configuration.agentToken"_s)->hasActiveFocus());
        QVERIFY(sheet.shows(u"configuration.message"_s));
    }

    void malformedTokenStaysInTheForm() {
        Sheet sheet({});
        sheet.type(u"configuration.agentToken"_s, u"qv_agent_short"_s);
        sheet.click(u"configuration.saveToken"_s);
        QCOMPARE(sheet.model().tokenDraft(), u"qv_agent_short"_s);
        QVERIFY(sheet.shows(u"configuration.agentToken"_s));
        QCOMPARE(textOf(sheet.item(u"configuration.message"_s)),
                 u"Введите корректный токен устройства Quorvane."_s);
    }

    void firstTokenRefusedByTheKeyringLeavesOnlyTheAccessBlock() {
        Sheet sheet(refusingSaves(std::nullopt));
        sheet.type(u"configuration.agentToken"_s, validToken);
        sheet.click(u"configuration.saveToken"_s);

        QVERIFY(sheet.shows(u"configuration.tokenAccessNeeded"_s));
        QVERIFY(sheet.shows(u"configuration.authorizeToken"_s));
        QVERIFY(!sheet.shows(u"configuration.tokenSaved"_s));
        QVERIFY(!sheet.shows(u"configuration.agentToken"_s));
        QVERIFY(!sheet.shows(u"configuration.saveToken"_s));
        QVERIFY(!sheet.shows(u"configuration.replaceToken"_s));
    }

    void accessRequestDisablesTheWholeSection() {
        auto answer = std::make_shared<QSemaphore>();
        PanelScenario scenario = lockedKeyring();
        scenario.authorizeToken = [answer] { answer->acquire(); };
        Sheet sheet(scenario);
        QQuickItem* authorize = sheet.item(u"configuration.authorizeToken"_s);
        QCOMPARE(textOf(authorize), u"Разрешить доступ к токену…"_s);

        sheet.click(u"configuration.authorizeToken"_s);
        QVERIFY(sheet.model().isAuthorizingToken());
        QCOMPARE(textOf(authorize), u"Ожидание ответа хранилища паролей…"_s);
        QVERIFY(!authorize->isEnabled());
        QVERIFY(!sheet.item(u"configuration.tokenSection"_s)->isEnabled());

        answer->release();
        QTRY_VERIFY(!sheet.model().isAuthorizingToken());
        QCOMPARE(textOf(authorize), u"Разрешить доступ к токену…"_s);
        QVERIFY(authorize->isEnabled());
        QVERIFY(sheet.item(u"configuration.tokenSection"_s)->isEnabled());
    }

    void closingTheSheetDiscardsAReplacement_data() {
        QTest::addColumn<Preparation>("close");
        QTest::newRow("Готово") << Preparation(
            [](Sheet& sheet) { sheet.click(u"workspace.done"_s); });
        QTest::newRow("Escape") << Preparation([](Sheet& sheet) { sheet.press(Qt::Key_Escape); });
        QTest::newRow("the view model") << Preparation([](Sheet& sheet) {
            sheet.model().setWorkspaceSheetPresented(false);
            sheet.driver().settle();
        });
    }

    void closingTheSheetDiscardsAReplacement() {
        QFETCH(Preparation, close);

        Sheet sheet(withToken());
        replaceWith(sheet, otherToken);
        close(sheet);
        QVERIFY(!sheet.isOpen());
        QVERIFY(!sheet.model().isWorkspaceSheetPresented());
        QVERIFY(sheet.model().tokenDraft().isEmpty());

        sheet.open();
        QVERIFY(sheet.shows(u"configuration.tokenSaved"_s));
        QVERIFY(sheet.shows(u"configuration.replaceToken"_s));
        QVERIFY(!sheet.shows(u"configuration.agentToken"_s));
    }

    void returnActivatesDone() {
        Sheet sheet({});
        sheet.press(Qt::Key_Return);
        QVERIFY(!sheet.isOpen());
        QVERIFY(!sheet.model().isWorkspaceSheetPresented());
    }

    void tallSheetScrollsWithDoneInView() {
        PanelScenario scenario;
        for (int index = 0; index < 8; ++index) {
            scenario.workspaceRoots.append({u"00000000-0000-4000-8000-00000000000%1"_s.arg(index),
                                            u"/srv/%1"_s.arg(index), false});
        }
        Sheet sheet(scenario);
        sheet.model().setWorkspaceSheetPresented(false);
        sheet.driver().moveToScreen(u"laptop"_s);
        sheet.open();
        QQuickWindow& window = sheet.panel().window();
        QQuickItem* done = sheet.item(u"workspace.done"_s);
        QQuickItem* lastRow =
            sheet.item(u"workspace.savedRoot.00000000-0000-4000-8000-000000000007"_s);
        QVERIFY(WindowDriver::showsWhole(done));
        QVERIFY(!WindowDriver::showsWhole(lastRow));

        const QPoint inside(window.width() / 2, window.height() / 2);
        QWheelEvent wheel(inside, window.mapToGlobal(inside), {}, {0, -120 * 40}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QGuiApplication::sendEvent(&window, &wheel);
        QTRY_VERIFY(WindowDriver::showsWhole(lastRow));
        QVERIFY(WindowDriver::showsWhole(done));
        sheet.panel().click(done);
        QVERIFY(!sheet.isOpen());
    }

    void returnInTheFolderCodeFieldDoesNothing() {
        Sheet sheet({});
        sheet.type(u"workspace.rootID"_s, firstRootID);
        sheet.press(Qt::Key_Return);
        sheet.press(Qt::Key_Enter);
        QVERIFY(sheet.isOpen());
        QCOMPARE(sheet.model().configurationMessage(), std::nullopt);
        QCOMPARE(sheet.model().workspaceRootIDDraft(), firstRootID);
    }

    void saveFolderEnabling_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("chooseFolder");
        QTest::addColumn<bool>("changingState");
        QTest::addColumn<bool>("enabled");

        QTest::newRow("nothing given") << QString() << false << false << false;
        QTest::newRow("folder without a code") << QString() << true << false << false;
        QTest::newRow("code without a folder") << firstRootID << false << false << false;
        QTest::newRow("code of spaces and a folder") << u"   "_s << true << false << true;
        QTest::newRow("code and folder, agent off") << firstRootID << true << false << true;
        QTest::newRow("code and folder while switching") << firstRootID << true << true << false;
    }

    void saveFolderEnabling() {
        QFETCH(QString, code);
        QFETCH(bool, chooseFolder);
        QFETCH(bool, changingState);
        QFETCH(bool, enabled);

        QTemporaryDir folder;
        PanelScenario scenario;
        scenario.chosenFolder = folder.path();
        Sheet sheet(scenario);
        if (!code.isEmpty()) {
            sheet.type(u"workspace.rootID"_s, code);
        }
        if (chooseFolder) {
            sheet.click(u"workspace.selectFolder"_s);
            QCOMPARE(textOf(sheet.item(u"workspace.statusDetail"_s)), folder.path());
        }
        if (changingState) {
            sheet.panel().controller().startCompletesAtOnce = false;
            sheet.model().togglePower();
            sheet.driver().settle();
        }
        QCOMPARE(sheet.model().workspaceRootIDDraft(), code);
        QCOMPARE(sheet.item(u"workspace.save"_s)->isEnabled(), enabled);
    }

    void folderIsSavedWithWriteAccessAndRemoved() {
        QTemporaryDir folder;
        PanelScenario scenario = PanelScenario::reporting(u"running"_s);
        scenario.chosenFolder = folder.path();
        Sheet sheet(scenario);
        QVERIFY(!sheet.shows(u"workspace.savedRoots"_s));

        sheet.type(u"workspace.rootID"_s, u"workspace."_s + firstRootID.toUpper());
        sheet.click(u"workspace.selectFolder"_s);
        sheet.click(u"workspace.writeEnabled"_s);
        QVERIFY(sheet.model().workspaceWriteEnabled());
        sheet.click(u"workspace.save"_s);

        QVERIFY(sheet.shows(u"workspace.savedRoots"_s));
        QCOMPARE(textOf(sheet.savedRoot(firstRootID, u"access"_s)),
                 firstRootID + u" · чтение и запись"_s);
        QVERIFY(textOf(sheet.item(u"workspace.rootID"_s)).isEmpty());
        QVERIFY(!sheet.item(u"workspace.writeEnabled"_s)->property("checked").toBool());
        QVERIFY(!sheet.item(u"workspace.save"_s)->isEnabled());

        QQuickItem* remove = sheet.savedRoot(firstRootID, u"remove"_s);
        QCOMPARE(accessibleName(remove), u"Удалить Workspace "_s + firstRootID);
        sheet.driver().click(remove);
        QVERIFY(sheet.model().workspaceRoots().isEmpty());
        QVERIFY(!sheet.shows(u"workspace.savedRoots"_s));
        QCOMPARE(textOf(sheet.item(u"configuration.message"_s)),
                 u"Workspace удалён из локальной конфигурации."_s);
    }

    void savedFoldersAreListedInOrder() {
        PanelScenario scenario;
        scenario.workspaceRoots = {{firstRootID, u"/srv/проекты"_s, false},
                                   {secondRootID, u"/srv/фото"_s, true}};
        Sheet sheet(scenario);
        QVERIFY(sheet.shows(u"workspace.savedRoots"_s));

        QQuickItem* first = sheet.item(u"workspace.savedRoot."_s + firstRootID);
        QQuickItem* second = sheet.item(u"workspace.savedRoot."_s + secondRootID);
        QVERIFY(first->mapToScene({}).y() < second->mapToScene({}).y());
        for (QQuickItem* row : {first, second}) {
            const auto* remove = WindowDriver::find(row, u"workspace.savedRoot.remove"_s);
            QCOMPARE(remove->mapToItem(row, {0, remove->height() / 2}).y(), row->height() / 2);
        }
        QCOMPARE(textOf(sheet.savedRoot(firstRootID, u"path"_s)), u"/srv/проекты"_s);
        QCOMPARE(textOf(sheet.savedRoot(firstRootID, u"access"_s)),
                 firstRootID + u" · только чтение"_s);
        QCOMPARE(textOf(sheet.savedRoot(secondRootID, u"path"_s)), u"/srv/фото"_s);
        QCOMPARE(textOf(sheet.savedRoot(secondRootID, u"access"_s)),
                 secondRootID + u" · чтение и запись"_s);
        QCOMPARE(textOf(sheet.item(u"workspace.statusDetail"_s)), u"/srv/проекты"_s);
    }

    void pathsCanBeSelected() {
        PanelScenario scenario;
        scenario.workspaceRoots = {{firstRootID, u"/srv/проекты"_s, false}};
        Sheet sheet(scenario);
        for (QQuickItem* text :
             {sheet.item(u"workspace.statusDetail"_s), sheet.savedRoot(firstRootID, u"path"_s)}) {
            sheet.driver().reveal(text);
            const QPointF word = text->mapToScene({text->width() / 4, text->height() / 2});
            QTest::mouseDClick(&sheet.panel().window(), Qt::LeftButton, {}, word.toPoint());
            QVERIFY(!text->property("selectedText").toString().isEmpty());
            QVERIFY(text->property("readOnly").toBool());
        }
    }

    void messageLineOnlyWithAMessage() {
        QTemporaryDir folder;
        PanelScenario scenario;
        scenario.chosenFolder = folder.path();
        Sheet sheet(scenario);
        QVERIFY(!sheet.shows(u"configuration.message"_s));

        sheet.type(u"workspace.rootID"_s, firstRootID);
        sheet.click(u"workspace.selectFolder"_s);
        sheet.click(u"workspace.save"_s);
        QQuickItem* message = sheet.item(u"configuration.message"_s);
        QVERIFY(message->isVisible());
        QVERIFY(textOf(message).startsWith(u"Сначала включите агент"_s));
        QCOMPARE(message->property("color").value<QColor>(), SystemColors::orange());
        QCOMPARE(sheet.model().workspaceRootIDDraft(), firstRootID);

        sheet.click(u"workspace.selectFolder"_s);
        QVERIFY(!message->isVisible());
    }

    void refreshContinuesWhileTheFolderDialogIsOpen() {
        // The dialog is modal and runs its own event loop, as the desktop's dialog does.
        PanelFixture* panel = nullptr;
        bool refreshedMeanwhile = false;
        PanelScenario scenario;
        scenario.chooseFolder = [&panel, &refreshedMeanwhile] {
            const int before = panel->controller().refreshCount;
            refreshedMeanwhile =
                QTest::qWaitFor([&] { return panel->controller().refreshCount > before; }, 10000);
            return std::optional(u"/srv/chosen"_s);
        };
        Sheet sheet(scenario);
        panel = &sheet.panel();
        sheet.click(u"workspace.selectFolder"_s);
        QVERIFY(refreshedMeanwhile);
        QCOMPARE(sheet.model().workspacePath(), std::optional(u"/srv/chosen"_s));
    }

    void savingShowsTheMessageAndDoneInTheWindow_data() {
        QTest::addColumn<QString>("screenName");
        QTest::newRow("large screen: the window grows to the sheet") << u"desktop"_s;
        QTest::newRow("1366×768: the sheet scrolls") << u"laptop"_s;
    }

    void savingShowsTheMessageAndDoneInTheWindow() {
        QFETCH(QString, screenName);
        PanelScenario scenario;
        scenario.workspaceRoots = {{firstRootID, u"/srv/first"_s, false}};
        scenario.chosenFolder = u"/srv/second"_s;
        Sheet sheet(scenario);
        sheet.model().setWorkspaceSheetPresented(false);
        QQuickWindow& window = sheet.panel().window();
        sheet.driver().moveToScreen(screenName);
        window.resize(840, 720);
        sheet.open();

        sheet.type(u"workspace.rootID"_s, secondRootID);
        sheet.click(u"workspace.selectFolder"_s);
        sheet.click(u"workspace.save"_s);
        QVERIFY(sheet.model().property("hasConfigurationMessage").toBool());
        QTRY_VERIFY(WindowDriver::showsWhole(sheet.item(u"configuration.message"_s)));
        QVERIFY(WindowDriver::showsWhole(sheet.item(u"workspace.done"_s)));

        sheet.press(Qt::Key_Escape);
        QVERIFY(!sheet.isOpen());
        QTRY_COMPARE(window.height(), 720);
    }
};

QTEST_MAIN(WorkspaceSettingsViewTest)
#include "tst_WorkspaceSettingsView.moc"
