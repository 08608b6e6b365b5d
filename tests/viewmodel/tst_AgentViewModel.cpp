#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <mutex>

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

namespace quorvane {
char* toString(const AgentServiceState& state) {
    QString text = state.kindName();
    if (state.message()) {
        text += u"(\""_s + *state.message() + u"\")"_s;
    }
    return QTest::toString(text);
}
}  // namespace quorvane

namespace {

const QString validToken = u"qv_agent_"_s + QString(43, u'x');
const QString rootA = u"0b6a3d1e-5f2c-4e8a-9d7b-1c2e3f4a5b6c"_s;
const QString rootB = u"7d1f2e3a-4b5c-4d6e-8f90-a1b2c3d4e5f6"_s;
const QString timeoutText = PlatformWording::current().startTimedOut();
// The manager's own reason is passed on.
const QString refusedText = PlatformWording::current().changeRefused(u"Access denied"_s);
const QString changePrefix = u"Не удалось изменить фоновый запуск: "_s;
const QString saveRefusal = PlatformWording::current().saveRefusedWhileOff();
const QString folderSaved = PlatformWording::current().folderSaved();
const QString restartFailed =
    u"Настройки сохранены, но перезапуск не удался. Выключите и включите агент."_s;

AgentServiceState running() {
    return AgentServiceState::running();
}
AgentServiceState stopped() {
    return AgentServiceState::stopped();
}
AgentServiceState starting() {
    return AgentServiceState::starting();
}

std::exception_ptr serviceFailure(const QString& kind) {
    if (kind == u"refused") {
        return std::make_exception_ptr(
            AgentServiceError(AgentServiceError::Kind::refused, u"Access denied"_s));
    }
    if (kind == u"other") {
        return std::make_exception_ptr(
            AgentServiceError(AgentServiceError::Kind::other, u"нет шины"_s));
    }
    return nullptr;
}

QString keychainRefusal() {
    return AgentTokenStorageError(AgentTokenStorageError::interactionNotAllowed).message();
}

// The agent's end of the GUI socket: listens, and counts the panel's open connections.
class AgentSocket {
public:
    explicit AgentSocket(const QString& path) : path_(QFile::encodeName(path)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path_.constData(), path_.size() + 1);
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        listening_ = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     listen(listener_, 8) == 0;
    }
    ~AgentSocket() {
        for (int connection : accepted_) {
            close(connection);
        }
        close(listener_);
        unlink(path_.constData());
    }
    Q_DISABLE_COPY_MOVE(AgentSocket)

    bool isListening() const { return listening_; }

    int openConnections() {
        for (int connection;
             (connection = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
            accepted_.append(connection);
        }
        int open = 0;
        for (int connection : accepted_) {
            char scratch;
            if (recv(connection, &scratch, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno == EAGAIN) {
                ++open;
            }
        }
        return open;
    }

private:
    QByteArray path_;
    int listener_ = -1;
    bool listening_ = false;
    QList<int> accepted_;
};

// One view model with doubles for the platform, a real configuration file and a real lease.
class Harness {
public:
    explicit Harness(AgentServiceState registration = stopped())
        : controllerOwner_(std::make_unique<FakeServiceController>(registration)),
          healthOwner_(std::make_unique<FakeHealthReader>()),
          logOwner_(std::make_unique<FakeLogReader>()),
          controller(controllerOwner_.get()),
          health(healthOwner_.get()),
          log(logOwner_.get()) {
        environment.now = [this] { return clock; };
        environment.chooseFolder = [this] { return chosenFolder; };
        environment.shortVersion = u"0.9.0"_s;
        environment.buildNumber = u"17"_s;
        environment.userName = u"anna"_s;
    }
    Q_DISABLE_COPY_MOVE(Harness)

private:
    std::unique_ptr<FakeServiceController> controllerOwner_;
    std::unique_ptr<FakeHealthReader> healthOwner_;
    std::unique_ptr<FakeLogReader> logOwner_;

public:
    QTemporaryDir directory;
    QDateTime clock{QDate(2024, 5, 1), QTime(9, 5, 7)};
    std::optional<QString> chosenFolder;
    AgentViewModelEnvironment environment;
    AgentViewModel::AuthorizeToken authorize = [] {};
    std::shared_ptr<FakeTokenStore> tokens = std::make_shared<FakeTokenStore>();
    FakeServiceController* controller;
    FakeHealthReader* health;
    FakeLogReader* log;
    std::unique_ptr<AgentSocket> agent;
    std::unique_ptr<AgentViewModel> model;

    AgentViewModel& create() {
        model = std::make_unique<AgentViewModel>(
            std::move(controllerOwner_), std::make_unique<AgentGUILease>(socketPath()),
            std::move(healthOwner_), std::move(logOwner_), store(), authorize, environment);
        // The token's state arrives from a worker; every load publishes it.
        QSignalSpy loaded(model.get(), &AgentViewModel::tokenStatusChanged);
        static_cast<void>(loaded.wait(5000));
        return *model;
    }

    QString socketPath() const { return directory.filePath(u"agent-gui.sock"_s); }
    AgentConfigurationStore store() const {
        return AgentConfigurationStore(directory.filePath(u"Quorvane/quorvane-agent.conf"_s),
                                       tokens);
    }
    QList<WorkspaceRootConfiguration> storedRoots() const {
        return store().loadFile().workspaceRoots;
    }
    void storeRoots(const QList<WorkspaceRootConfiguration>& roots) const {
        store().save(AgentConfiguration{std::nullopt, roots});
    }
    QString makeFolder(const QString& name) const {
        QDir(directory.path()).mkpath(name);
        return directory.filePath(name);
    }

    void setListening(bool listening) {
        if (listening && !agent) {
            agent = std::make_unique<AgentSocket>(socketPath());
            QVERIFY(agent->isListening());
        } else if (!listening) {
            agent.reset();
        }
    }
    void reportHealth(const QString& status, std::optional<QString> message = std::nullopt) {
        if (status.isNull()) {
            health->snapshot.reset();
        } else {
            health->snapshot =
                AgentHealthSnapshot{u"1.0"_s, status, std::move(message), u"2024-05-01"_s};
        }
    }
    // The agent registered, connected and reporting "running", as the panel last saw it.
    void confirmRunningAgent() {
        setListening(true);
        reportHealth(u"running"_s);
        model->refresh();
        QCOMPARE(model->serviceState(), running());
    }

    bool logEndsWith(const QString& message) const {
        return !model->logEntries().isEmpty() &&
               model->logEntries().constLast().endsWith(u"  "_s + message);
    }
    bool logContains(const QString& message) const {
        for (const QString& line : model->logEntries()) {
            if (line.endsWith(u"  "_s + message)) {
                return true;
            }
        }
        return false;
    }
    QString message() const { return model->configurationMessage().value_or(u"<absent>"_s); }
};

struct Step {
    double atSeconds;
    AgentServiceState registration;
    bool listening;
    QString health;  // null: no health file
    AgentServiceState expected;
};

}  // namespace

Q_DECLARE_METATYPE(QList<Step>)
Q_DECLARE_METATYPE(std::exception_ptr)

class TestAgentViewModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void creation_data() {
        QTest::addColumn<AgentServiceState>("registration");
        QTest::addColumn<QString>("logTitle");
        QTest::newRow("stopped") << stopped() << u"выключен"_s;
        QTest::newRow("requires approval")
            << AgentServiceState::requiresApproval() << u"требуется разрешение"_s;
        QTest::newRow("failed") << AgentServiceState::failed(u"x"_s) << u"ошибка"_s;
    }

