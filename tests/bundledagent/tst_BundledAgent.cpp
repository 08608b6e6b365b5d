// The bundled agent as a process of its own, with its folders in a temporary home and a
// stand-in panel answering its token request: what it reports at start-up, the panels it keeps
// connected, and how it stops; and the panel executable's token-output mode it relies on.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>
#include <thread>

#include "SessionKeyring.h"
#include "app/QuorvaneApp.h"
#include "config/AgentContract.h"
#include "keychain/KeychainAgentTokenStore.h"
#include "monitor/AgentHealthReader.h"
#include "monitor/AgentLogReader.h"
#include "tests/support/FakeTokenStore.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

const QByteArray token = "qv_agent_AbCdEfGhIjKlMnOpQrStUvWxYz0123456789-_AbCdE";
const QByteArray printsToken = "printf '%s' '" + token + "'";
const QString starting = AgentContract::statusStarting;
const QString running = AgentContract::statusRunning;
const QString failed = AgentContract::statusError;
const QString unconfigured = AgentContract::statusNeedsConfiguration;

QByteArray workspace(const QString& folder) {
    return "workspace.1c0e5a34-8f2b-4d6e-9a71-3b5c7d9e0f12=" + QFile::encodeName(folder) + '\n';
}

// A client of the agent's socket that never sends anything, as the panel's lease.
int connectedTo(const QString& path) {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(),
                 sizeof address.sun_path - 1);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{5, 0};  // for the reads below
    ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

bool closedByAgent(int connection) {
    char byte = 0;
    return ::recv(connection, &byte, 1, 0) == 0;
}

