// The real window and its settings sheet over test doubles. One table per rule (every control
// shows keyboard focus and acts on Return, the window fits small and scaled screens, screen
// readers find every control, the status card follows the state), then whole journeys through
// the window.
#include <QAccessible>
#include <QScreen>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include "tests/ui/PanelFixture.h"
#include "ui/AgentStatusPresentation.h"
#include "ui/SystemColors.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

using Steps = std::function<void(PanelFixture&)>;
using State = AgentServiceState;
using Extra = AgentStatusPresentation::ExtraButton;
const QString validToken = u"qv_agent_"_s + QString(43, u'A');
const QString otherToken = u"qv_agent_"_s + QString(43, u'b');
const QString firstRootID = u"11111111-1111-4111-8111-111111111111"_s;
const QString secondRootID = u"22222222-2222-4222-8222-222222222222"_s;
const QString updateInstruction =
    u"В beta обновление вручную: завершите Quorvane и установите "
    u"новый пакет. Настройки сохранятся."_s;
const Steps nothing = [](PanelFixture&) {};
const QString blockedDetail = u"Фоновый запуск Quorvane запрещён: служба замаскирована в systemd"_s;

// Everything the window and the sheet can show at once: the configure button, a saved token,
// two folders, a log, a chosen folder.
PanelScenario everythingShown() {
    PanelScenario scenario = PanelScenario::reporting(u"needs_configuration"_s);
    scenario.token = validToken;
    scenario.workspaceRoots = {{firstRootID, u"/srv/first"_s, true},
                               {secondRootID, u"/srv/second"_s, false}};
    scenario.chosenFolder = u"/srv/chosen"_s;
    for (int line = 0; line < 20; ++line) {
        scenario.agentLog.append(u"12:00:%1  событие %1"_s.arg(line));
    }
    return scenario;
}

void openSheet(PanelFixture& panel) {
    panel.model().setWorkspaceSheetPresented(true);
    panel.settle();
}

void openSheetWithDrafts(PanelFixture& panel) {
    panel.model().setWorkspaceRootIDDraft(u"00000000-0000-4000-8000-000000000009"_s);
    panel.model().selectWorkspaceFolder();
    openSheet(panel);
}

// The parts of the token section on screen.
QString tokenSection(PanelFixture& panel) {
    QStringList shown;
    for (const char* part : {"tokenAccessNeeded", "authorizeToken", "tokenSaved", "replaceToken",
                             "agentToken", "saveToken", "cancelTokenReplacement"}) {
        if (panel.shows(u"configuration."_s + QString::fromUtf8(part))) {
            shown.append(QString::fromUtf8(part));
        }
    }
    return shown.join(u' ');
}

QString textOf(QQuickItem* item) {
    return item->property("text").toString();
}

// The texts of the log view's rows that exist, top to bottom.
QStringList shownLines(QQuickItem* list) {
    QList<QQuickItem*> rows = list->property("contentItem").value<QQuickItem*>()->childItems();
    std::sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
    QStringList texts;
    for (QQuickItem* row : rows) {
        if (row->property("line").isValid()) {
            texts.append(textOf(row));
        }
    }
    return texts;
}

QQuickItem* savedRoot(PanelFixture& panel, const QString& rootID, const char* part) {
    return WindowDriver::find(panel.item(u"workspace.savedRoot."_s + rootID),
                              u"workspace.savedRoot."_s + QString::fromUtf8(part));
}

// What pressing a control can change: the view model's properties and the window's picture.
std::pair<QVariantList, QImage> observe(PanelFixture& panel) {
    QVariantList properties;
    const QMetaObject* type = panel.model().metaObject();
    for (int index = type->propertyOffset(); index < type->propertyCount(); ++index) {
        properties.append(type->property(index).read(&panel.model()));
    }
    return {properties, panel.window().grabWindow()};
}