    void creation() {
        QFETCH(AgentServiceState, registration);
        QFETCH(QString, logTitle);
        Harness harness(running());
        harness.controller->registration = registration;
        harness.controller->refresh([] {});
        harness.controller->registration = running();
        harness.setListening(true);

        AgentViewModel& model = harness.create();

        QCOMPARE(model.serviceState(), registration);
        QCOMPARE(model.logEntries(), (QStringList{u"09:05:07  Интерфейс Quorvane Agent запущен"_s,
                                                  u"09:05:07  Состояние службы: "_s + logTitle}));
        // Creation reads neither registration, lease nor health.
        QCOMPARE(harness.controller->state(), registration);
        QCOMPARE(harness.agent->openConnections(), 0);
        QCOMPARE(harness.health->reads, 0);
        QVERIFY(!model.isChangingState());
    }

    void configurationLoad_data() {
        QTest::addColumn<QVariant>("keychainToken");
        QTest::addColumn<bool>("keychainRefuses");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("tokenStatus");
        QTest::addColumn<bool>("hasSavedToken");
        QTest::addColumn<bool>("accessNeeded");
        QTest::addColumn<int>("rootCount");
        QTest::addColumn<QString>("message");

        const QByteArray oneRoot = "workspace." + rootA.toUtf8() + "=/srv/share\n";
        QTest::newRow("nothing stored") << QVariant() << false << QByteArray() << u"Не настроен"_s
                                        << false << false << 0 << u"<absent>"_s;
        QTest::newRow("token in keychain")
            << QVariant(validToken) << false << oneRoot << u"Настроен · ••••••••"_s << true << false
            << 1 << u"<absent>"_s;
        QTest::newRow("empty token") << QVariant(QString()) << false << QByteArray()
                                     << u"Не настроен"_s << false << false << 0 << u"<absent>"_s;
        QTest::newRow("keychain refuses: roots from the file alone")
            << QVariant(validToken) << true << oneRoot << u"Не удалось прочитать"_s << false << true
            << 1 << keychainRefusal();
        QTest::newRow("file not UTF-8")
            << QVariant(validToken) << false << QByteArray("\xff\n") << u"Не удалось прочитать"_s
            << false << false << 0 << u"Некорректная конфигурация: файл не является UTF-8"_s;
    }

    void configurationLoad() {
        QFETCH(QVariant, keychainToken);
        QFETCH(bool, keychainRefuses);
        QFETCH(QByteArray, file);
        Harness harness;
        if (keychainToken.isValid()) {
            harness.tokens->token = keychainToken.toString();
        }
        harness.tokens->refusesRead = keychainRefuses;
        if (!file.isEmpty()) {
            QDir(harness.directory.path()).mkpath(u"Quorvane"_s);
            QFile configuration(harness.store().fileURL());
            QVERIFY(configuration.open(QIODevice::WriteOnly));
            configuration.write(file);
        }

        AgentViewModel& model = harness.create();

        QTEST(model.tokenStatus(), "tokenStatus");
        QTEST(model.hasSavedToken(), "hasSavedToken");
        QTEST(model.tokenAccessNeeded(), "accessNeeded");
        QTEST(static_cast<int>(model.workspaceRoots().size()), "rootCount");
        QTEST(harness.message(), "message");
    }