QStringList descriptors(qint64 pid) {
    return QDir(u"/proc/%1/fd"_s.arg(pid))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

// User and system time the process has used, in clock ticks.
qint64 cpuTicks(qint64 pid) {
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : "";
    // The fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : 0;
}

struct TokenOutput {
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
    qint64 milliseconds = 0;
};

// The panel executable in token-output mode, without a display, as the agent's service runs it.
TokenOutput tokenOutput(const QString& busAddress, const QString& outputFile) {
    QProcess panel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DISPLAY"_s);
    environment.remove(u"WAYLAND_DISPLAY"_s);
    if (!busAddress.isEmpty()) {
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
    }
    panel.setProcessEnvironment(environment);
    if (!outputFile.isEmpty()) {
        panel.setStandardOutputFile(outputFile);
    }
    QElapsedTimer clock;
    clock.start();
    panel.start(qEnvironmentVariable("QUORVANE_PREFIX") + u"/bin/quorvane"_s,
                {u"--read-agent-token"_s});
    if (!panel.waitForFinished(10000)) {
        panel.kill();
        panel.waitForFinished();
        return {};
    }
    return {panel.exitStatus() == QProcess::NormalExit ? panel.exitCode() : -1,
            panel.readAllStandardOutput(), panel.readAllStandardError(), clock.elapsed()};
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

    QString folder() const {
        QDir(home_->path()).mkdir(u"Проекты"_s);
        return home_->filePath(u"Проекты"_s);
    }

    void configure(const QByteArray& text) const {
        QDir().mkpath(AgentContract::configurationDirectory());
        QFile file(AgentContract::configurationFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }

    // `panel` answers the agent's token request; null: the real panel beside the agent.
    void startAgent(const QByteArray& panel) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, home_->path());
        environment.remove(u"QUORVANE_PANEL"_s);
        if (!panel.isNull()) {
            QFile script(home_->filePath(u"panel"_s));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\n[ $# -eq 1 ] && [ \"$1\" = --read-agent-token ] || exit 2\n" +
                         panel + '\n');
            script.setPermissions(panel == "missing" ? QFile::ReadOwner
                                                     : QFile::ReadOwner | QFile::ExeOwner);
            environment.insert(u"QUORVANE_PANEL"_s, script.fileName());
        }
        agent_.setProcessEnvironment(environment);
        agent_.setProcessChannelMode(QProcess::ForwardedChannels);
        agent_.start(
            qEnvironmentVariable("QUORVANE_PREFIX") + u'/' + AgentContract::bundledAgentPath, {});
        QVERIFY2(agent_.waitForStarted(), qPrintable(agent_.errorString()));
    }

    // The status the agent settles on after "starting".
    QString settledStatus() const {
        std::optional<AgentHealthSnapshot> snapshot;
        const bool settled = QTest::qWaitFor(
            [&] { return (snapshot = health()) && snapshot->status != starting; }, 15000);
        return settled ? snapshot->status : u"(still starting)"_s;
    }

    void stopAgent(int signal, int withinMs = 10000) {
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(agent_.processId()), signal);
        QVERIFY(agent_.waitForFinished(10000));
        QVERIFY2(clock.elapsed() < withinMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(agent_.exitStatus(), QProcess::NormalExit);
        QCOMPARE(agent_.exitCode(), 0);
    }

private Q_SLOTS:
    void init() {
        home_ = std::make_unique<QTemporaryDir>();
        QVERIFY(home_->isValid());
        // The agent started from here takes its folders from the same variables.
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
            qputenv(variable, QFile::encodeName(home_->filePath(QString::fromLatin1(variable))));
        }
    }

    void cleanup() {
        agent_.kill();
        agent_.waitForFinished();
    }

    void reportsItsStartUpOutcome_data() {
        QTest::addColumn<QByteArray>("panel");
        QTest::addColumn<QByteArray>("configuration");  // null: no file
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");  // its start
        const QByteArray tmp = workspace(u"/tmp"_s);
        QTest::newRow("no token") << QByteArray("exit 0") << tmp << unconfigured
                                  << u"Добавьте токен устройства"_s;
        QTest::newRow("no configuration file")
            << printsToken << QByteArray() << unconfigured << u"Добавьте папку Workspace"_s;
        QTest::newRow("configuration without folders")
            << printsToken << QByteArray("# Quorvane Agent\n") << unconfigured
            << u"Добавьте папку Workspace"_s;
        QTest::newRow("token line left in the file")
            << QByteArray("exit 0") << "token=" + token + "\n" + tmp << running << QString();
        QTest::newRow("secret store locked")
            << QByteArray("exit 1") << tmp << failed << u"Не удалось прочитать токен"_s;
        QTest::newRow("broken configuration")
            << printsToken << QByteArray("token\n") << failed
            << u"Не удалось прочитать конфигурацию: Некорректная конфигурация"_s;
        QTest::newRow("missing folder") << printsToken << workspace(u"/nonexistent"_s) << failed
                                        << u"Нет доступа к папке Workspace: /nonexistent"_s;
        QTest::newRow("panel that cannot run")
            << QByteArray("missing") << tmp << failed << u"Не удалось запустить панель Quorvane"_s;
    }

    void reportsItsStartUpOutcome() {
        QFETCH(QByteArray, panel);
        QFETCH(QByteArray, configuration);
        QFETCH(QString, status);
        QFETCH(QString, message);
        if (!configuration.isNull()) {
            configure(configuration);
        }
        startAgent(panel);
        QCOMPARE(settledStatus(), status);
        QCOMPARE(health()->message.value_or(QString()).left(message.size()), message);
        QCOMPARE(health()->message.has_value(), !message.isEmpty());
    }

    void requestsTokenOutput_data() {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<bool>("tokenOutput");
        const QByteArray flag("--read-agent-token");
        QTest::newRow("the flag alone") << QByteArrayList{"quorvane", flag} << true;
        QTest::newRow("no argument") << QByteArrayList{"quorvane"} << false;
        QTest::newRow("argument after the flag") << QByteArrayList{"quorvane", flag, "x"} << false;
        QTest::newRow("argument before the flag") << QByteArrayList{"quorvane", "x", flag} << false;
        QTest::newRow("upper case") << QByteArrayList{"quorvane", flag.toUpper()} << false;
        QTest::newRow("with a value") << QByteArrayList{"quorvane", flag + "=1"} << false;
        QTest::newRow("prefix only") << QByteArrayList{"quorvane", flag.chopped(6)} << false;
    }

    void requestsTokenOutput() {
        QFETCH(QByteArrayList, arguments);
        QFETCH(bool, tokenOutput);
        std::vector<const char*> argv;
        for (const QByteArray& argument : arguments) {
            argv.push_back(argument.constData());
        }
        argv.push_back(nullptr);
        QCOMPARE(QuorvaneApp::requestsTokenOutput(int(arguments.size()), argv.data()), tokenOutput);
    }

    // A pipe takes 64 KiB at once; the rest must follow, not be dropped.
    void writesTokensLargerThanThePipe() {
        FakeTokenStore store;
        store.token = QString(1 << 20, u'x');
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        QByteArray output;
        std::thread reader([&output, readEnd = ends[0]] {
            char buffer[65536];
            for (ssize_t count; (count = ::read(readEnd, buffer, sizeof buffer)) > 0;) {
                output.append(buffer, count);
            }
        });
        QCOMPARE(QuorvaneApp::writeStoredToken(store, ends[1]), 0);
        ::close(ends[1]);
        reader.join();
        ::close(ends[0]);
        QCOMPARE(output, store.token->toLatin1());
    }

    // The stored bytes, or nothing, on standard output; never a word on standard error; when
    // the secret store cannot answer, a quick failure.
    void tokenOutputMode_data() {
        QTest::addColumn<QByteArray>("stored");  // null: no token
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("exitCode");
        const QByteArray stored("qv1.token_01 токен \n");
        QTest::newRow("token") << stored << QString() << 0;
        QTest::newRow("empty token") << QByteArray("") << QString() << 0;
        QTest::newRow("no token") << QByteArray() << QString() << 0;
        QTest::newRow("output fails") << stored << u"/dev/full"_s << 1;
        QTest::newRow("locked collection") << stored << u"locked"_s << 1;
        QTest::newRow("undecodable token") << QByteArray("\xff\xfe") << u"quick"_s << 1;
        QTest::newRow("no bus") << stored << u"unix:path=/nonexistent/bus"_s << 1;
        QTest::newRow("no secret service on the bus") << stored << u"empty bus"_s << 1;
    }

    void tokenOutputMode() {
        QFETCH(QByteArray, stored);
        QFETCH(QString, situation);
        QFETCH(int, exitCode);
        SessionKeyring::clearToken();
        if (!stored.isNull()) {
            SessionKeyring::storeToken(stored);
        }
        if (situation == u"locked") {
            SessionKeyring::lockDefaultCollection();
        }
        const EmptyBus emptyBus;
        const TokenOutput outcome = tokenOutput(situation == u"empty bus" ? emptyBus.address()
                                                : situation.startsWith(u"unix:") ? situation
                                                                                 : QString(),
                                                situation.startsWith(u'/') ? situation : QString());
        const bool locked = SessionKeyring::isDefaultCollectionLocked();
        if (locked) {
            SessionKeyring::unlockDefaultCollection();
        }
        QCOMPARE(outcome.exitCode, exitCode);
        QCOMPARE(outcome.output, exitCode == 0 ? stored : QByteArray());
        QCOMPARE(outcome.errors, QByteArray());
        QCOMPARE(locked, situation == u"locked");
        QVERIFY(situation.isEmpty() || situation.startsWith(u'/') || outcome.milliseconds < 1000);
    }

    // A login session starts the agent before the user unlocks the keyring; the real panel
    // beside it reads the token once the keyring is unlocked.
    void carriesOnOnceTheStoreIsUnlocked() {
        KeychainAgentTokenStore(false).save(QString::fromLatin1(token));
        testing::SessionKeyring::lockDefaultCollection();
        configure(workspace(folder()));
        startAgent({});
        QCOMPARE(settledStatus(), failed);
        testing::SessionKeyring::unlockDefaultCollection();
        QTRY_COMPARE_WITH_TIMEOUT(health()->status, running, 5000);
        QCOMPARE(agent_.state(), QProcess::Running);
    }

    // Panels come and go without disturbing the others, and a stale socket file of an agent
    // that did not stop cleanly is replaced; all of them are let go when the agent stops.
    void keepsPanelsConnectedUntilStopped_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void keepsPanelsConnectedUntilStopped() {
        QFETCH(int, signal);
        const QString socket = AgentContract::guiSocketPath();
        QVERIFY(QDir().mkpath(QFileInfo(socket).path()));
        {
            sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
            std::strcpy(address.sun_path, QFile::encodeName(socket).constData());
            const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QCOMPARE(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(stale);
        }
        configure(workspace(folder()) +
                  "workspace.1c0e5a34-8f2b-4d6e-9a71-3b5c7d9e0f12.write=true\n");
        startAgent(printsToken);
        QCOMPARE(settledStatus(), running);

        int panels[] = {connectedTo(socket), connectedTo(socket), connectedTo(socket)};
        QVERIFY(panels[0] >= 0 && panels[1] >= 0 && panels[2] >= 0);
        ::close(panels[0]);
        const auto lastLogLine = [] {
            return AgentLogReader(AgentContract::logFilePath()).readRecentLines(300).last();
        };
        QTRY_VERIFY(lastLogLine().endsWith(u"Панель отключилась (подключений: 2)"_s));
        stopAgent(signal);
        QVERIFY(closedByAgent(panels[1]) && closedByAgent(panels[2]));
        ::close(panels[1]);
        ::close(panels[2]);
        QVERIFY(!QFileInfo::exists(socket));
        QCOMPARE(health()->status, QString(AgentContract::statusStopped));

        // Nothing of the token in the log, nothing written into the folder, nothing for others.
        const QStringList log = AgentLogReader(AgentContract::logFilePath()).readRecentLines(300);
        QVERIFY(!log.join(u'\n').contains(QString::fromLatin1(token)));
        QVERIFY(QDir(folder()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System |
                                       QDir::NoDotAndDotDot));
        for (const QString& path :
             {AgentContract::stateDirectory(), AgentContract::runtimeDirectory(),
              AgentContract::healthFilePath(), AgentContract::logFilePath()}) {
            QCOMPARE(QFileInfo(path).permissions() & 0x0777,
                     QFileInfo(path).isDir() ? 0x0700 : 0x0600);
        }
    }

    // Whatever stands at one of its paths, and while its start-up waits for the token, the
    // agent neither hangs nor outlives SIGTERM.
    void stopsPromptly_data() {
        QTest::addColumn<int>("fifoAt");  // -1: none
        QTest::addColumn<QByteArray>("panel");
        QTest::addColumn<QString>("status");
        QTest::newRow("FIFO as configuration") << 0 << printsToken << failed;
        QTest::newRow("FIFO as health file") << 1 << printsToken << running;
        QTest::newRow("FIFO as log") << 2 << printsToken << running;
        QTest::newRow("FIFO as GUI socket") << 3 << printsToken << failed;
        QTest::newRow("token request never answered")
            << -1 << QByteArray("exec sleep 60") << starting;
    }

    void stopsPromptly() {
        QFETCH(int, fifoAt);
        QFETCH(QByteArray, panel);
        QFETCH(QString, status);
        // The locations follow the XDG variables init() sets.
        const QString paths[] = {AgentContract::configurationFilePath(),
                                 AgentContract::healthFilePath(), AgentContract::logFilePath(),
                                 AgentContract::guiSocketPath()};
        if (fifoAt != 0) {
            configure(workspace(folder()));
        }
        if (fifoAt >= 0) {
            QVERIFY(QDir().mkpath(QFileInfo(paths[fifoAt]).path()));
            QCOMPARE(::mkfifo(QFile::encodeName(paths[fifoAt]).constData(), 0600), 0);
        }
        startAgent(panel);
        if (status == starting) {
            QTRY_COMPARE(health().value_or(AgentHealthSnapshot{}).status, starting);
        } else {
            QCOMPARE(settledStatus(), status);
        }
        stopAgent(SIGTERM, 1500);
    }

    // Out of descriptors, the agent neither spins on its listener nor loses the waiting panel.
    void waitsOutAFullDescriptorTable() {
        configure(workspace(folder()));
        startAgent(printsToken);
        QCOMPARE(settledStatus(), running);
        const qint64 pid = agent_.processId();
        // What its start-up used (the panel's pipes, files) the agent closes on its own time.
        QStringList open = descriptors(pid);
        for (int attempt = 0; attempt < 20 && (QTest::qWait(250), descriptors(pid) != open);
             ++attempt) {
            open = descriptors(pid);
        }
        int lowestFree = 0;
        while (open.contains(QString::number(lowestFree))) {
            ++lowestFree;
        }
        rlimit original{};
        QCOMPARE(::prlimit(pid_t(pid), RLIMIT_NOFILE, nullptr, &original), 0);
        const rlimit full{rlim_t(lowestFree), original.rlim_max};
        QCOMPARE(::prlimit(pid_t(pid), RLIMIT_NOFILE, &full, nullptr), 0);

        const int panel = connectedTo(AgentContract::guiSocketPath());  // queued by the kernel
        QVERIFY(panel >= 0);
        const qint64 ticksBefore = cpuTicks(pid);
        QTest::qWait(1500);
        QVERIFY2(cpuTicks(pid) - ticksBefore < ::sysconf(_SC_CLK_TCK) / 2, "the agent spins");
        QCOMPARE(descriptors(pid).size(), open.size());
        QCOMPARE(::prlimit(pid_t(pid), RLIMIT_NOFILE, &original, nullptr), 0);
        QTRY_COMPARE(descriptors(pid).size(), open.size() + 1);
        ::close(panel);
    }
};

QTEST_GUILESS_MAIN(TestBundledAgent)
#include "tst_BundledAgent.moc"