// The controls on screen, by object name.
QStringList shownNames(QQuickItem* item) {
    QStringList names;
    if (item->isVisible() && !item->objectName().isEmpty()) {
        names.append(item->objectName());
    }
    for (QQuickItem* child : item->childItems()) {
        names += shownNames(child);
    }
    return names;
}

// The names a screen reader reads below `interface`, a line each.
QString accessibleNames(QAccessibleInterface* interface) {
    QString names = interface->text(QAccessible::Name) + u'\n';
    for (int index = 0; index < interface->childCount(); ++index) {
        if (QAccessibleInterface* child = interface->child(index)) {
            names += accessibleNames(child);
        }
    }
    return names;
}

QColor discColor(PanelFixture& panel) {
    return panel.item(u"disc"_s)
        ->property("border")
        .value<QObject*>()
        ->property("color")
        .value<QColor>();
}

}  // namespace

Q_DECLARE_METATYPE(quorvane::testing::PanelScenario)
Q_DECLARE_METATYPE(Steps)

class MainWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainWindow::configureApplication(); }

    // Every control shows keyboard focus, has a name, and Return, Enter and a screen reader's
    // "activate" act as a click does: on the view model or on what the window shows, not merely on
    // the control's own picture. A text field takes them without acting. The row's name is the
    // control's.
    void controlActsOnKeysAndScreenReaders_data() {
        QTest::addColumn<PanelScenario>("scenario");
        QTest::addColumn<Steps>("steps");
        for (const auto& [control, steps] :
             QList<std::pair<const char*, Steps>>{{"agent.powerButton", nothing},
                                                  {"agent.configureConnection", nothing},
                                                  {"workspace.configure", nothing},
                                                  {"agent.logHeader", nothing},
                                                  {"agent.checkUpdates", nothing},
                                                  {"configuration.replaceToken", openSheet},
                                                  {"workspace.rootID", openSheet},
                                                  {"workspace.selectFolder", openSheet},
                                                  {"workspace.writeEnabled", openSheet},
                                                  {"workspace.savedRoot.remove", openSheet},
                                                  {"workspace.done", openSheet},
                                                  {"workspace.save", openSheetWithDrafts}}) {
            QTest::newRow(control) << everythingShown() << steps;
        }
        QTest::newRow("agent.openLoginItemsSettings")
            << PanelScenario{.registration = State::requiresApproval()} << nothing;
        QTest::newRow("configuration.agentToken") << PanelScenario() << Steps(openSheet);
        QTest::newRow("configuration.cancelTokenReplacement")
            << everythingShown() << Steps([](PanelFixture& panel) {
                   openSheet(panel);
                   panel.click(u"configuration.replaceToken"_s);
               });
        // The desktop refuses: a lasting change, unlike an unlock that finds the store locked.
        QTest::newRow("configuration.authorizeToken")
            << PanelScenario{.token = validToken,
                             .keyringLocked = true,
                             .authorizeToken = [] { throw std::runtime_error("refused"); }}
            << Steps(openSheet);
        QTest::newRow("configuration.saveToken")
            << PanelScenario() << Steps([](PanelFixture& panel) {
                   openSheet(panel);
                   panel.model().setTokenDraft(validToken);
                   panel.settle();
               });
    }

    void controlActsOnKeysAndScreenReaders() {
        QFETCH(PanelScenario, scenario);
        QFETCH(Steps, steps);
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_unknown}) {
            PanelFixture panel(scenario);
            steps(panel);
            QQuickItem* item = panel.item(QString::fromUtf8(QTest::currentDataTag()));
            QVERIFY(item->isVisible() && item->isEnabled());
            const bool field = item->inherits("QQuickTextField");
            if (key == Qt::Key_unknown) {  // the screen reader's press
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(item);
                QAccessibleActionInterface* actions =
                    accessible ? accessible->actionInterface() : nullptr;
                QVERIFY(actions != nullptr);
                QVERIFY(!accessible->text(QAccessible::Name).trimmed().isEmpty());
                const auto observed = [&] {
                    return std::pair(observe(panel).first,
                                     shownNames(panel.window().contentItem()));
                };
                const auto before = observed();
                actions->doAction(QAccessibleActionInterface::pressAction());
                panel.settle();
                QTRY_VERIFY((observed() == before) == field);
                continue;
            }
            panel.reveal(item);
            const QRect around =
                item->mapRectToScene(item->boundingRect()).toAlignedRect().adjusted(-6, -6, 6, 6);
            const QImage unfocused = panel.window().grabWindow().copy(around);
            item->forceActiveFocus(Qt::TabFocusReason);
            panel.settle();
            QVERIFY(item->hasActiveFocus());
            QVERIFY(panel.window().grabWindow().copy(around) != unfocused);
            const auto before = observe(panel);
            panel.press(key);
            QVERIFY2((observe(panel) == before) == field,
                     key == Qt::Key_Return ? "Return" : "Enter");
        }
    }

    void tabFollowsTheReadingOrder() {
        PanelFixture panel(everythingShown());
        QStringList visited;
        for (int press = 0; press < 12; ++press) {
            if (press == 5) {
                openSheet(panel);
            }
            panel.press(Qt::Key_Tab);
            visited.append(panel.window().activeFocusItem()->objectName());
        }
        QCOMPARE(visited, (QStringList{u"agent.powerButton"_s, u"agent.configureConnection"_s,
                                       u"workspace.configure"_s, u"agent.logHeader"_s,
                                       u"agent.checkUpdates"_s, u"configuration.replaceToken"_s,
                                       u"workspace.rootID"_s, u"workspace.selectFolder"_s,
                                       u"workspace.writeEnabled"_s, u"workspace.savedRoot.remove"_s,
                                       u"workspace.savedRoot.remove"_s, u"workspace.done"_s}));
    }

    void windowFitsTheScreen_data() {
        QTest::addColumn<QString>("screenName");
        QTest::addColumn<qreal>("scale");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("sheet");
        QTest::newRow("1366×768") << u"laptop"_s << 1.0 << 0 << false;
        // What a top panel and a title bar leave of a 1920×1080 screen at 150 %.
        QTest::newRow("1920×1080 at 150 % under panels") << u"scaled"_s << 1.5 << 600 << false;
        QTest::newRow("sheet at 840×720: the window grows") << u"desktop"_s << 1.0 << 720 << true;
        QTest::newRow("sheet at 840×720 on 1366×768: it scrolls")
            << u"laptop"_s << 1.0 << 720 << true;
    }

    void windowFitsTheScreen() {
        QFETCH(QString, screenName);
        QFETCH(qreal, scale);
        QFETCH(int, height);
        QFETCH(bool, sheet);
        PanelFixture panel(everythingShown());
        panel.model().setLogExpanded(true);
        panel.model().setUpdateStatus(updateInstruction);
        QQuickWindow& window = panel.window();
        const QScreen* screen = panel.moveToScreen(screenName);
        QCOMPARE(screen->devicePixelRatio(), scale);
        if (height > 0) {
            window.resize(window.width(), height);
        }
        if (sheet) {
            // Saving a folder leaves its message and "Готово" in view.
            openSheetWithDrafts(panel);
            panel.click(u"workspace.save"_s);
            QTRY_VERIFY(WindowDriver::showsWhole(panel.item(u"configuration.message"_s)));
            QVERIFY(WindowDriver::showsWhole(panel.item(u"workspace.done"_s)));
            panel.press(Qt::Key_Escape);
            QTRY_COMPARE(window.height(), 720);
            return;
        }
        panel.settle();
        QVERIFY(window.width() <= screen->availableGeometry().width());
        QVERIFY(window.height() < screen->availableGeometry().height());
        QVERIFY(height == 0 || window.height() == height);
        for (const char* control :
             {"agent.powerButton", "agent.status.detail", "agent.configureConnection",
              "workspace.configure", "agent.logHeader", "agent.log", "app.version",
              "agent.checkUpdates", "agent.updateStatus", "app.credit"}) {
            QQuickItem* item = panel.item(QString::fromUtf8(control));
            panel.reveal(item);
            QVERIFY2(WindowDriver::showsWhole(item), control);
        }
    }

    void screenReadersReadTheFoldersTheLogAndTheLabels() {
        PanelFixture panel(everythingShown());
        panel.model().setLogExpanded(true);
        panel.model().refresh();
        openSheetWithDrafts(panel);
        const QString names =
            accessibleNames(QAccessible::queryAccessibleInterface(&panel.window()));
        for (const QString& text :
             everythingShown().agentLog +
                 QStringList{u"/srv/first"_s, u"/srv/second"_s, u"Код папки из кабинета"_s,
                             u"Выключить Quorvane Agent. Состояние: Нужна настройка"_s,
                             u"Удалить Workspace "_s + firstRootID}) {
            QVERIFY2(names.contains(text), qPrintable(text));
        }
    }

    // What the card shows for each state: the pill, the agent's text verbatim, whether the
    // agent counts as on and can be switched, and the one button that leads to a fix.
    void statusPresentation_data() {
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("token");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<bool>("on");
        QTest::addColumn<Extra>("extra");
        const auto row = [](const char* name, const State& state, bool token, const char* title,
                            const QString& detail, const QColor& color, bool on,
                            Extra extra = Extra::NoExtraButton) {
            QTest::newRow(name) << state << token << QString::fromUtf8(title) << detail << color
                                << on << extra;
        };
        const QString folderAdvice =
            u"Откройте настройку подключения и добавьте папку Workspace."_s;
        const Extra configure = Extra::ConfigureConnection;
        const QColor orange = SystemColors::orange(), red = SystemColors::red();
        row("no token: asks for one", State::needsConfiguration(u"нет токена"_s), false,
            "Нужна настройка",
            u"Откройте настройку подключения и вставьте токен устройства из кабинета Quorvane."_s,
            orange, true, configure);
        row("token: the agent's text", State::needsConfiguration(u"Добавьте папку"_s), true,
            "Нужна настройка", u"Добавьте папку"_s, orange, true, configure);
        row("token, no text: asks for a folder", State::needsConfiguration(), true,
            "Нужна настройка", folderAdvice, orange, true, configure);
        row("agent's error, verbatim", State::serviceError(u"<b>x</b> &amp;"_s), true, "Ошибка",
            u"<b>x</b> &amp;"_s, red, true);
        row("failed", State::failed(u"Нет шины"_s), true, "Ошибка", u"Нет шины"_s, red, false);
        row("stopped", State::stopped(), true, "Выключен", u"Агент не запускается в фоне"_s,
            SystemColors::secondaryLabel(), false);
        row("starting", State::starting(), true, "Подключается", u"Фоновая служба запускается"_s,
            orange, true);
        row("running", State::running(), true, "Включён",
            u"Агент работает · состояние соединения — в журнале"_s, SystemColors::green(), true);
        row("masked", State::requiresApproval(), true, "Требуется разрешение", blockedDetail,
            orange, true, Extra::AllowBackgroundStart);
        row("unavailable", State::unavailable(), true, "Служба недоступна",
            u"В комплекте приложения не найден фоновый компонент"_s, red, false);
    }

    void statusPresentation() {
        QFETCH(State, state);
        QFETCH(bool, token);
        AgentStatusPresentation presentation;
        presentation.setServiceState(state);
        presentation.setHasSavedToken(token);
        QTEST(presentation.pillTitle(), "title");
        QTEST(presentation.detail(), "detail");
        QTEST(presentation.statusColor(), "color");
        QTEST(presentation.isOn(), "on");
        QTEST(presentation.extraButton(), "extra");
        QCOMPARE(presentation.allowsPowerChange(), state != State::unavailable());
    }

    // The card shows its presentation: the extra button sits below the detail and lifts
    // the mask; without an agent the power button is off and cannot be pressed.
    void statusCardShowsItsPresentation() {
        PanelFixture panel({.registration = State::requiresApproval()});
        QQuickItem* pill = panel.item(u"agent.status.title"_s);
        QQuickItem* detail = panel.item(u"agent.status.detail"_s);
        QCOMPARE(pill->property("color").value<QColor>(), SystemColors::orange());
        QCOMPARE(textOf(detail), blockedDetail);
        QCOMPARE(discColor(panel), SystemColors::green());
        QVERIFY(!panel.shows(u"agent.configureConnection"_s));
        const QString allow = u"agent.openLoginItemsSettings"_s;
        QTRY_VERIFY(panel.item(allow)->y() > detail->y() + detail->height());
        panel.click(allow);
        QCOMPARE(panel.controller().changes, QStringList{u"unmask"_s});

        PanelFixture missing({.registration = State::unavailable()});
        QVERIFY(!missing.item(u"agent.powerButton"_s)->isEnabled());
        QCOMPARE(discColor(missing), SystemColors::gray());
    }

    void journeyThroughTheMainWindow() {
        PanelScenario scenario;
        scenario.agentLog = {u"10:00:00  агент запущен"_s, u"10:00:01  подключено"_s};
        PanelFixture panel(scenario);
        QCOMPARE(textOf(panel.item(u"app.version"_s)), u"Версия 1.2 (45)"_s);

        // Switching on shows the button busy and disabled.
        panel.controller().startCompletesAtOnce = false;
        panel.click(u"agent.powerButton"_s);
        QVERIFY(panel.shows(u"spinner"_s) && !panel.shows(u"powerSymbol"_s));
        QVERIFY(!panel.item(u"agent.powerButton"_s)->isEnabled());
        panel.controller().finishStart();
        QVERIFY(panel.item(u"agent.powerButton"_s)->isEnabled());

        QQuickItem* log = panel.item(u"agent.log"_s);
        panel.click(u"agent.logHeader"_s);
        QVERIFY(log->isVisible() && log->height() >= 112 && log->height() <= 180);
        panel.model().refresh();
        panel.settle();
        QCOMPARE(shownLines(panel.item(u"agent.logLines"_s)), scenario.agentLog);
        panel.click(u"agent.logHeader"_s);
        QVERIFY(!log->isVisible());

        panel.click(u"agent.checkUpdates"_s);
        panel.click(u"agent.checkUpdates"_s);
        QCOMPARE(textOf(panel.item(u"agent.updateStatus"_s)), updateInstruction);

        // The whole card opens the sheet, also near its edge; Escape closes it.
        QQuickItem* card = panel.item(u"workspace.configure"_s);
        QTest::mouseClick(&panel.window(), Qt::LeftButton, {},
                          card->mapToScene(QPointF(card->width() - 4, 4)).toPoint());
        QVERIFY(panel.sheetIsOpen());
        panel.press(Qt::Key_Escape);
        QVERIFY(!panel.sheetIsOpen() && !panel.model().isWorkspaceSheetPresented());

        panel.click(u"agent.powerButton"_s);
        QCOMPARE(panel.controller().changeCount(u"disable"_s), 1);
        QCOMPARE(textOf(panel.item(u"agent.status.title"_s)), u"Выключен"_s);
    }

    void tokenIsTypedSavedAndReplaced() {
        PanelFixture panel({});
        QCOMPARE(textOf(panel.item(u"workspace.tokenStatus"_s)), u"Токен не добавлен"_s);
        // Return with no field to take it presses "Готово".
        openSheet(panel);
        panel.press(Qt::Key_Return);
        QVERIFY(!panel.sheetIsOpen() && !panel.model().isWorkspaceSheetPresented());
        openSheet(panel);
        QCOMPARE(tokenSection(panel), u"agentToken saveToken"_s);
        // Nothing but white space and line breaks is no token; U+FEFF is text.
        for (const QString& blank : {u" \t\n\r\v\f"_s, u"\u00a0\u2028\u2029\u3000\u0085\u2007"_s}) {
            panel.model().setTokenDraft(blank);
            QVERIFY(!panel.item(u"configuration.saveToken"_s)->isEnabled());
        }
        panel.model().setTokenDraft(u"\ufeff"_s);
        QVERIFY(panel.item(u"configuration.saveToken"_s)->isEnabled());
        panel.model().setTokenDraft({});
        panel.click(u"configuration.agentToken"_s);
        panel.type(u"  "_s + validToken);
        const QString shown =
            panel.item(u"configuration.agentToken"_s)->property("displayText").toString();
        QVERIFY(!shown.contains(u"qv_"_s));
        panel.click(u"configuration.saveToken"_s);
        QTRY_COMPARE(tokenSection(panel), u"tokenSaved replaceToken"_s);

        // Replacing starts empty and focused; closing the sheet discards it.
        panel.model().setTokenDraft(u"stale"_s);
        panel.click(u"configuration.replaceToken"_s);
        QCOMPARE(tokenSection(panel), u"tokenSaved agentToken saveToken cancelTokenReplacement"_s);
        QVERIFY(panel.model().tokenDraft().isEmpty());
        QVERIFY(panel.item(u"configuration.agentToken"_s)->hasActiveFocus());
        panel.type(otherToken);
        panel.press(Qt::Key_Escape);
        QVERIFY(panel.model().tokenDraft().isEmpty());
        openSheet(panel);
        QVERIFY(panel.shows(u"configuration.replaceToken"_s) &&
                !panel.shows(u"configuration.agentToken"_s));

        panel.click(u"configuration.replaceToken"_s);
        panel.type(otherToken);
        panel.click(u"configuration.saveToken"_s);
        QTRY_COMPARE(tokenSection(panel), u"tokenSaved replaceToken"_s);

        // A refused replacement keeps its form until cancelled.
        panel.tokens().refusesSave = true;
        panel.click(u"configuration.replaceToken"_s);
        panel.type(otherToken);
        panel.click(u"configuration.saveToken"_s);
        QTRY_COMPARE(tokenSection(panel),
                     u"tokenAccessNeeded authorizeToken tokenSaved agentToken "
                     u"saveToken cancelTokenReplacement"_s);
        QCOMPARE(textOf(panel.item(u"configuration.tokenFormTitle"_s)), u"Замена токена"_s);
        QVERIFY(panel.item(u"configuration.agentToken"_s)->hasActiveFocus());
        // The card's symbol follows the saved token, also while access is needed.
        QCOMPARE(panel.item(u"workspace.tokenStatus"_s)->property("symbol"),
                 QVariant(u"security-high-symbolic"_s));
        panel.click(u"configuration.cancelTokenReplacement"_s);
        QCOMPARE(tokenSection(panel),
                 u"tokenAccessNeeded authorizeToken tokenSaved replaceToken"_s);
    }

    // A locked keyring: the card says so, and the access request disables the token section.
    void lockedKeyringIsSummarisedAndAccessRequested() {
        auto answer = std::make_shared<QSemaphore>();
        PanelFixture panel({.token = validToken,
                            .keyringLocked = true,
                            .authorizeToken = [answer] { answer->acquire(); },
                            .workspaceRoots = everythingShown().workspaceRoots,
                            .fullUserName = {}});
        QQuickItem* token = panel.item(u"workspace.tokenStatus"_s);
        QCOMPARE(textOf(token), u"Токен: нужен доступ к хранилищу паролей"_s);
        QCOMPARE(token->property("symbol"), QVariant(u"security-low-symbolic"_s));
        QCOMPARE(token->property("color").value<QColor>(), SystemColors::orange());
        QCOMPARE(textOf(panel.item(u"workspace.folderStatus"_s)), u"Локально сохранено папок: 2"_s);
        QCOMPARE(textOf(panel.item(u"workspace.account"_s)), u"Пользователь: anna"_s);
        openSheet(panel);
        QCOMPARE(tokenSection(panel), u"tokenAccessNeeded authorizeToken"_s);
        QQuickItem* authorize = panel.item(u"configuration.authorizeToken"_s);
        panel.click(authorize);
        QCOMPARE(textOf(authorize), u"Ожидание ответа хранилища паролей…"_s);
        QVERIFY(!panel.item(u"configuration.tokenSection"_s)->isEnabled());
        answer->release();
        QTRY_VERIFY(panel.item(u"configuration.tokenSection"_s)->isEnabled());
        QCOMPARE(textOf(authorize), u"Разрешить доступ к токену…"_s);
    }

    // The chooser is modal and runs its own event loop, as the desktop's does; the window's
    // refreshes go on meanwhile.
    void folderIsRefusedWhileOffThenSavedListedAndRemoved() {
        QTemporaryDir folder;
        PanelFixture* shown = nullptr;
        int choices = 0;
        int refreshedMeanwhile = 0;
        PanelScenario scenario;
        scenario.chooseFolder = [&] {
            const int before = shown->controller().refreshCount;
            ++choices;
            refreshedMeanwhile +=
                QTest::qWaitFor([&] { return shown->controller().refreshCount > before; }, 10000);
            return std::optional(folder.path());
        };
        scenario.workspaceRoots = {{secondRootID, u"/srv/фото"_s, false}};
        PanelFixture panel(scenario);
        shown = &panel;
        openSheet(panel);
        panel.click(u"workspace.rootID"_s);
        panel.type(u"workspace."_s + firstRootID.toUpper());
        QVERIFY(!panel.item(u"workspace.save"_s)->isEnabled());  // no folder yet
        panel.click(u"workspace.selectFolder"_s);
        QCOMPARE(textOf(panel.item(u"workspace.statusDetail"_s)), folder.path());
        panel.click(u"workspace.writeEnabled"_s);
        panel.click(u"workspace.save"_s);
        QQuickItem* message = panel.item(u"configuration.message"_s);
        QVERIFY(textOf(message).startsWith(u"Сначала включите агент"_s));
        QCOMPARE(message->property("color").value<QColor>(), SystemColors::orange());
        panel.click(u"workspace.selectFolder"_s);
        QVERIFY(!message->isVisible());
        QCOMPARE(refreshedMeanwhile, choices);

        // While the agent is switching the folder waits.
        panel.controller().startCompletesAtOnce = false;
        panel.model().togglePower();
        panel.settle();
        QVERIFY(!panel.item(u"workspace.save"_s)->isEnabled());
        panel.controller().finishStart();
        panel.click(u"workspace.save"_s);
        QCOMPARE(textOf(savedRoot(panel, firstRootID, "access")),
                 firstRootID + u" · чтение и запись"_s);
        QCOMPARE(textOf(savedRoot(panel, secondRootID, "access")),
                 secondRootID + u" · только чтение"_s);
        QVERIFY(savedRoot(panel, firstRootID, "path")->mapToScene({}).y() <
                savedRoot(panel, secondRootID, "path")->mapToScene({}).y());
        QVERIFY(textOf(panel.item(u"workspace.rootID"_s)).isEmpty());
        QVERIFY(!panel.item(u"workspace.writeEnabled"_s)->property("checked").toBool());

        // A path can be selected, to be copied.
        QQuickItem* path = savedRoot(panel, secondRootID, "path");
        panel.reveal(path);
        QTest::mouseDClick(&panel.window(), Qt::LeftButton, {},
                           path->mapToScene({path->width() / 4, path->height() / 2}).toPoint());
        QVERIFY(!path->property("selectedText").toString().isEmpty());

        for (const QString& rootID : {firstRootID, secondRootID}) {
            panel.click(savedRoot(panel, rootID, "remove"));
        }
        QVERIFY(!panel.shows(u"workspace.savedRoots"_s));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_MainWindow.moc"