    void operationalState_data() {
        QTest::addColumn<AgentServiceState>("registration");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("health");
        QTest::addColumn<QVariant>("healthMessage");
        QTest::addColumn<AgentServiceState>("expected");

        const QVariant none;
        QTest::newRow("stopped") << stopped() << true << u"running"_s << none << stopped();
        QTest::newRow("requires approval ignores health")
            << AgentServiceState::requiresApproval() << true << u"running"_s << none
            << AgentServiceState::requiresApproval();
        QTest::newRow("unavailable") << AgentServiceState::unavailable() << false << QString()
                                     << none << AgentServiceState::unavailable();
        QTest::newRow("failed keeps its text")
            << AgentServiceState::failed(u"m"_s) << false << QString() << none
            << AgentServiceState::failed(u"m"_s);
        QTest::newRow("lease not connected")
            << running() << false << u"running"_s << none << starting();
        QTest::newRow("no health file") << running() << true << QString() << none << starting();
        QTest::newRow("running") << running() << true << u"running"_s << none << running();
        QTest::newRow("Running is another word")
            << running() << true << u"Running"_s << none << starting();
        QTest::newRow("starting") << running() << true << u"starting"_s << none << starting();
        QTest::newRow("stopped status") << running() << true << u"stopped"_s << none << starting();
        QTest::newRow("needs configuration without message")
            << running() << true << u"needs_configuration"_s << none
            << AgentServiceState::needsConfiguration();
        QTest::newRow("needs configuration with message")
            << running() << true << u"needs_configuration"_s << QVariant(u"нет токена"_s)
            << AgentServiceState::needsConfiguration(u"нет токена"_s);
        QTest::newRow("error without message")
            << running() << true << u"error"_s << none
            << AgentServiceState::serviceError(u"Фоновая служба завершилась с ошибкой"_s);
        QTest::newRow("error with empty message")
            << running() << true << u"error"_s << QVariant(QString())
            << AgentServiceState::serviceError(QString());
        QTest::newRow("error with message") << running() << true << u"error"_s << QVariant(u"x"_s)
                                            << AgentServiceState::serviceError(u"x"_s);
    }

    void operationalState() {
        QFETCH(AgentServiceState, registration);
        QFETCH(bool, listening);
        QFETCH(QString, health);
        QFETCH(QVariant, healthMessage);
        Harness harness(registration);
        harness.setListening(listening);
        harness.reportHealth(health, healthMessage.isValid()
                                         ? std::optional<QString>(healthMessage.toString())
                                         : std::nullopt);
        AgentViewModel& model = harness.create();

        model.refresh();

        QTEST(model.serviceState(), "expected");
        const bool healthMatters = registration == running() && listening;
        QCOMPARE(harness.health->reads, healthMatters ? 1 : 0);
    }

    void startUpLimit_data() {
        QTest::addColumn<QList<Step>>("steps");
        const AgentServiceState timedOut = AgentServiceState::serviceError(timeoutText);

        QTest::newRow("lease never connects, then the agent confirms")
            << QList<Step>{{0, running(), false, {}, starting()},
                           {19.999, running(), false, {}, starting()},
                           {20, running(), false, {}, timedOut},
                           {40, running(), false, {}, timedOut},
                           {41, running(), true, u"running"_s, running()}};
        QTest::newRow("health says starting for 25 seconds")
            << QList<Step>{{0, running(), true, u"starting"_s, starting()},
                           {19.9, running(), true, u"starting"_s, starting()},
                           {25, running(), true, u"starting"_s, timedOut}};
        QTest::newRow("unlisted statuses keep the wait")
            << QList<Step>{{0, running(), true, u"starting"_s, starting()},
                           {10, running(), true, u"Running"_s, starting()},
                           {20, running(), true, u"stopped"_s, timedOut}};
        QTest::newRow("needs configuration restarts the limit")
            << QList<Step>{{0, running(), true, u"starting"_s, starting()},
                           {15, running(), true, u"needs_configuration"_s,
                            AgentServiceState::needsConfiguration()},
                           {30, running(), true, u"starting"_s, starting()},
                           {49.9, running(), true, u"starting"_s, starting()},
                           {50, running(), true, u"starting"_s, timedOut}};
        QTest::newRow("an error report restarts the limit") << QList<Step>{
            {0, running(), true, u"starting"_s, starting()},
            {19, running(), true, u"error"_s,
             AgentServiceState::serviceError(u"Фоновая служба завершилась с ошибкой"_s)},
            {25, running(), true, u"starting"_s, starting()},
            {45, running(), true, u"starting"_s, timedOut}};
        QTest::newRow("a clock set back restarts the wait")
            << QList<Step>{{0, running(), false, {}, starting()},
                           {-3600, running(), false, {}, starting()},
                           {-3580.1, running(), false, {}, starting()},
                           {-3580, running(), false, {}, timedOut}};
        QTest::newRow("unregistration restarts the limit")
            << QList<Step>{{0, running(), false, {}, starting()},
                           {15, stopped(), false, {}, stopped()},
                           {16, running(), false, {}, starting()},
                           {35.9, running(), false, {}, starting()},
                           {36, running(), false, {}, timedOut}};
    }

    void startUpLimit() {
        QFETCH(QList<Step>, steps);
        Harness harness(running());
        AgentViewModel& model = harness.create();
        const QDateTime begin = harness.clock;

        for (const Step& step : steps) {
            harness.clock = begin.addMSecs(qRound64(step.atSeconds * 1000));
            harness.controller->registration = step.registration;
            harness.setListening(step.listening);
            harness.reportHealth(step.health);
            model.refresh();
            QVERIFY2(model.serviceState() == step.expected,
                     qPrintable(u"at %1 s: %2 %3"_s.arg(step.atSeconds)
                                    .arg(model.serviceState().kindName(),
                                         model.serviceState().message().value_or(QString()))));
        }
    }

    void refreshNotifiesEveryCycle() {
        Harness harness;
        AgentViewModel& model = harness.create();
        QSignalSpy changed(&model, &AgentViewModel::serviceStateChanged);
        model.refresh();
        model.refresh();
        QCOMPARE(changed.count(), 2);
    }

