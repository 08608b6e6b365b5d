#include <QSignalSpy>
#include <QTest>
#include <atomic>

#include "agent/AgentCombinedState.h"
#include "agent/AgentServiceError.h"
#include "agent/AgentViewModel.h"
#include "config/AgentConfigurationError.h"
#include "config/AgentTokenStorageError.h"
#include "config/PlatformWording.h"
#include "tests/support/ViewModelRig.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;
using State = AgentServiceState;

namespace quorvane {
char* toString(const AgentServiceState& state) {
    return QTest::toString(state.kindName() + u" "_s + state.message().value_or(QString()));
}
}  // namespace quorvane

namespace {

const QString validToken = u"qv_agent_"_s + QString(43, u'x');
const QString rootA = u"0b6a3d1e-5f2c-4e8a-9d7b-1c2e3f4a5b6c"_s;
const PlatformWording wording = PlatformWording::current();
const QString noBus = u"Не удалось изменить фоновый запуск: нет шины"_s;
const QString locked =
    AgentTokenStorageError(AgentTokenStorageError::interactionNotAllowed).message();
const State off = State::stopped(), on = State::running(), waiting = State::starting();

// Setup, actions and the manager's changes are words; the message "-" means none.
void addRow(const char* name, const State& registration, const char* setup, const char* actions,
            const char* changes, const State& shown, const QString& message = u"-"_s,
            const QString& log = {}) {
    QTest::newRow(name) << QString::fromUtf8(setup) << QString::fromUtf8(actions) << message << log
                        << registration << shown
                        << QString::fromUtf8(changes).split(u' ', Qt::SkipEmptyParts);
}

// Sets up what the row's setup words name, runs its actions in order (a user's action, an
// answer of the manager, or a check on the way), then compares the manager's changes and what
// the panel shows.
void runScenario() {
    QFETCH(State, registration);
    QFETCH(QString, setup);
    QFETCH(QString, actions);
    QFETCH(QString, message);
    QFETCH(QString, log);
    const auto has = [words = setup.split(u' ')](const char* word) {
        return words.contains(QLatin1StringView(word));
    };
    // Shared with the grant, which runs on a worker and unlocks the store.
    const auto tokens = std::make_shared<FakeTokenStore>();
    tokens->token = has("token") ? std::optional(validToken) : std::nullopt;
    tokens->refusesRead = has("locked");
    tokens->refusesSave = has("saveLocked");
    const auto authorizations = std::make_shared<std::atomic<int>>(0);
    const auto authorize = [tokens, authorizations, denied = has("denied")] {
        ++*authorizations;
        if (denied) {
            throw AgentTokenStorageError(AgentTokenStorageError::userCanceled);
        }
        tokens->refusesRead = false;
    };
    PanelScenario scenario{.registration = registration,
                           .tokenStore = tokens,
                           .authorizeToken = authorize,
                           .ownsPanelName = !has("notOwner")};
    if (has("folder")) {
        scenario.workspaceRoots = {{rootA, QDir::tempPath(), false}};
    }
    ViewModelRig rig(scenario);
    AgentViewModel& model = rig.model();
    FakeServiceController& controller = rig.controller();
    const std::exception_ptr failure = std::make_exception_ptr(
        has("refused") ? AgentServiceError(AgentServiceError::Kind::refused, u"Access denied"_s)
                       : AgentServiceError(AgentServiceError::Kind::other, u"нет шины"_s));
    controller.startCompletesAtOnce = !has("later");
    controller.refreshCompletesAtOnce = !has("refreshLater");
    controller.startThrows = has("startThrows");
    controller.startFailure = has("startFails") || has("startThrows") ? failure : nullptr;
    controller.stopFailure = has("stopFails") ? failure : nullptr;
    controller.unmaskFailure = has("unmaskFails") ? failure : nullptr;
    controller.leftover = has("leftover");
    const QDateTime begin = rig.clock;
    for (const QString& action : actions.split(u' ', Qt::SkipEmptyParts)) {
        if (action == u"power") {
            model.togglePower();
        } else if (action == u"finish") {
            QTRY_VERIFY(model.isChangingState());
            // A start is pending: no lease meanwhile, also when the agent was running.
            QCOMPARE(rig.agent() ? rig.agent()->openConnections() : 0, 0);
            controller.finishStart();
        } else if (action == u"registered") {
            controller.registration = on;
        } else if (action.startsWith(u"health=")) {  // the agent listens and reports
            rig.listen();
            rig.health().report(action.mid(7));
        } else if (action == u"stale" || action == u"written") {
            rig.health().snapshot->writtenAt = rig.clock.addSecs(action == u"stale" ? -1 : 0);
        } else if (action.startsWith(u"at=")) {
            rig.clock = begin.addMSecs(qRound64(action.mid(3).toDouble() * 1000));
        } else if (action.startsWith(u"shows=")) {
            QCOMPARE(model.serviceState().kindName(), action.mid(6));
        } else if (action == u"confirm") {
            rig.listen();
            rig.health().report(u"running"_s);
            model.refresh();
            QCOMPARE(model.serviceState(), on);
        } else if (action == u"refresh") {
            model.refresh();
        } else if (action == u"answer") {
            controller.finishRefresh();
        } else if (action.startsWith(u"asked=")) {
            QCOMPARE(controller.refreshCount, action.mid(6).toInt());
        } else if (action == u"unmask") {
            model.openLoginItemsSettings();
        } else if (action == u"shutdown") {
            model.shutdown();
            model.shutdown();
            QCOMPARE(rig.agent() ? rig.agent()->openConnections() : 0, 0);
        } else if (action == u"saveToken" || action == u"badToken") {
            const bool valid = action == u"saveToken";
            model.setTokenDraft(valid ? u" "_s + validToken + u"\n"_s : u"qv_agent_x"_s);
            QCOMPARE(model.saveToken(), valid);
            QVERIFY(!model.saveToken());  // ignored while saving
            QTRY_VERIFY(!model.isSavingToken());
            QCOMPARE(model.tokenDraft().isEmpty(), valid && !tokens->refusesSave);
        } else if (action == u"accessNeeded") {
            QVERIFY(model.tokenAccessNeeded());
        } else if (action == u"authorize") {
            model.authorizeTokenAccess();
            model.authorizeTokenAccess();  // ignored while waiting
            QTRY_VERIFY(!model.isAuthorizingToken());
        } else if (action == u"choose") {
            model.selectWorkspaceFolder();
        } else if (action == u"save") {
            model.setWorkspaceRootIDDraft(u"workspace."_s + rootA.toUpper());
            model.setWorkspaceWriteEnabled(true);
            model.saveWorkspace();
        } else if (action == u"remove" || action == u"removeBadID") {
            model.removeWorkspace(action == u"remove" ? rootA : u"nope"_s);
        } else {
            QFAIL(qPrintable(u"unknown action "_s + action));
        }
    }
    QTRY_COMPARE(model.configurationMessage().value_or(u"-"_s), message);
    QTEST(controller.changes, "changes");
    QTEST(model.serviceState(), "shown");
    const QString lastLog = model.logEntries().constLast();
    QVERIFY2(lastLog.endsWith(log), qPrintable(lastLog));
    QVERIFY(!model.isChangingState());
    QCOMPARE(model.workspaceRoots(), rig.store().loadFile().workspaceRoots);
    QCOMPARE(authorizations->load(), actions.contains(u"authorize"_s) ? 1 : 0);
}

}  // namespace

class TestAgentViewModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The registration, the lease and the health file settle the state or leave it awaited.
    void settledState_data() {
        QTest::addColumn<State>("registration");
        QTest::addColumn<bool>("leaseConnected");
        QTest::addColumn<QString>("health");  // as for FakeHealthReader::report
        QTest::addColumn<std::optional<State>>("settled");
        QTest::addColumn<bool>("healthRead");
        const auto row = [](const char* name, const QString& health, std::optional<State> settled,
                            const State& registration = on, bool lease = true, bool read = true) {
            QTest::newRow(name) << registration << lease << health << settled << read;
        };
        row("stopped, health unread", u"running"_s, off, off, true, false);
        row("lease not connected", u"running"_s, std::nullopt, on, false, false);
        // So does any status but running, needs_configuration and error (rows of scenario).
        row("no health file", QString(), std::nullopt);
        row("error, default detail", u"error"_s,
            State::serviceError(u"Фоновая служба завершилась с ошибкой"_s));
        row("error, empty detail stays", u"error|"_s, State::serviceError({}));
        // A message of any length costs the window no more than its first 1,000 characters.
        const QString cut = QString(999, u'x') + u"\U0001F600"_s;
        row("error, cut before a surrogate pair", u"error|"_s + cut + QString(1e6, u'y'),
            State::serviceError(QString(999, u'x') + u"…"_s));
        row("needs configuration, cut at 1,000", u"needs_configuration|"_s + QString(1001, u'z'),
            State::needsConfiguration(QString(1000, u'z') + u"…"_s));
        row("needs configuration, 1,000 whole", u"needs_configuration|"_s + QString(1000, u'z'),
            State::needsConfiguration(QString(1000, u'z')));
    }
    void settledState() {
        QFETCH(State, registration);
        QFETCH(bool, leaseConnected);
        QFETCH(QString, health);
        FakeHealthReader reader;
        reader.report(health);
        QTEST(settledAgentState(registration, leaseConnected, reader), "settled");
        QTEST(reader.reads > 0, "healthRead");
    }

    void scenario_data() {
        for (const char* text : {"setup", "actions", "message", "log"}) {
            QTest::addColumn<QString>(text);
        }
        QTest::addColumn<State>("registration");
        QTest::addColumn<State>("shown");
        QTest::addColumn<QStringList>("changes");

        // The wait for the agent's confirmation is measured from its first moment, restarted by
        // a report or a clock set back; silence keeps the time-out error until a report.
        const State late = State::serviceError(wording.startTimedOut());
        addRow("timed out, then confirmed", on, "",
               "refresh at=19.999 health=Running refresh shows=starting at=20 refresh "
               "shows=serviceError at=99 refresh shows=serviceError health=running refresh",
               "", on);
        addRow("the clock set back", on, "",
               "refresh at=-3600 refresh shows=starting at=-3580.1 refresh shows=starting "
               "at=-3580 refresh",
               "", late);
        addRow("a report restarts the limit", on, "",
               "health=starting refresh at=15 health=needs_configuration refresh "
               "health=starting at=30 refresh at=49.9 refresh shows=starting at=50 refresh",
               "", late);

        // Switching, the leftover of an earlier panel, unmasking and the close: one operation
        // at a time, and a failure shows what the manager reports afterwards.
        const QString toOn = u"службы: подключается"_s, toOff = u"службы: выключен"_s;
        const QString refused = wording.changeRefused(u"Access denied"_s);
        const State approval = State::requiresApproval();
        addRow("a refresh unanswered is not asked again", off, "refreshLater",
               "refresh refresh asked=1 answer refresh asked=2", "", off);
        addRow("on, answered later; a second click is ignored", State::failed(u"x"_s), "later",
               "power power finish", "start", waiting, u"-"_s, toOn);
        addRow("off", on, "", "power", "disable", off, u"-"_s, toOff);
        // A refusal keeps its wording when the manager throws it rather than reports it.
        addRow("on refused, thrown", off, "startThrows refused", "power", "start",
               State::failed(refused), u"-"_s, refused);
        addRow("on fails, carried out after all", off, "later startFails",
               "power registered finish", "start", waiting, u"-"_s, noBus);
        addRow("an earlier agent's health file is not the new one's", off, "",
               "health=running stale power shows=starting refresh shows=starting written refresh",
               "start", on, u"-"_s, toOn);
        addRow("leftover stopped once", on, "leftover", "refresh refresh", "disable", off, u"-"_s,
               u"остановлен и убран из автозапуска"_s);
        addRow("leftover kept by a panel without the name", on, "leftover notOwner",
               "refresh refresh", "", waiting);
        addRow("leftover kept, not tried again", on, "leftover stopFails", "refresh refresh",
               "disable", waiting, u"-"_s, u"оставшийся от прошлого запуска панели: "_s + noBus);
        addRow("unmasked", approval, "", "unmask", "unmask", off, u"-"_s,
               u"маска службы в systemd снята"_s);
        addRow("unmask fails", approval, "unmaskFails", "unmask", "unmask", approval, u"-"_s,
               u"нет шины"_s);
        addRow("unmask ignored while switching", off, "later", "power unmask finish", "start",
               waiting, u"-"_s, toOn);
        addRow("closing stops the agent", on, "", "confirm shutdown", "disable", on, u"-"_s);
        addRow("closing while switching on", off, "later", "power shutdown finish", "start disable",
               off, u"-"_s, toOff);
        addRow("closing while switching on, stop fails", off, "later stopFails",
               "power shutdown finish", "start disable", State::failed(noBus), u"-"_s, noBus);

        // A saved token, a saved or removed folder and restored token access restart a running
        // agent, never one that is off or already switching.
        const QString restored = u"Доступ к сохранённому токену восстановлен."_s;
        const QString folderLog = u"Настройки Workspace обновлены"_s;
        const QString refusedOff = wording.saveRefusedWhileOff();
        addRow("token stored, agent off", off, "", "saveToken", "", off, wording.tokenStored(),
               u"Конфигурация подключения обновлена"_s);
        addRow("token malformed", off, "", "badToken", "", off,
               AgentConfigurationError::invalidToken().message());
        addRow("token refused by the keychain", off, "saveLocked", "saveToken accessNeeded", "",
               off, locked);
        addRow("access denied; folders from the file alone", off, "token locked denied folder",
               "authorize accessNeeded", "", off,
               AgentTokenStorageError(AgentTokenStorageError::userCanceled).message());
        addRow("access granted, no token", off, "locked", "authorize", "", off, locked);
        addRow("token restart fails", on, "later startFails", "confirm saveToken finish", "start",
               on, u"Настройки сохранены, но перезапуск не удался. Выключите и включите агент."_s,
               u"Не удалось применить настройки: "_s + noBus);
        addRow("access granted, restarts", on, "later token locked",
               "accessNeeded confirm authorize finish", "start", on, restored);
        // Registered suffices: the agent need not have confirmed itself yet.
        addRow("folder saved while starting", on, "", "choose save", "start", waiting,
               wording.folderSaved(), folderLog);
        addRow("folder save refused while off", off, "", "choose save", "", off, refusedOff);
        addRow("folder save refused while switching", off, "later",
               "choose power registered save finish", "start", waiting, refusedOff);
        addRow("folder save without a folder", on, "", "save", "", on,
               u"Сначала выберите локальную папку."_s);
        addRow("folder removed, restarts once", on, "later folder", "confirm remove remove finish",
               "start", on, u"Workspace удалён из локальной конфигурации."_s, folderLog);
        addRow("folder removal with a malformed code", off, "folder", "removeBadID", "", off,
               AgentConfigurationError::invalidWorkspaceID().message());
    }
    void scenario() { runScenario(); }

    // New lines of the agent's log are added as rows; the rows shared with the old end stay.
    void logModelKeepsSharedRows_data() {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("read");
        QTest::addColumn<int>("removed");
        QTest::addColumn<int>("inserted");
        QTest::newRow("window slid") << u"a b c"_s << u"b c d e"_s << 1 << 2;
        QTest::newRow("repeated lines") << u"a a"_s << u"a a a"_s << 0 << 1;
        QTest::newRow("unchanged") << u"a b"_s << u"a b"_s << 0 << 0;
        QTest::newRow("rewritten") << u"a b"_s << u"c"_s << 2 << 1;
    }
    void logModelKeepsSharedRows() {
        QFETCH(QString, shown);
        QFETCH(QString, read);
        FakeLogReader reader;
        AgentLogModel log(reader, [] { return QDateTime(); });
        log.show(shown.split(u' '));
        QSignalSpy removed(&log, &QAbstractItemModel::rowsRemoved);
        QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
        const auto rows = [](const QSignalSpy& spy) {
            return spy.isEmpty() ? 0 : spy[0][2].toInt() - spy[0][1].toInt() + 1;
        };
        log.show(read.split(u' '));
        QCOMPARE(log.lines(), read.split(u' '));
        QTEST(rows(removed), "removed");
        QTEST(rows(inserted), "inserted");
        QVERIFY(removed.size() <= 1 && inserted.size() <= 1);
    }

    // The open log panel shows the agent's lines, read again only when the file changed or
    // the panel's own lines were added; the panel's own lines are capped at 100.
    void logPanel() {
        PanelScenario scenario;
        for (int line = 0; line < 300; ++line) {
            scenario.agentLog << u"agent %1"_s.arg(line);
        }
        ViewModelRig rig(scenario);
        AgentViewModel& model = rig.model();
        const QStringList own = model.logEntries();
        QCOMPARE(own.constFirst(), u"09:05:07  Интерфейс Quorvane Agent запущен"_s);
        model.refresh();
        QCOMPARE(model.logEntries(), own);  // closed: the agent's log is not read
        model.setLogExpanded(true);
        model.refresh();
        model.refresh();
        QCOMPARE(model.logEntries(), scenario.agentLog);
        QCOMPARE(rig.log().limits, QList<int>{300});
        model.togglePower();
        QCOMPARE(model.logEntries().mid(0, 99), scenario.agentLog.mid(201));  // then the new line
        model.refresh();
        QCOMPARE(model.logEntries(), scenario.agentLog);
        rig.log().lines << u"agent 300"_s;
        model.refresh();
        QCOMPARE(model.logEntries().constLast(), u"agent 300"_s);
        QCOMPARE(rig.log().limits.size(), 3);
    }

    // The token's state comes from the secret store whatever the file holds; the file's own
    // error stays in view.
    void tokenStateOutlivesABrokenFile() {
        ViewModelRig rig(
            {.token = validToken, .configurationFile = QByteArray("workspace.\xff=/srv\n")});
        QString fileError;
        try {
            rig.store().loadFile();
        } catch (const std::exception& error) {
            fileError = QString::fromUtf8(error.what());
        }
        QCOMPARE(rig.model().configurationMessage(), fileError);
        QCOMPARE(rig.model().tokenStatus(), AgentConfigurationStore::maskedToken(validToken));
        QVERIFY(rig.model().hasSavedToken() && !rig.model().tokenAccessNeeded());
        QVERIFY(rig.model().workspaceRoots().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAgentViewModel)
#include "tst_AgentViewModel.moc"
