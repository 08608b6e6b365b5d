#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "SessionKeyring.h"
#include "agent/AgentGUILease.h"
#include "config/AgentContract.h"
#include "keychain/KeychainAgentTokenStore.h"
#include "monitor/AgentHealthReader.h"
#include "monitor/AgentLogReader.h"

using namespace quorvane;

namespace {

constexpr int startUpLimit = 15'000;
const QByteArray token = "qv_agent_AbCdEfGhIjKlMnOpQrStUvWxYz0123456789-_AbCdE";
const QString rootID = QStringLiteral("1c0e5a34-8f2b-4d6e-9a71-3b5c7d9e0f12");

// A connected client of the agent's socket, like the panel's lease: it never sends anything.
class PanelConnection {
public:
    explicit PanelConnection(const QString& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray encoded = QFile::encodeName(path);
        std::memcpy(address.sun_path, encoded.constData(), encoded.size());
        descriptor_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(descriptor_);
            descriptor_ = -1;
        }
    }
    ~PanelConnection() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    PanelConnection(const PanelConnection&) = delete;
    PanelConnection& operator=(const PanelConnection&) = delete;

    bool isConnected() const { return descriptor_ >= 0; }

    // Open and silent (no data, no end of stream).
    bool isOpen() const {
        char byte;
        return ::recv(descriptor_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno == EAGAIN;
    }

    // Closed by the agent, waiting up to a few seconds for it.
    bool closedByAgent() const {
        timeval limit{5, 0};
        ::setsockopt(descriptor_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char byte;
        return ::recv(descriptor_, &byte, 1, 0) == 0;
    }

private:
    int descriptor_ = -1;
};

QStringList descriptorNames(pid_t pid) {
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

qsizetype descriptorCount(pid_t pid) {
    return descriptorNames(pid).size();
}

// The agent closes what its start-up used (the panel's pipes, files) on its own time; the
// limit must be set against the descriptors it keeps.
bool descriptorsSettle(pid_t pid) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const QStringList before = descriptorNames(pid);
        QTest::qWait(250);
        if (descriptorNames(pid) == before) {
            return true;
        }
    }
    return false;
}

int lowestFreeDescriptor(pid_t pid) {
    const QStringList open = descriptorNames(pid);
    int descriptor = 0;
    while (open.contains(QString::number(descriptor))) {
        ++descriptor;
    }
    return descriptor;
}

// User and system time the process has used so far.
double cpuSeconds(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) /
           double(::sysconf(_SC_CLK_TCK));
}

}  // namespace