    void logPanel_data() {
        QTest::addColumn<bool>("expanded");
        QTest::addColumn<QStringList>("agentLines");
        QTest::addColumn<bool>("showsAgentLines");
        const QStringList lines{u"agent 1"_s, u"agent 2"_s};
        QTest::newRow("closed panel does not read") << false << lines << false;
        QTest::newRow("open panel shows the agent's lines") << true << lines << true;
        QTest::newRow("open panel, empty agent log") << true << QStringList() << false;
    }

    void logPanel() {
        QFETCH(bool, expanded);
        QFETCH(QStringList, agentLines);
        QFETCH(bool, showsAgentLines);
        Harness harness;
        harness.log->lines = agentLines;
        AgentViewModel& model = harness.create();
        const QStringList ownLines = model.logEntries();

        model.setLogExpanded(expanded);
        model.refresh();

        QCOMPARE(model.logEntries(), showsAgentLines ? agentLines : ownLines);
        QCOMPARE(harness.log->limits, expanded ? QList<int>{300} : QList<int>());
    }

    void agentLinesAreTrimmedByTheNextOwnLine() {
        Harness harness;
        for (int line = 0; line < 300; ++line) {
            harness.log->lines << u"agent %1"_s.arg(line);
        }
        AgentViewModel& model = harness.create();
        model.setLogExpanded(true);
        model.refresh();
        QCOMPARE(model.logEntries().size(), 300);

        model.togglePower();

        QCOMPARE(model.logEntries().size(), 100);
        QCOMPARE(model.logEntries().constFirst(), u"agent 201"_s);
        QVERIFY(harness.logEndsWith(u"Состояние службы: подключается"_s));
    }

    void ownLogKeepsTheNewest100Lines() {
        Harness harness;
        AgentViewModel& model = harness.create();
        for (int toggle = 0; toggle < 99; ++toggle) {
            model.togglePower();
        }

        QCOMPARE(model.logEntries().size(), 100);
        QCOMPARE(model.logEntries().constFirst(), u"09:05:07  Состояние службы: выключен"_s);
        QVERIFY(harness.logEndsWith(u"Состояние службы: подключается"_s));
    }

    void togglePower_data() {
        QTest::addColumn<AgentServiceState>("published");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("completesLater");
        QTest::addColumn<bool>("agentConfirms");
        QTest::addColumn<QString>("change");
        QTest::addColumn<AgentServiceState>("expected");
        QTest::addColumn<QString>("logLine");

        const QString on = u"Состояние службы: подключается"_s;
        const QString off = u"Состояние службы: выключен"_s;
        const QString failedLog = u"Не удалось изменить состояние службы: "_s;
        QTest::newRow("stopped: on")
            << stopped() << QString() << false << false << u"start"_s << starting() << on;
        QTest::newRow("stopped: on, completing later")
            << stopped() << QString() << true << false << u"start"_s << starting() << on;
        QTest::newRow("stopped: on, agent confirms at once")
            << stopped() << QString() << false << true << u"start"_s << running()
            << u"Состояние службы: включён"_s;
        QTest::newRow("failed: on") << AgentServiceState::failed(u"x"_s) << QString() << false
                                    << false << u"start"_s << starting() << on;
        QTest::newRow("unavailable: on") << AgentServiceState::unavailable() << QString() << false
                                         << false << u"start"_s << starting() << on;
        QTest::newRow("running: off")
            << running() << QString() << false << false << u"disable"_s << stopped() << off;
        QTest::newRow("service error: off, not restarted")
            << AgentServiceState::serviceError(timeoutText) << QString() << false << false
            << u"disable"_s << stopped() << off;
        QTest::newRow("starting: off")
            << starting() << QString() << false << false << u"disable"_s << stopped() << off;
        QTest::newRow("needs configuration: off")
            << AgentServiceState::needsConfiguration() << QString() << false << false
            << u"disable"_s << stopped() << off;
        QTest::newRow("requires approval: off")
            << AgentServiceState::requiresApproval() << QString() << false << false << u"disable"_s
            << stopped() << off;
        QTest::newRow("on refused")
            << stopped() << u"refused"_s << false << false << u"start"_s
            << AgentServiceState::failed(refusedText) << failedLog + refusedText;
        QTest::newRow("on fails later") << stopped() << u"other"_s << true << false << u"start"_s
                                        << AgentServiceState::failed(changePrefix + u"нет шины"_s)
                                        << failedLog + changePrefix + u"нет шины"_s;
        // The manager still reports the agent registered: that is shown, not "failed".
        QTest::newRow("off fails") << running() << u"other"_s << false << false << u"disable"_s
                                   << starting() << failedLog + changePrefix + u"нет шины"_s;
    }

    void togglePower() {
        QFETCH(AgentServiceState, published);
        QFETCH(QString, failure);
        QFETCH(bool, completesLater);
        QFETCH(bool, agentConfirms);
        QFETCH(QString, change);
        QFETCH(QString, logLine);
        Harness harness(published);
        harness.controller->startCompletesAtOnce = !completesLater;
        harness.controller->startFailure = serviceFailure(failure);
        harness.controller->stopFailure = serviceFailure(failure);
        if (agentConfirms) {
            harness.setListening(true);
            harness.reportHealth(u"running"_s);
        }
        AgentViewModel& model = harness.create();
        QSignalSpy changing(&model, &AgentViewModel::isChangingStateChanged);

        model.togglePower();
        if (completesLater) {
            QVERIFY(model.isChangingState());
            QCOMPARE(model.serviceState(), published);
            harness.controller->finishStart();
        }

        QCOMPARE(harness.controller->changes, QStringList{change});
        QTEST(model.serviceState(), "expected");
        QVERIFY(harness.logEndsWith(logLine));
        QVERIFY(!model.isChangingState());
        QCOMPARE(changing.count(), 2);
        if (agentConfirms) {
            QCOMPARE(harness.agent->openConnections(), 1);
        }
    }

