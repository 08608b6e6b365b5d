#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>

#include "agent/AgentServiceError.h"
#include "agent/AgentViewModel.h"
#include "config/AgentConfigurationError.h"
#include "config/AgentTokenStorageError.h"
#include "config/PlatformWording.h"
#include "tests/support/FakeHealthReader.h"
#include "tests/support/FakeLogReader.h"
#include "tests/support/FakeServiceController.h"
#include "tests/support/FakeTokenStore.h"

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

// The agent's end of the GUI socket; counts the panel's open connections.
struct AgentSocket {
    explicit AgentSocket(const QString& path) : path(QFile::encodeName(path)) {
        sockaddr_un address{AF_UNIX, {}};
        qstrncpy(address.sun_path, this->path.constData(), sizeof address.sun_path);
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 8);
    }
    ~AgentSocket() {
        std::for_each(accepted.begin(), accepted.end(), close);
        close(listener);
        unlink(path.constData());
    }
    int openConnections() {
        for (int descriptor; (descriptor = accept4(listener, nullptr, nullptr, 0)) >= 0;) {
            accepted << descriptor;
        }
        char byte;  // a closed connection reads as its end, an open one would block
        return int(std::count_if(accepted.begin(), accepted.end(), [&](int descriptor) {
            return recv(descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno == EAGAIN;
        }));
    }

    QByteArray path;
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    QList<int> accepted;
};

// One view model with the test doubles, a real configuration file and a real lease; the words
// of `setup` set the doubles' behaviour.
struct Harness {
    explicit Harness(State registration = off, const QString& setup = {})
        : controller(new FakeServiceController(registration)), setup(setup.split(u' ')) {}

    QTemporaryDir directory;
    FakeServiceController* controller;
    FakeHealthReader* health = new FakeHealthReader;
    FakeLogReader* log = new FakeLogReader;
    QStringList setup;
    QDateTime clock{QDate(2024, 5, 1), QTime(9, 5, 7)};
    std::shared_ptr<FakeTokenStore> tokens = std::make_shared<FakeTokenStore>();
    std::shared_ptr<std::atomic<int>> authorizations = std::make_shared<std::atomic<int>>(0);
    std::unique_ptr<AgentSocket> agent;
    std::unique_ptr<AgentViewModel> model;

    bool has(const char* word) const { return setup.contains(QLatin1StringView(word)); }

    AgentViewModel& create() {
        controller->startCompletesAtOnce = !has("later");
        controller->startThrows = has("startThrows");
        controller->startFailure = serviceFailure(
            has("startFails") || has("startThrows") || has("startRefused"), has("startRefused"));
        controller->stopFailure = serviceFailure(has("stopFails"));
        controller->unmaskFailure = serviceFailure(has("unmaskFails"));
        controller->leftover = has("leftover");
        tokens->token = has("token") ? std::optional(validToken) : std::nullopt;
        tokens->refusesRead = has("locked");
        tokens->refusesSave = has("saveLocked");
        if (has("folder")) {
            store().save({std::nullopt, {{rootA, directory.path(), false}}});
        }
        AgentViewModelEnvironment environment;
        environment.now = [this] { return clock; };
        environment.chooseFolder = [this] { return std::optional(directory.path()); };
        auto authorize = [denied = has("denied"), tokens = tokens, calls = authorizations] {
            ++*calls;
            if (denied) {
                throw AgentTokenStorageError(AgentTokenStorageError::userCanceled);
            }
            tokens->refusesRead = false;
        };
        model = std::make_unique<AgentViewModel>(
            std::unique_ptr<AgentServiceControlling>(controller),
            std::make_unique<AgentGUILease>(directory.filePath(u"gui.sock"_s)),
            std::unique_ptr<AgentHealthReading>(health), std::unique_ptr<AgentLogReading>(log),
            store(), authorize, environment);
        QSignalSpy loaded(model.get(), &AgentViewModel::tokenStatusChanged);
        static_cast<void>(loaded.wait(5000));  // the token's state comes from a worker
        return *model;
    }
    AgentConfigurationStore store() const {
        return AgentConfigurationStore(directory.filePath(u"agent.conf"_s), tokens);
    }
    void listen() {
        if (!agent) {
            agent = std::make_unique<AgentSocket>(directory.filePath(u"gui.sock"_s));
        }
    }
    // "status" or "status|message"; empty: no health file.
    void report(const QString& status) {
        const QStringList parts = status.split(u'|');
        health->snapshot = AgentHealthSnapshot{
            u"1.0"_s, parts[0], parts.size() > 1 ? std::optional(parts[1]) : std::nullopt, {}};
        if (status.isEmpty()) {
            health->snapshot.reset();
        }
    }
    QString lastLog() const { return model->logEntries().constLast(); }
    QString message() const { return model->configurationMessage().value_or(u"-"_s); }
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
    AgentViewModel& model = harness.create();
    FakeServiceController& controller = *harness.controller;
    const QDateTime begin = harness.clock;
    for (const QString& action : actions.split(u' ', Qt::SkipEmptyParts)) {
        if (action == u"power") {
            model.togglePower();
        } else if (action == u"finish") {
            QVERIFY(model.isChangingState());
            controller.finishStart();
        } else if (action == u"registered" || action == u"unregistered") {
            controller.registration = action == u"registered" ? on : off;
        } else if (action == u"listen") {
            harness.listen();
        } else if (action.startsWith(u"health=")) {
            harness.report(action.mid(7));
        } else if (action.startsWith(u"at=")) {
            harness.clock = begin.addMSecs(qRound64(action.mid(3).toDouble() * 1000));
        } else if (action.startsWith(u"shows=")) {
            QCOMPARE(model.serviceState().kindName(), action.mid(6));
        } else if (action == u"confirm") {
            harness.listen();
            harness.report(u"running"_s);
            model.refresh();
            QCOMPARE(model.serviceState(), on);
        } else if (action == u"refresh") {
            model.refresh();
        } else if (action == u"unmask") {
            model.openLoginItemsSettings();
        } else if (action == u"shutdown") {
            model.shutdown();
            model.shutdown();
            QCOMPARE(harness.agent ? harness.agent->openConnections() : 0, 0);
        } else if (action == u"saveToken" || action == u"badToken") {
            const bool valid = action == u"saveToken";
            model.setTokenDraft(valid ? u" "_s + validToken + u"\n"_s : u"qv_agent_x"_s);
            QCOMPARE(model.saveToken(), valid);
            QVERIFY(!model.saveToken());  // ignored while saving
            QTRY_VERIFY(!model.isSavingToken());
            QCOMPARE(model.tokenDraft().isEmpty(), valid && !harness.tokens->refusesSave);
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
            QCOMPARE(harness.agent->openConnections(), 0);  // no lease while restarting
        } else {
            QFAIL(qPrintable(u"unknown action "_s + action));
        }
    }
    QTRY_COMPARE(harness.message(), message);
    QTEST(controller.changes, "changes");
    QTEST(model.serviceState(), "shown");
    QVERIFY2(harness.lastLog().endsWith(log), qPrintable(harness.lastLog()));
    QVERIFY(!model.isChangingState());
    QCOMPARE(model.workspaceRoots(), harness.store().loadFile().workspaceRoots);
    QCOMPARE(harness.authorizations->load(), actions.contains(u"authorize"_s) ? 1 : 0);
}

}  // namespace

class TestAgentViewModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What the panel shows follows from the registration, the lease and the health file, with
    // a limit on the wait for the agent's confirmation.
    void shownState_data() {
        addColumns();
        const State late = State::serviceError(wording.startTimedOut());
        addRow("stopped ignores health", off, "", "listen health=running refresh", "", off);
        addRow("lease not connected", on, "", "health=running refresh", "", waiting);
        addRow("no health file", on, "", "listen refresh", "", waiting);
        addRow("needs configuration, its detail", on, "",
               "listen health=needs_configuration|no-token refresh", "",
               State::needsConfiguration(u"no-token"_s));
        addRow("error, default detail", on, "", "listen health=error refresh", "",
               State::serviceError(u"Фоновая служба завершилась с ошибкой"_s));
        addRow("error, its detail", on, "", "listen health=error|x refresh", "",
               State::serviceError(u"x"_s));
        addRow("timed out, then confirmed", on, "",
               "refresh at=19.999 listen health=Running refresh shows=starting at=20 refresh "
               "shows=serviceError at=41 health=running refresh",
               "", on);
        addRow("a report restarts the limit", on, "",
               "listen health=starting refresh at=15 health=needs_configuration refresh "
               "health=starting at=30 refresh at=49.9 refresh shows=starting at=50 refresh",
               "", late);
        addRow("a clock set back restarts the wait", on, "",
               "refresh at=-3600 refresh at=-3580.1 refresh shows=starting at=-3580 refresh", "",
               late);
        addRow("unregistration restarts the limit", on, "",
               "refresh at=15 unregistered refresh shows=stopped registered at=16 refresh at=36 "
               "refresh",
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
        addRow("leftover stopped once", on, "leftover", "refresh refresh", "disable", off, u"-"_s,
               u"остановлен и убран из автозапуска"_s);
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
        addRow("folder removed, restart fails", on, "later folder startFails",
               "confirm remove restarting finish", "start", on, restartFailed, restartLog);
        addRow("folder removed while off", off, "folder", "remove", "", off, removed, folderLog);
        addRow("folder removed while restarting", on, "later folder",
               "confirm remove remove finish", "start", on, removed, folderLog);
        addRow("folder removal with a malformed code", off, "folder", "removeBadID", "", off,
               AgentConfigurationError::invalidWorkspaceID().message());
    }
    void configuration() { runScenario(); }

    // The open log panel shows the agent's lines; the panel's own lines are capped at 100.
    void logPanel() {
        Harness harness;
        for (int line = 0; line < 300; ++line) {
            harness.log->lines << u"agent %1"_s.arg(line);
        }
        AgentViewModel& model = harness.create();
        const QStringList own = model.logEntries();
        model.refresh();
        QCOMPARE(model.logEntries(), own);  // closed: the agent's log is not read
        model.setLogExpanded(true);
        model.refresh();
        QCOMPARE(model.logEntries(), harness.log->lines);
        model.togglePower();
        QCOMPARE(model.logEntries().size(), 100);
        QCOMPARE(model.logEntries().constFirst(), u"agent 201"_s);
        QCOMPARE(harness.log->limits, QList<int>{300});
    }

    void refreshIsSkippedWhileAQueryIsPending() {
        Harness harness;
        harness.controller->refreshCompletesAtOnce = false;
        AgentViewModel& model = harness.create();
        model.refresh();
        model.refresh();
        QCOMPARE(harness.controller->refreshCount, 1);
        harness.controller->finishRefresh();
        model.refresh();
        QCOMPARE(harness.controller->refreshCount, 2);
    }

    void aLateAnswerReachesNobody() {
        Harness harness(off, u"later"_s);
        const auto completion = harness.controller->lastCompletion;
        harness.create().togglePower();
        harness.model.reset();
        (*completion)(nullptr);
    }

    // A build configured without a number still gets one, so the footer never shows a dash.
    void defaultBuildHasANumber() {
        QVERIFY(!AgentViewModelEnvironment::system().buildNumber.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAgentViewModel)
#include "tst_AgentViewModel.moc"