class TestBundledAgent : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> home_;
    QProcess agent_;

    std::optional<AgentHealthSnapshot> health() const {
        return AgentHealthReader(AgentContract::healthFilePath()).readSnapshot();
    }

    QStringList logLines() const {
        return AgentLogReader(AgentContract::logFilePath()).readRecentLines(300);
    }

    QString writePanel(const QByteArray& body) const {
        const QString path = home_->filePath(QStringLiteral("stand-in-panel"));
        QFile script(path);
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\n[ $# -eq 1 ] && [ \"$1\" = --read-agent-token ] || exit 2\n" +
                     body + '\n');
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        return path;
    }

    void writeConfiguration(const QByteArray& text) const {
        QDir().mkpath(AgentContract::configurationDirectory());
        QFile file(AgentContract::configurationFilePath());
        file.open(QIODevice::WriteOnly);
        file.write(text);
    }

    QString makeFolder(const QString& name) const {
        QDir(home_->path()).mkdir(name);
        return home_->filePath(name);
    }

    // An empty `panel`: the agent runs the real panel of its install prefix.
    void startAgent(const QString& panel) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home_->path());
        if (panel.isEmpty()) {
            environment.remove(QStringLiteral("QUORVANE_PANEL"));
        } else {
            environment.insert(QStringLiteral("QUORVANE_PANEL"), panel);
        }
        agent_.setProcessEnvironment(environment);
        agent_.setProgram(qEnvironmentVariable("QUORVANE_PREFIX") + QLatin1Char('/') +
                          AgentContract::bundledAgentPath);
        agent_.setProcessChannelMode(QProcess::ForwardedChannels);
        agent_.start();
        QVERIFY2(agent_.waitForStarted(), qPrintable(agent_.errorString()));
    }

    // The status the agent settles on after "starting".
    QString settledStatus() const {
        std::optional<AgentHealthSnapshot> snapshot;
        const bool settled = QTest::qWaitFor(
            [&] {
                snapshot = health();
                return snapshot && snapshot->status != AgentContract::statusStarting;
            },
            startUpLimit);
        return settled ? snapshot->status : QStringLiteral("(nothing after starting)");
    }

    void startRunningAgent() {
        const QString folder = makeFolder(QStringLiteral("Проекты"));
        writeConfiguration("workspace." + rootID.toUtf8() + "=" + folder.toUtf8() + "\nworkspace." +
                           rootID.toUtf8() + ".write=true\n");
        startAgent(writePanel("printf '%s' '" + token + "'"));
        QCOMPARE(settledStatus(), QString(AgentContract::statusRunning));
    }

    void stopWithin(int milliseconds) {
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(agent_.processId()), SIGTERM);
        QVERIFY(agent_.waitForFinished(10'000));
        QVERIFY2(clock.elapsed() < milliseconds, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(agent_.exitCode(), 0);
    }

    void stopAgent(int signal) {
        ::kill(pid_t(agent_.processId()), signal);
        QVERIFY(agent_.waitForFinished(10'000));
        QCOMPARE(agent_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(agent_.exitCode(), 0);
    }

private Q_SLOTS:
    void init() {
        home_ = std::make_unique<QTemporaryDir>();
        QVERIFY(home_->isValid());
        // The agent started from here takes its folders from the same variables.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_->filePath(QStringLiteral("config"))));
        qputenv("XDG_STATE_HOME", QFile::encodeName(home_->filePath(QStringLiteral("state"))));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home_->filePath(QStringLiteral("run"))));
    }

    void cleanup() {
        if (agent_.state() != QProcess::NotRunning) {
            agent_.kill();
            agent_.waitForFinished();
        }
    }

    void reportsItsStartUpOutcome_data() {
        QTest::addColumn<QByteArray>("panel");
        QTest::addColumn<QByteArray>("configuration");  // null: no file
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");  // the start of the message

        const QByteArray folder = "workspace." + rootID.toUtf8() + "=/tmp\n";
        const QByteArray printsToken = "printf '%s' '" + token + "'";
        QTest::newRow("no token") << QByteArray("exit 0") << folder
                                  << QString(AgentContract::statusNeedsConfiguration)
                                  << QStringLiteral("Добавьте токен устройства");
        QTest::newRow("no configuration file")
            << printsToken << QByteArray() << QString(AgentContract::statusNeedsConfiguration)
            << QStringLiteral("Добавьте папку Workspace");
        QTest::newRow("configuration without folders")
            << printsToken << QByteArray("# Quorvane Agent\n")
            << QString(AgentContract::statusNeedsConfiguration)
            << QStringLiteral("Добавьте папку Workspace");
        QTest::newRow("token line left in the file")
            << QByteArray("exit 0") << QByteArray("token=" + token + "\n" + folder)
            << QString(AgentContract::statusRunning) << QString();
        QTest::newRow("secret store locked")
            << QByteArray("exit 1") << folder << QString(AgentContract::statusError)
            << QStringLiteral("Не удалось прочитать токен");
        QTest::newRow("broken configuration")
            << printsToken << QByteArray("token\n") << QString(AgentContract::statusError)
            << QStringLiteral("Не удалось прочитать конфигурацию: Некорректная конфигурация");
        QTest::newRow("missing folder")
            << printsToken << QByteArray("workspace." + rootID.toUtf8() + "=/nonexistent\n")
            << QString(AgentContract::statusError)
            << QStringLiteral("Нет доступа к папке Workspace: /nonexistent");
    }

    void reportsItsStartUpOutcome() {
        QFETCH(QByteArray, panel);
        QFETCH(QByteArray, configuration);
        QFETCH(QString, status);
        QFETCH(QString, message);

        if (!configuration.isNull()) {
            writeConfiguration(configuration);
        }
        startAgent(writePanel(panel));
        QCOMPARE(settledStatus(), status);
        const auto snapshot = health();
        QCOMPARE(snapshot->message.value_or(QString()).left(message.size()), message);
        QCOMPARE(snapshot->message.has_value(), !message.isEmpty());
    }

    void panelThatCannotRun() {
        startAgent(home_->filePath(QStringLiteral("no-such-panel")));
        QCOMPARE(settledStatus(), QString(AgentContract::statusError));
        QVERIFY(health()->message.value_or(QString()).startsWith(
            QStringLiteral("Не удалось запустить панель Quorvane")));
    }

    // The real panel beside the agent reads the token from the session's secret store.
    void takesTheTokenFromThePanelBesideIt_data() {
        QTest::addColumn<bool>("tokenStored");
        QTest::addColumn<QString>("status");
        // In this order: the session's secret store keeps the token of the first row.
        QTest::newRow("no token") << false << QString(AgentContract::statusNeedsConfiguration);
        QTest::newRow("token stored") << true << QString(AgentContract::statusRunning);
    }

    void takesTheTokenFromThePanelBesideIt() {
        QFETCH(bool, tokenStored);
        QFETCH(QString, status);

        if (tokenStored) {
            KeychainAgentTokenStore(false).save(QString::fromLatin1(token));
        }
        writeConfiguration("workspace." + rootID.toUtf8() + "=" +
                           makeFolder(QStringLiteral("docs")).toUtf8() + "\n");
        startAgent(QString());
        QCOMPARE(settledStatus(), status);
    }

    // A login session starts the agent before the user unlocks the keyring.
    void carriesOnOnceTheStoreIsUnlocked() {
        KeychainAgentTokenStore(false).save(QString::fromLatin1(token));
        testing::SessionKeyring::lockDefaultCollection();
        writeConfiguration("workspace." + rootID.toUtf8() + "=" +
                           makeFolder(QStringLiteral("docs")).toUtf8() + "\n");
        startAgent(QString());
        QCOMPARE(settledStatus(), QString(AgentContract::statusError));
        const qint64 pid = agent_.processId();

        testing::SessionKeyring::unlockDefaultCollection();
        QTRY_COMPARE_WITH_TIMEOUT(health()->status, QString(AgentContract::statusRunning), 5'000);
        QCOMPARE(agent_.processId(), pid);
    }

    void runsWithTokenAndWritableFolder() {
        startRunningAgent();

        const auto snapshot = health();
        QVERIFY(!snapshot->version.isEmpty());
        QVERIFY(QDateTime::fromString(snapshot->updatedAt, Qt::ISODate).isValid());
        QCOMPARE(
            QDir(home_->filePath(QStringLiteral("Проекты")))
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList());

        const QStringList log = logLines();
        QVERIFY(log.size() >= 3);
        QVERIFY(!log.join(QLatin1Char('\n')).contains(QString::fromLatin1(token)));

        QCOMPARE(QFileInfo(AgentContract::healthFilePath()).permissions() & 0x0777, 0x0600);
        for (const QString& folder :
             {AgentContract::stateDirectory(), AgentContract::runtimeDirectory()}) {
            QCOMPARE(QFileInfo(folder).permissions() & 0x0777, 0x0700);
        }
        QCOMPARE(QFileInfo(AgentContract::logFilePath()).permissions() & 0x0777, 0x0600);
    }

    void keepsPanelsConnectedUntilStopped_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void keepsPanelsConnectedUntilStopped() {
        QFETCH(int, signal);
        startRunningAgent();

        const QString socket = AgentContract::guiSocketPath();
        std::vector<std::unique_ptr<PanelConnection>> panels;
        for (int count = 0; count < 3; ++count) {
            panels.push_back(std::make_unique<PanelConnection>(socket));
            QVERIFY(panels.back()->isConnected());
        }
        panels.front().reset();  // a panel that quits does not disturb the others
        QTRY_VERIFY(
            logLines().last().endsWith(QStringLiteral("Панель отключилась (подключений: 2)")));
        for (std::size_t index = 1; index < panels.size(); ++index) {
            QVERIFY(panels[index]->isOpen());
        }

        stopAgent(signal);
        for (std::size_t index = 1; index < panels.size(); ++index) {
            QVERIFY(panels[index]->closedByAgent());
        }
        QVERIFY(!QFileInfo::exists(socket));
        QCOMPARE(health()->status, QString(AgentContract::statusStopped));
    }

    // Whatever stands at one of its paths, the agent neither waits on it nor outlives SIGTERM.
    void stopsPromptlyWithAFifoAtItsPath_data() {
        QTest::addColumn<int>("pathIndex");
        QTest::addColumn<QString>("status");
        QTest::newRow("configuration") << 0 << QString(AgentContract::statusError);
        QTest::newRow("health file") << 1 << QString(AgentContract::statusRunning);
        QTest::newRow("log") << 2 << QString(AgentContract::statusRunning);
        QTest::newRow("GUI socket") << 3 << QString(AgentContract::statusError);
    }

    void stopsPromptlyWithAFifoAtItsPath() {
        QFETCH(int, pathIndex);
        QFETCH(QString, status);
        // The locations depend on the XDG variables this fixture sets, so they are read here.
        const QString paths[] = {AgentContract::configurationFilePath(),
                                 AgentContract::healthFilePath(), AgentContract::logFilePath(),
                                 AgentContract::guiSocketPath()};
        const QString fifo = paths[pathIndex];
        const QString folder = makeFolder(QStringLiteral("docs"));
        if (pathIndex != 0) {
            writeConfiguration("workspace." + rootID.toUtf8() + "=" + folder.toUtf8() + "\n");
        }
        QVERIFY(QDir().mkpath(QFileInfo(fifo).path()));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        startAgent(writePanel("printf '%s' '" + token + "'"));
        QCOMPARE(settledStatus(), status);
        stopWithin(1500);
    }

    // Busy before its event loop runs (here the token helper never answers), the agent still
    // stops on SIGTERM.
    void stopsWhileItsStartUpWaits() {
        writeConfiguration("workspace." + rootID.toUtf8() + "=/tmp\n");
        startAgent(writePanel("exec sleep 60"));
        QTRY_COMPARE(health().value_or(AgentHealthSnapshot{}).status,
                     QString(AgentContract::statusStarting));
        stopWithin(1500);
    }

    // Out of descriptors, the agent neither spins on its listener nor loses the waiting panel.
    void waitsOutAFullDescriptorTable() {
        startRunningAgent();
        const pid_t pid = pid_t(agent_.processId());
        QVERIFY(descriptorsSettle(pid));
        rlimit original{};
        QCOMPARE(::prlimit(pid, RLIMIT_NOFILE, nullptr, &original), 0);
        // A new descriptor would be the lowest free number, which the limit no longer allows.
        const rlimit full{rlim_t(lowestFreeDescriptor(pid)), original.rlim_max};
        QCOMPARE(::prlimit(pid, RLIMIT_NOFILE, &full, nullptr), 0);
        const qsizetype before = descriptorCount(pid);

        const PanelConnection panel(AgentContract::guiSocketPath());
        QVERIFY(panel.isConnected());  // queued by the kernel; the agent cannot accept it yet
        const double cpuBefore = cpuSeconds(pid);
        QTest::qWait(1500);
        QVERIFY2(cpuSeconds(pid) - cpuBefore < 0.5, "the agent spins on its listener");
        QCOMPARE(descriptorCount(pid), before);

        QCOMPARE(::prlimit(pid, RLIMIT_NOFILE, &original, nullptr), 0);
        QTRY_COMPARE(descriptorCount(pid), before + 1);
    }

    // The panel's own client: several leases at once, released by the agent when it stops.
    void panelLeasesConnectUntilStopped() {
        startRunningAgent();
        const QString socket = AgentContract::guiSocketPath();
        std::vector<std::unique_ptr<AgentGUILease>> leases;
        for (int count = 0; count < 3; ++count) {
            leases.push_back(std::make_unique<AgentGUILease>(socket));
            leases.back()->update(true);
            QVERIFY(leases.back()->isConnected());
        }

        stopAgent(SIGTERM);
        for (const auto& lease : leases) {
            lease->update(true);  // sees the end of stream; nothing is listening any more
            QVERIFY(!lease->isConnected());
        }
    }

    void replacesAStaleSocketFile() {
        const QString socket = AgentContract::guiSocketPath();
        QDir().mkpath(AgentContract::runtimeDirectory());
        {
            const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strcpy(address.sun_path, QFile::encodeName(socket).constData());
            QCOMPARE(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(stale);  // the file stays, nobody listens
        }
        startRunningAgent();
        QVERIFY(PanelConnection(socket).isConnected());
        stopAgent(SIGTERM);
    }
};

QTEST_GUILESS_MAIN(TestBundledAgent)
#include "tst_BundledAgent.moc"