    // A start reported as failed that the manager carried out after all (an answer that came
    // too late) shows the agent as on, so the next click switches it off.
    void failedSwitchShowsWhatTheManagerReports() {
        Harness harness;
        harness.controller->startCompletesAtOnce = false;
        harness.controller->startFailure = serviceFailure(u"other"_s);
        AgentViewModel& model = harness.create();
        model.togglePower();
        harness.controller->registration = running();
        harness.controller->finishStart();
        QCOMPARE(model.serviceState(), starting());
        QVERIFY(!model.isChangingState());
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

    void leftoverRegistrationIsRemovedOnce() {
        Harness harness;
        harness.controller->leftover = true;
        AgentViewModel& model = harness.create();
        model.refresh();
        model.refresh();
        QCOMPARE(harness.controller->changes, QStringList{u"disable"_s});
        QCOMPARE(model.serviceState(), stopped());
        QVERIFY(harness.logEndsWith(
            u"Агент, оставшийся от прошлого запуска панели, остановлен и убран из автозапуска"_s));
    }

    void secondClickIsIgnoredWhileSwitching() {
        Harness harness;
        harness.controller->startCompletesAtOnce = false;
        AgentViewModel& model = harness.create();

        model.togglePower();
        model.togglePower();
        QCOMPARE(harness.controller->changes, QStringList{u"start"_s});

        harness.controller->finishStart();
        model.togglePower();
        QCOMPARE(harness.controller->changes, (QStringList{u"start"_s, u"disable"_s}));
    }

    void startThrowingAtOnceIsAFailure() {
        Harness harness;
        harness.controller->startThrows = true;
        harness.controller->startFailure = serviceFailure(u"refused"_s);
        AgentViewModel& model = harness.create();

        model.togglePower();

        QCOMPARE(model.serviceState(), AgentServiceState::failed(refusedText));
        QVERIFY(!model.isChangingState());
    }

    void startFinishingAfterTheViewModelIsGone() {
        Harness harness;
        harness.controller->startCompletesAtOnce = false;
        const std::shared_ptr<AgentServiceControlling::Completion> completion =
            harness.controller->lastCompletion;
        harness.create().togglePower();

        harness.model.reset();

        (*completion)(nullptr);  // reaches nobody
    }

    void switchOnFinishingAfterShutdown_data() {
        QTest::addColumn<bool>("unregistrationFails");
        QTest::newRow("unregistered again, nothing published") << false;
        QTest::newRow("failed unregistration is published") << true;
    }

    void switchOnFinishingAfterShutdown() {
        QFETCH(bool, unregistrationFails);
        Harness harness;
        harness.controller->startCompletesAtOnce = false;
        AgentViewModel& model = harness.create();
        model.togglePower();
        model.shutdown();
        const QStringList logBefore = model.logEntries();
        QSignalSpy published(&model, &AgentViewModel::serviceStateChanged);
        if (unregistrationFails) {
            harness.controller->stopFailure = serviceFailure(u"other"_s);
        }

        harness.controller->finishStart();

        QCOMPARE(harness.controller->changes, (QStringList{u"start"_s, u"disable"_s}));
        QVERIFY(!model.isChangingState());
        if (unregistrationFails) {
            QCOMPARE(model.serviceState(), AgentServiceState::failed(changePrefix + u"нет шины"_s));
            QVERIFY(harness.logEndsWith(u"Не удалось изменить состояние службы: "_s + changePrefix +
                                        u"нет шины"_s));
        } else {
            QCOMPARE(harness.controller->registration, stopped());
            QCOMPARE(published.count(), 0);
            QCOMPARE(model.logEntries(), logBefore);
        }
    }

    void restartAfterConfigurationChange_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("startFailure");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("logLine");

        const QString restartLog =
            u"Не удалось применить настройки: "_s + changePrefix + u"нет шины"_s;
        const QString tokenLog = u"Конфигурация подключения обновлена"_s;
        const QString workspaceLog = u"Настройки Workspace обновлены"_s;
        QTest::newRow("token stored")
            << u"token"_s << QString() << PlatformWording::current().tokenStored() << tokenLog;
        QTest::newRow("token stored, restart fails")
            << u"token"_s << u"other"_s << restartFailed << restartLog;
        QTest::newRow("folder saved") << u"save"_s << QString() << folderSaved << workspaceLog;
        QTest::newRow("folder saved, restart fails")
            << u"save"_s << u"other"_s << restartFailed << restartLog;
        QTest::newRow("folder removed")
            << u"remove"_s << QString() << u"Workspace удалён из локальной конфигурации."_s
            << workspaceLog;
        QTest::newRow("folder removed, restart fails")
            << u"remove"_s << u"other"_s << restartFailed << restartLog;
        QTest::newRow("token access restored")
            << u"authorize"_s << QString() << u"Доступ к сохранённому токену восстановлен."_s
            << QString();
        QTest::newRow("token access restored, restart fails")
            << u"authorize"_s << u"other"_s << restartFailed << restartLog;
    }

