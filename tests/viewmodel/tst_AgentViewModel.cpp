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

std::exception_ptr serviceFailure(bool fails, bool refusal = false) {
    using Kind = AgentServiceError::Kind;
    if (!fails) {
        return nullptr;
    }
    return std::make_exception_ptr(refusal ? AgentServiceError(Kind::refused, u"Access denied"_s)
                                           : AgentServiceError(Kind::other, u"нет шины"_s));
}

// The rig, set up by the words of `setup`.
struct Harness {
    explicit Harness(State registration = off, const QString& setup = {})
        : setup(setup.split(u' ')), rig(scenario(registration)) {
        FakeServiceController& controller = rig.controller();
        controller.startCompletesAtOnce = !has("later");
        controller.startThrows = has("startThrows");
        controller.startFailure = serviceFailure(
            has("startFails") || has("startThrows") || has("startRefused"), has("startRefused"));
        controller.stopFailure = serviceFailure(has("stopFails"));
        controller.unmaskFailure = serviceFailure(has("unmaskFails"));
        controller.leftover = has("leftover");
        rig.tokens().refusesSave = has("saveLocked");
    }

    bool has(const char* word) const { return setup.contains(QLatin1StringView(word)); }
    PanelScenario scenario(State registration) {
        PanelScenario scenario;
        scenario.registration = registration;
        scenario.token = has("token") ? std::optional(validToken) : std::nullopt;
        scenario.keyringLocked = has("locked");
        scenario.ownsPanelName = !has("notOwner");
        if (has("folder")) {
            scenario.workspaceRoots = {{rootA, QDir::tempPath(), false}};
        }
        // Runs on a worker once the rig is built.
        scenario.authorizeToken = [this, denied = has("denied")] {
            ++*authorizations;
            if (denied) {
                throw AgentTokenStorageError(AgentTokenStorageError::userCanceled);
            }
            rig.tokens().refusesRead = false;
        };
        return scenario;
    }
    QString lastLog() { return rig.model().logEntries().constLast(); }
    QString message() { return rig.model().configurationMessage().value_or(u"-"_s); }

    QStringList setup;
    std::shared_ptr<std::atomic<int>> authorizations = std::make_shared<std::atomic<int>>(0);
    ViewModelRig rig;
};

void addColumns() {
    for (const char* text : {"setup", "actions", "message", "log"}) {
        QTest::addColumn<QString>(text);
    }
    QTest::addColumn<State>("registration");
    QTest::addColumn<State>("shown");
    QTest::addColumn<QStringList>("changes");
}

// Setup, actions and the manager's changes are words; the message "-" means none.
void addRow(const char* name, const State& registration, const char* setup, const char* actions,
            const char* changes, const State& shown, const QString& message = u"-"_s,
            const QString& log = {}) {
    QTest::newRow(name) << QString::fromUtf8(setup) << QString::fromUtf8(actions) << message << log
                        << registration << shown
                        << QString::fromUtf8(changes).split(u' ', Qt::SkipEmptyParts);
}

// Runs the row's actions in order (a user's action, an answer of the manager, or a check on
// the way), then compares the manager's changes and what the panel shows.
void runScenario() {
    QFETCH(State, registration);
    QFETCH(QString, setup);
    QFETCH(QString, actions);
    QFETCH(QString, message);
    QFETCH(QString, log);
    Harness harness(registration, setup);
    ViewModelRig& rig = harness.rig;
    AgentViewModel& model = rig.model();
    FakeServiceController& controller = rig.controller();
    const QDateTime begin = rig.clock;
    for (const QString& action : actions.split(u' ', Qt::SkipEmptyParts)) {
        if (action == u"power") {
            model.togglePower();
        } else if (action == u"finish") {
            QVERIFY(model.isChangingState());
            controller.finishStart();
        } else if (action == u"registered" || action == u"unregistered") {
            controller.registration = action == u"registered" ? on : off;
        } else if (action == u"listen") {
            rig.listen();
        } else if (action.startsWith(u"health=")) {
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
            QCOMPARE(model.tokenDraft().isEmpty(), valid && !rig.tokens().refusesSave);
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
        } else if (action == u"restarting") {
            QTRY_VERIFY(controller.isStartPending());
            QCOMPARE(rig.agent()->openConnections(), 0);  // no lease while restarting
        } else {
            QFAIL(qPrintable(u"unknown action "_s + action));
        }
    }
    QTRY_COMPARE(harness.message(), message);
    QTEST(controller.changes, "changes");
    QTEST(model.serviceState(), "shown");
    QVERIFY2(harness.lastLog().endsWith(log), qPrintable(harness.lastLog()));
    QVERIFY(!model.isChangingState());
    QCOMPARE(model.workspaceRoots(), rig.store().loadFile().workspaceRoots);
    QCOMPARE(harness.authorizations->load(), actions.contains(u"authorize"_s) ? 1 : 0);
}

}  // namespace

class TestAgentViewModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The registration, the lease and the health file settle the state, or leave the agent
    // awaited.
    void settledState_data() {
        QTest::addColumn<State>("registration");
        QTest::addColumn<bool>("leaseConnected");
        QTest::addColumn<QString>("health");  // as for Harness::report
        QTest::addColumn<std::optional<State>>("settled");
        QTest::addColumn<bool>("healthRead");
        const auto row = [](const char* name, const State& registration, bool lease,
                            const QString& health, std::optional<State> settled, bool read) {
            QTest::newRow(name) << registration << lease << health << settled << read;
        };
        row("stopped, health unread", off, true, u"running"_s, off, false);
        row("lease not connected", on, false, u"running"_s, std::nullopt, false);
        row("no health file", on, true, QString(), std::nullopt, true);
        row("running", on, true, u"running"_s, on, true);
        row("needs configuration, its detail", on, true, u"needs_configuration|no-token"_s,
            State::needsConfiguration(u"no-token"_s), true);
        row("error, default detail", on, true, u"error"_s,
            State::serviceError(u"Фоновая служба завершилась с ошибкой"_s), true);
        row("error, empty detail stays", on, true, u"error|"_s, State::serviceError({}), true);
        // A message of any length costs the window no more than its first 1,000 characters.
        const QString cut = QString(999, u'x') + u"\U0001F600"_s;
        row("error, a long detail: its beginning", on, true, u"error|"_s + cut + QString(1e6, u'y'),
            State::serviceError(QString(999, u'x') + u"…"_s), true);
        row("needs configuration, a long detail: its beginning", on, true,
            u"needs_configuration|"_s + QString(1001, u'z'),
            State::needsConfiguration(QString(1000, u'z') + u"…"_s), true);
        row("needs configuration, 1,000 characters whole", on, true,
            u"needs_configuration|"_s + QString(1000, u'z'),
            State::needsConfiguration(QString(1000, u'z')), true);
        for (const char* status : {"starting", "stopped", "Running"}) {
            row(status, on, true, QString::fromUtf8(status), std::nullopt, true);
        }
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

    // The wait for the agent's confirmation is measured from its first moment, restarted by a
    // report or a clock set back; silence keeps the time-out error until a report.
    void shownState_data() {
        addColumns();
        const State late = State::serviceError(wording.startTimedOut());
        addRow("timed out, then confirmed", on, "",
               "refresh at=19.999 listen health=Running refresh shows=starting at=20 refresh "
               "shows=serviceError at=99 refresh shows=serviceError health=running refresh",
               "", on);
        addRow("the clock set back", on, "",
               "refresh at=-3600 refresh shows=starting at=-3580.1 refresh shows=starting "
               "at=-3580 refresh",
               "", late);
        addRow("a report restarts the limit", on, "",
               "listen health=starting refresh at=15 health=needs_configuration refresh "
               "health=starting at=30 refresh at=49.9 refresh shows=starting at=50 refresh",
               "", late);
    }
    void shownState() { runScenario(); }

    // Switching, the leftover of an earlier panel, unmasking and the close: one operation at a
    // time, and a failure shows what the manager reports afterwards.
    void service_data() {
        addColumns();
        const QString toOn = u"службы: подключается"_s, toOff = u"службы: выключен"_s;
        const QString refused = wording.changeRefused(u"Access denied"_s);
        const State approval = State::requiresApproval();
        addRow("on", off, "", "power", "start", waiting, u"-"_s, toOn);
        addRow("on, answered later; a second click is ignored", State::failed(u"x"_s), "later",
               "power power finish", "start", waiting, u"-"_s, toOn);
        addRow("off", on, "", "power", "disable", off, u"-"_s, toOff);
        addRow("on refused", off, "startRefused", "power", "start", State::failed(refused), u"-"_s,
               refused);
        addRow("on fails later", off, "later startFails", "power finish", "start",
               State::failed(noBus), u"-"_s, noBus);
        addRow("on throws", off, "startThrows", "power", "start", State::failed(noBus), u"-"_s,
               noBus);
        addRow("off fails, still registered", on, "stopFails", "power", "disable", waiting, u"-"_s,
               noBus);
        addRow("on fails, carried out after all", off, "later startFails",
               "power registered finish", "start", waiting, u"-"_s, noBus);
        addRow("an earlier agent's health file is not the new one's", off, "",
               "listen health=running stale power shows=starting refresh shows=starting written "
               "refresh",
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
        addRow("closing while off", off, "", "shutdown", "", off, u"-"_s, toOff);
        addRow("closing while switching on", off, "later", "power shutdown finish", "start disable",
               off, u"-"_s, toOff);
        addRow("closing while switching on, stop fails", off, "later stopFails",
               "power shutdown finish", "start disable", State::failed(noBus), u"-"_s, noBus);
    }
    void service() { runScenario(); }

    // A saved token, a saved or removed folder and restored token access restart a running
    // agent, never one that is off or already switching.
    void configuration_data() {
        addColumns();
        const QString restartFailed =
            u"Настройки сохранены, но перезапуск не удался. Выключите и включите агент."_s;
        const QString removed = u"Workspace удалён из локальной конфигурации."_s;
        const QString restored = u"Доступ к сохранённому токену восстановлен."_s;
        const QString tokenLog = u"Конфигурация подключения обновлена"_s;
        const QString folderLog = u"Настройки Workspace обновлены"_s;
        const QString restartLog = u"Не удалось применить настройки: "_s + noBus;
        const QString refusedOff = wording.saveRefusedWhileOff();
        addRow("token stored, agent off", off, "", "saveToken", "", off, wording.tokenStored(),
               tokenLog);
        addRow("token malformed", off, "", "badToken", "", off,
               AgentConfigurationError::invalidToken().message());
        addRow("token refused by the keychain", off, "saveLocked", "saveToken accessNeeded", "",
               off, locked);
        addRow("access granted", off, "token locked", "accessNeeded authorize", "", off, restored);
        addRow("access denied; folders from the file alone", off, "token locked denied folder",
               "authorize accessNeeded", "", off,
               AgentTokenStorageError(AgentTokenStorageError::userCanceled).message());
        addRow("access granted, no token", off, "locked", "authorize", "", off, locked);
        addRow("token restarts", on, "later", "confirm saveToken restarting finish", "start", on,
               wording.tokenStored(), tokenLog);
        addRow("token restart fails", on, "later startFails", "confirm saveToken restarting finish",
               "start", on, restartFailed, restartLog);
        addRow("access restarts", on, "later token locked", "confirm authorize restarting finish",
               "start", on, restored);
        addRow("folder saved, restarts", on, "later", "confirm choose save restarting finish",
               "start", on, wording.folderSaved(), folderLog);
        addRow("folder saved while starting", on, "", "choose save", "start", waiting,
               wording.folderSaved(), folderLog);
        addRow("folder save refused while off", off, "", "choose save", "", off, refusedOff);
        addRow("folder save refused while switching", off, "later",
               "choose power registered save finish", "start", waiting, refusedOff);
        addRow("folder save without a folder", on, "", "save", "", on,
               u"Сначала выберите локальную папку."_s);
        addRow("folder removed, restarts", on, "later folder", "confirm remove restarting finish",
               "start", on, removed, folderLog);
        addRow("folder removed while off", off, "folder", "remove", "", off, removed, folderLog);
        addRow("folder removed while restarting", on, "later folder",
               "confirm remove remove finish", "start", on, removed, folderLog);
        addRow("folder removal with a malformed code", off, "folder", "removeBadID", "", off,
               AgentConfigurationError::invalidWorkspaceID().message());
    }
    void configuration() { runScenario(); }

    // New lines of the agent's log are added as rows; the rows shared with the old end stay.
    void logModelKeepsSharedRows_data() {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("read");
        QTest::addColumn<int>("removed");
        QTest::addColumn<int>("inserted");
        QTest::newRow("appended") << u"a b c"_s << u"a b c d"_s << 0 << 1;
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
        QCOMPARE(model.logEntries().size(), 100);
        QCOMPARE(model.logEntries().constFirst(), u"agent 201"_s);
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
        PanelScenario scenario;
        scenario.token = validToken;
        scenario.configurationFile = QByteArray("workspace.\xff=/srv\n");
        ViewModelRig rig(scenario);
        QString fileError;
        try {
            rig.store().loadFile();
        } catch (const std::exception& error) {
            fileError = QString::fromUtf8(error.what());
        }
        QVERIFY(!fileError.isEmpty());
        QCOMPARE(rig.model().configurationMessage(), fileError);
        QCOMPARE(rig.model().tokenStatus(), AgentConfigurationStore::maskedToken(validToken));
        QVERIFY(rig.model().hasSavedToken() && !rig.model().tokenAccessNeeded());
        QVERIFY(rig.model().workspaceRoots().isEmpty());
    }

    void refreshIsSkippedWhileAQueryIsPending() {
        ViewModelRig rig;
        rig.controller().refreshCompletesAtOnce = false;
        rig.model().refresh();
        rig.model().refresh();
        QCOMPARE(rig.controller().refreshCount, 1);
        rig.controller().finishRefresh();
        rig.model().refresh();
        QCOMPARE(rig.controller().refreshCount, 2);
    }
};

QTEST_GUILESS_MAIN(TestAgentViewModel)
#include "tst_AgentViewModel.moc"