    void restartAfterConfigurationChange() {
        QFETCH(QString, change);
        QFETCH(QString, startFailure);
        QFETCH(QString, logLine);
        Harness harness(running());
        harness.chosenFolder = harness.makeFolder(u"Share"_s);
        harness.storeRoots({{rootB, harness.makeFolder(u"Old"_s), false}});
        harness.tokens->token = validToken;
        harness.tokens->refusesRead = change == u"authorize";
        const std::shared_ptr<FakeTokenStore> tokens = harness.tokens;
        harness.authorize = [tokens] { tokens->refusesRead = false; };
        AgentViewModel& model = harness.create();
        harness.confirmRunningAgent();
        QCOMPARE(harness.agent->openConnections(), 1);
        harness.controller->startCompletesAtOnce = false;

        if (change == u"token") {
            model.setTokenDraft(validToken);
            QVERIFY(model.saveToken());
        } else if (change == u"save") {
            model.setWorkspaceRootIDDraft(rootA);
            model.selectWorkspaceFolder();
            model.saveWorkspace();
        } else if (change == u"remove") {
            model.removeWorkspace(rootB);
        } else {
            model.authorizeTokenAccess();
        }
        QTRY_VERIFY(harness.controller->isStartPending());
        QVERIFY(model.isChangingState());
        QCOMPARE(harness.agent->openConnections(), 0);  // lease released before the restart

        harness.controller->startFailure = serviceFailure(startFailure);
        harness.controller->finishStart();

        QVERIFY(!model.isChangingState());
        QTEST(harness.message(), "message");
        QCOMPARE(harness.controller->changes, QStringList{u"start"_s});
        if (!logLine.isEmpty()) {
            QVERIFY(harness.logContains(logLine));
        }
        if (startFailure.isEmpty()) {
            QCOMPARE(model.serviceState(), running());  // refreshed: lease connected again
            QCOMPARE(harness.agent->openConnections(), 1);
            QVERIFY(!harness.logContains(u"Не удалось применить настройки: "_s + changePrefix +
                                         u"нет шины"_s));
        }
    }

    void removalWithoutRestart_data() {
        QTest::addColumn<AgentServiceState>("registration");
        QTest::addColumn<bool>("restartInProgress");
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("agent off") << stopped() << false << QStringList();
        QTest::newRow("agent requires approval")
            << AgentServiceState::requiresApproval() << false << QStringList();
        QTest::newRow("restart in progress") << running() << true << QStringList{u"start"_s};
    }

    void removalWithoutRestart() {
        QFETCH(AgentServiceState, registration);
        QFETCH(bool, restartInProgress);
        Harness harness(registration);
        harness.storeRoots({{rootA, u"/srv/a"_s, false}, {rootB, u"/srv/b"_s, true}});
        harness.controller->startCompletesAtOnce = false;
        AgentViewModel& model = harness.create();
        if (restartInProgress) {
            model.removeWorkspace(rootA);
        }

        model.removeWorkspace(rootB);

        QTEST(harness.controller->changes, "changes");
        QCOMPARE(static_cast<int>(model.workspaceRoots().size()), restartInProgress ? 0 : 1);
        QCOMPARE(harness.storedRoots(), model.workspaceRoots());
        QCOMPARE(harness.message(), u"Workspace удалён из локальной конфигурации."_s);
        QVERIFY(harness.logEndsWith(u"Настройки Workspace обновлены"_s));
    }

    void saveToken_data() {
        QTest::addColumn<QString>("draft");
        QTest::addColumn<bool>("keychainRefuses");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("accessNeeded");
        QTest::newRow("stored, trimmed") << u"  "_s + validToken + u"\n"_s << false << true << true
                                         << PlatformWording::current().tokenStored() << false;
        QTest::newRow("malformed") << u"qv_agent_short"_s << false << false << false
                                   << AgentConfigurationError::invalidToken().message() << false;
        QTest::newRow("keychain refuses")
            << validToken << true << true << false << keychainRefusal() << true;
    }

    void saveToken() {
        QFETCH(QString, draft);
        QFETCH(bool, keychainRefuses);
        QFETCH(bool, saved);
        Harness harness;
        harness.tokens->refusesSave = keychainRefuses;
        AgentViewModel& model = harness.create();
        model.setTokenDraft(draft);

        QTEST(model.saveToken(), "accepted");
        QTRY_VERIFY(!model.isSavingToken());

        QTRY_COMPARE(model.hasSavedToken(), saved);
        QTEST(harness.message(), "message");
        QTEST(model.tokenAccessNeeded(), "accessNeeded");
        QCOMPARE(model.tokenDraft(), saved ? QString() : draft);
        QCOMPARE(model.hasSavedToken(), saved);
        QCOMPARE(harness.tokens->token, saved ? std::optional(validToken) : std::nullopt);
        QCOMPARE(harness.logEndsWith(u"Конфигурация подключения обновлена"_s), saved);
        QVERIFY(harness.controller->changes.isEmpty());  // the agent is off: no restart
    }

    // The store's answer comes back through the event loop, so the second click meets the first
    // save still running.
    void secondSaveIsIgnoredWhileSaving() {
        Harness harness;
        AgentViewModel& model = harness.create();
        model.setTokenDraft(validToken);

        QVERIFY(model.saveToken());
        QVERIFY(model.isSavingToken());
        QVERIFY(!model.saveToken());
        QTRY_VERIFY(!model.isSavingToken());

        QCOMPARE(harness.tokens->saveCount.load(), 1);
    }

    void authorizeTokenAccess_data() {
        QTest::addColumn<bool>("denied");
        QTest::addColumn<bool>("tokenStored");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("accessNeeded");
        const QString canceled =
            AgentTokenStorageError(AgentTokenStorageError::userCanceled).message();
        QTest::newRow("denied") << true << true << canceled << true;
        QTest::newRow("granted") << false << true << u"Доступ к сохранённому токену восстановлен."_s
                                 << false;
        QTest::newRow("granted, no token stored") << false << false << keychainRefusal() << false;
    }

    void authorizeTokenAccess() {
        QFETCH(bool, denied);
        QFETCH(bool, tokenStored);
        Harness harness;
        harness.tokens->refusesRead = true;
        if (tokenStored) {
            harness.tokens->token = validToken;
        }
        const std::shared_ptr<FakeTokenStore> tokens = harness.tokens;
        harness.authorize = [tokens, denied] {
            if (denied) {
                throw AgentTokenStorageError(AgentTokenStorageError::userCanceled);
            }
            tokens->refusesRead = false;
        };
        AgentViewModel& model = harness.create();
        QVERIFY(model.tokenAccessNeeded());

        model.authorizeTokenAccess();
        QVERIFY(model.isAuthorizingToken());
        QTRY_VERIFY(!model.isAuthorizingToken());

        QFETCH(QString, message);
        QTRY_COMPARE(harness.message(), message);
        QTEST(model.tokenAccessNeeded(), "accessNeeded");
        QCOMPARE(model.hasSavedToken(), tokenStored && !denied);
    }

    void secondAuthorizationIsIgnoredWhileWaiting() {
        Harness harness;
        auto calls = std::make_shared<std::atomic<int>>(0);
        auto answer = std::make_shared<std::promise<void>>();
        harness.authorize = [calls, user = answer->get_future().share()] {
            ++*calls;
            user.wait();
        };
        AgentViewModel& model = harness.create();

        model.authorizeTokenAccess();
        model.authorizeTokenAccess();
        answer->set_value();
        QTRY_VERIFY(!model.isAuthorizingToken());

        QCOMPARE(calls->load(), 1);
    }

    void authorizationOutlivingTheViewModel() {
        Harness harness;
        auto answer = std::make_shared<std::promise<void>>();
        auto ended = std::make_shared<std::atomic<bool>>(false);
        harness.authorize = [ended, user = answer->get_future().share()] {
            user.wait();
            *ended = true;
        };
        harness.create().authorizeTokenAccess();

        harness.model.reset();
        answer->set_value();

        QTRY_VERIFY(ended->load());
        QTest::qWait(50);  // a late outcome must reach nobody
    }

    void selectWorkspaceFolder_data() {
        QTest::addColumn<bool>("hasChooser");
        QTest::addColumn<QVariant>("chosen");
        QTest::addColumn<bool>("selected");
        QTest::newRow("chosen") << true << QVariant(u"/srv/share"_s) << true;
        QTest::newRow("cancelled") << true << QVariant() << false;
        QTest::newRow("no chooser") << false << QVariant(u"/srv/share"_s) << false;
    }

    void selectWorkspaceFolder() {
        QFETCH(bool, hasChooser);
        QFETCH(QVariant, chosen);
        QFETCH(bool, selected);
        Harness harness;
        if (chosen.isValid()) {
            harness.chosenFolder = chosen.toString();
        }
        if (!hasChooser) {
            harness.environment.chooseFolder = nullptr;
        }
        AgentViewModel& model = harness.create();
        model.saveWorkspace();  // leaves a message behind
        QCOMPARE(harness.message(), saveRefusal);
        QSignalSpy detailChanged(&model, &AgentViewModel::workspaceStatusDetailChanged);

        model.selectWorkspaceFolder();

        QCOMPARE(model.workspacePath(),
                 selected ? std::optional(u"/srv/share"_s) : std::optional<QString>());
        QCOMPARE(model.workspaceStatusDetail(),
                 selected ? u"/srv/share"_s : u"Выберите локальную папку"_s);
        QCOMPARE(harness.message(), selected ? u"<absent>"_s : saveRefusal);
        QCOMPARE(detailChanged.count(), selected ? 1 : 0);
    }

    void saveWorkspace_data() {
        QTest::addColumn<AgentServiceState>("registration");
        QTest::addColumn<bool>("switchingOn");
        QTest::addColumn<bool>("folderChosen");
        QTest::addColumn<QString>("rootID");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("saved");
        QTest::newRow("agent off: refused")
            << stopped() << false << true << rootA << saveRefusal << false;
        QTest::newRow("agent switching on: refused")
            << running() << true << true << rootA << saveRefusal << false;
        QTest::newRow("no folder chosen") << running() << false << false << rootA
                                          << u"Сначала выберите локальную папку."_s << false;
        QTest::newRow("agent registered, still starting: accepted")
            << running() << false << true << u"workspace."_s + rootA.toUpper() << folderSaved
            << true;
        QTest::newRow("malformed folder code")
            << running() << false << true << u"nope"_s
            << AgentConfigurationError::invalidWorkspaceID().message() << false;
    }

    void saveWorkspace() {
        QFETCH(AgentServiceState, registration);
        QFETCH(bool, switchingOn);
        QFETCH(bool, folderChosen);
        QFETCH(QString, rootID);
        QFETCH(bool, saved);
        Harness harness(switchingOn ? stopped() : registration);
        const QString folder = harness.makeFolder(u"Share"_s);
        harness.chosenFolder = folder;
        AgentViewModel& model = harness.create();
        model.setWorkspaceRootIDDraft(rootID);
        model.setWorkspaceWriteEnabled(true);
        if (folderChosen) {
            model.selectWorkspaceFolder();
        }
        if (switchingOn) {
            harness.controller->startCompletesAtOnce = false;
            harness.controller->registration = registration;
            model.togglePower();
        }

        model.saveWorkspace();

        QTEST(harness.message(), "message");
        const QList<WorkspaceRootConfiguration> expectedRoots{{rootA, folder, true}};
        QCOMPARE(harness.storedRoots(),
                 saved ? expectedRoots : QList<WorkspaceRootConfiguration>());
        QCOMPARE(model.workspaceRoots(), harness.storedRoots());
        QCOMPARE(model.workspaceRootIDDraft(), saved ? QString() : rootID);
        QCOMPARE(model.workspacePath(),
                 saved || !folderChosen ? std::nullopt : std::optional(folder));
        QCOMPARE(model.workspaceWriteEnabled(), !saved);
        QCOMPARE(harness.logEndsWith(u"Настройки Workspace обновлены"_s), saved);
        QCOMPARE(harness.controller->changes.contains(u"start"_s), saved || switchingOn);
    }

    void shutdown_data() {
        QTest::addColumn<AgentServiceState>("registration");
        QTest::addColumn<bool>("unregistrationFails");
        QTest::addColumn<bool>("unregisters");
        QTest::newRow("running") << running() << false << true;
        QTest::newRow("requires approval")
            << AgentServiceState::requiresApproval() << false << true;
        QTest::newRow("stopped") << stopped() << false << false;
        QTest::newRow("unavailable") << AgentServiceState::unavailable() << false << false;
        QTest::newRow("failure ignored") << running() << true << true;
    }

    void shutdown() {
        QFETCH(AgentServiceState, registration);
        QFETCH(bool, unregistrationFails);
        QFETCH(bool, unregisters);
        Harness harness(registration);
        harness.setListening(true);
        AgentViewModel& model = harness.create();
        model.refresh();
        QCOMPARE(harness.agent->openConnections(), registration == running() ? 1 : 0);
        if (unregistrationFails) {
            harness.controller->stopFailure = serviceFailure(u"refused"_s);
        }
        const QStringList logBefore = model.logEntries();
        QSignalSpy published(&model, &AgentViewModel::serviceStateChanged);
        QSignalSpy messages(&model, &AgentViewModel::configurationMessageChanged);

        model.shutdown();
        model.shutdown();

        QCOMPARE(harness.controller->changes,
                 unregisters ? QStringList{u"disable"_s} : QStringList());
        QCOMPARE(harness.agent->openConnections(), 0);
        QCOMPARE(published.count(), 0);
        QCOMPARE(messages.count(), 0);
        QCOMPARE(model.logEntries(), logBefore);
    }

    void versionText_data() {
        QTest::addColumn<QString>("shortVersion");
        QTest::addColumn<QString>("buildNumber");
        QTest::addColumn<QString>("text");
        QTest::newRow("both") << u"0.9.0"_s << u"17"_s << u"Версия 0.9.0 (17)"_s;
        QTest::newRow("no build number") << u"0.9.0"_s << QString() << u"Версия 0.9.0 (—)"_s;
        QTest::newRow("neither") << QString() << QString() << u"Версия — (—)"_s;
    }

    void versionText() {
        QFETCH(QString, shortVersion);
        QFETCH(QString, buildNumber);
        Harness harness;
        harness.environment.shortVersion = shortVersion;
        harness.environment.buildNumber = buildNumber;
        QTEST(harness.create().versionText(), "text");
    }

    // A build configured without a number still gets one, so the footer never shows a dash.
    void defaultBuildHasANumber() {
        QVERIFY(!AgentViewModelEnvironment::system().buildNumber.isEmpty());
    }

    void workspaceAccount_data() {
        QTest::addColumn<QString>("fullName");
        QTest::addColumn<QString>("account");
        QTest::newRow("full name") << u"Анна Петрова"_s << u"Анна Петрова"_s;
        QTest::newRow("no full name") << QString() << u"anna"_s;
    }

    void workspaceAccount() {
        QFETCH(QString, fullName);
        Harness harness;
        harness.environment.fullUserName = fullName;
        QTEST(harness.create().workspaceAccount(), "account");
    }

    void workspaceStatus_data() {
        QTest::addColumn<int>("rootCount");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");
        QTest::newRow("none") << 0 << u"Локальные папки: не добавлены"_s
                              << u"Выберите локальную папку"_s;
        QTest::newRow("two") << 2 << u"Локально сохранено папок: 2"_s << u"/srv/a"_s;
    }

    void workspaceStatus() {
        QFETCH(int, rootCount);
        Harness harness;
        harness.storeRoots(QList<WorkspaceRootConfiguration>{
            {rootA, u"/srv/a"_s, false},
            {rootB, u"/srv/b"_s,
             true}}.first(rootCount));
        AgentViewModel& model = harness.create();
        QTEST(model.workspaceStatusTitle(), "title");
        QTEST(model.workspaceStatusDetail(), "detail");
        QCOMPARE(static_cast<int>(model.property("workspaceRoots").toList().size()), rootCount);
    }

    void userFacingMessage_data() {
        QTest::addColumn<std::exception_ptr>("failure");
        QTest::addColumn<QString>("text");
        const QString location = PlatformWording::current().unitFileNotWritten(
            u"/home/anna/.config/systemd/user/ru.quorvane.agent.service"_s, u"Permission denied"_s);
        QTest::newRow("refused") << serviceFailure(u"refused"_s) << refusedText;
        QTest::newRow("location update")
            << std::make_exception_ptr(
                   AgentServiceError(AgentServiceError::Kind::locationUpdateFailed, location, 5))
            << changePrefix + location;
        QTest::newRow("other") << serviceFailure(u"other"_s) << changePrefix + u"нет шины"_s;
        QTest::newRow("not a service error")
            << std::make_exception_ptr(std::runtime_error("boom")) << changePrefix + u"boom"_s;
    }

    void userFacingMessage() {
        QFETCH(std::exception_ptr, failure);
        QTEST(AgentViewModel::userFacingMessage(failure), "text");
    }
};

QTEST_GUILESS_MAIN(TestAgentViewModel)
#include "tst_AgentViewModel.moc"
