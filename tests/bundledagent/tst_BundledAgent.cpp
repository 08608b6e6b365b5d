// The bundled agent as a process of its own, its folders in a temporary home, a stand-in panel
// answering its token request: what it reports at start-up, the panels it keeps, how it stops.
// (Its wait for a locked keyring, with the real panel, is in tests/keychain/provider-cases.sh.)
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>

#include "app/QuorvaneApp.h"
#include "config/AgentContract.h"
#include "monitor/AgentHealthReader.h"
#include "monitor/AgentLogReader.h"

using namespace quorvane;
using namespace Qt::StringLiterals;

namespace {

const QByteArray token = "qv_agent_AbCdEfGhIjKlMnOpQrStUvWxYz0123456789-_AbCdE";
const QByteArray printsToken = "printf '%s' '" + token + "'";
const QString starting = AgentContract::statusStarting, running = AgentContract::statusRunning,
              failed = AgentContract::statusError,
              unconfigured = AgentContract::statusNeedsConfiguration;

QByteArray workspace(const QString& folder) {
    return "workspace.1c0e5a34-8f2b-4d6e-9a71-3b5c7d9e0f12=" + QFile::encodeName(folder) + '\n';
}

const QByteArray inTmp = workspace(u"/tmp"_s);

// A client of the agent's socket that never sends anything, as the panel's lease.
int connectedTo(const QString& path) {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(),
                 sizeof address.sun_path - 1);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{5, 0};  // for the reads below
    ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const auto* target = reinterpret_cast<sockaddr*>(&address);
    return ::connect(descriptor, target, sizeof address) == 0 ? descriptor : -1;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList descriptors(qint64 pid) {
    return QDir(u"/proc/%1/fd"_s.arg(pid))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

// Whether the process's writable memory holds the bytes; root reads it although the agent is not
// dumpable. Mappings larger than a heap (a sanitizer's shadow memory) are skipped.
bool memoryHolds(qint64 pid, const QByteArray& bytes) {
    QFile memory(u"/proc/%1/mem"_s.arg(pid));
    if (!memory.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        return false;
    }
    static const QRegularExpression writable(u"^([0-9a-f]+)-([0-9a-f]+) rw"_s,
                                             QRegularExpression::MultilineOption);
    const QString maps = QString::fromLatin1(readAll(u"/proc/%1/maps"_s.arg(pid)));
    for (const QRegularExpressionMatch& mapping : writable.globalMatch(maps)) {
        const qint64 start = mapping.captured(1).toLongLong(nullptr, 16);
        const qint64 size = mapping.captured(2).toLongLong(nullptr, 16) - start;
        if (size <= 256 << 20 && memory.seek(start) && memory.read(size).contains(bytes)) {
            return true;
        }
    }
    return false;
}

// User and system time the agent (its name holds no space) has used, in clock ticks.
qint64 cpuTicks(qint64 pid) {
    const QList<QByteArray> fields = readAll(u"/proc/%1/stat"_s.arg(pid)).split(' ');
    return fields.size() > 14 ? fields.at(13).toLongLong() + fields.at(14).toLongLong() : 0;
}

std::optional<AgentHealthSnapshot> health() {
    return AgentHealthReader(AgentContract::healthFilePath()).readSnapshot();
}

// The status the agent settles on after "starting", or "starting" itself when that is expected.
QString reportedStatus(const QString& expected) {
    std::optional<AgentHealthSnapshot> snapshot;
    const QString unsettled = expected == starting ? QString() : starting;
    const bool settled = QTest::qWaitFor(
        [&] { return (snapshot = health()) && snapshot->status != unsettled; }, 15000);
    return settled ? snapshot->status : u"(not settled)"_s;
}

// Another user; root runs the suite, so one is at hand.
const passwd* otherUser() {
    return ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
}

void configure(const QByteArray& text) {
    QDir().mkpath(AgentContract::configurationDirectory());
    QFile file(AgentContract::configurationFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
}

}  // namespace

class TestBundledAgent : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home_;
    QProcess agent_;

    // `panel` is the stand-in panel's answer to the token request; "missing": it cannot run.
    void startAgent(const QByteArray& panel) {
        QFile script(home_->filePath(u"panel"_s));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n[ $# -eq 1 ] && [ \"$1\" = --read-agent-token ] || exit 2\n" +
                     panel + '\n');
        script.setPermissions(panel == "missing" ? QFile::ReadOwner
                                                 : QFile::ReadOwner | QFile::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, home_->path());
        environment.insert(u"QUORVANE_PANEL"_s, script.fileName());
        agent_.setProcessEnvironment(environment);
        agent_.setProcessChannelMode(QProcess::ForwardedChannels);
        // Under the most permissive umask; the agent sets its own.
        const mode_t callers = ::umask(0);
        agent_.start(
            qEnvironmentVariable("QUORVANE_PREFIX") + u'/' + AgentContract::bundledAgentPath, {});
        ::umask(callers);
        QVERIFY2(agent_.waitForStarted(), qPrintable(agent_.errorString()));
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

    // What the agent reports at start-up, also with a FIFO at one of its paths (its configuration:
    // tests/config) or, as in a shared XDG_RUNTIME_DIR, another user's runtime folder or a link to
    // a folder of theirs in its place (it creates nothing in theirs), and that it outlives SIGTERM
    // by no more than its deadline, even while it waits for the token.
    void startsAndStops_data() {
        QTest::addColumn<QByteArray>("panel");
        QTest::addColumn<QByteArray>("configuration");  // null: no file
        // A FIFO at health, log, socket (0-2); their runtime folder, a link (3, 4).
        QTest::addColumn<int>("planted");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");  // its start
        const auto row = [](const char* name, const QString& status, const QString& message,
                            int planted = -1, const QByteArray& panel = printsToken,
                            const QByteArray& configuration = inTmp) {
            QTest::newRow(name) << panel << configuration << planted << status << message;
        };
        row("no token", unconfigured, u"Добавьте токен"_s, -1, "exit 0");
        row("no configuration file", unconfigured, u"Добавьте папку"_s, -1, printsToken, {});
        row("token line in the file", running, {}, -1, "exit 0", "token=" + token + "\n" + inTmp);
        row("secret store locked", failed, u"Не удалось прочитать токен"_s, -1, "exit 1");
        row("broken configuration", failed, u"Не удалось прочитать конфигурацию: Некорректная"_s,
            -1, printsToken, "token\n");
        row("missing folder", failed, u"Нет доступа к папке Workspace: /nonexistent"_s, -1,
            printsToken, workspace(u"/nonexistent"_s));
        row("panel that cannot run", failed, u"Не удалось запустить панель"_s, -1, "missing");
        row("panel flooding its output", failed, u"Панель Quorvane выдала вместо токена больше"_s,
            -1, "echo $$ >\"$HOME/panel.pid\"\nexec yes");
        row("FIFO as health file", running, {}, 0);
        row("FIFO as log", running, {}, 1);
        row("FIFO as GUI socket", failed, u"Не удалось открыть сокет панели"_s, 2);
        row("their runtime folder", failed, u"Не удалось открыть сокет панели: Папка"_s, 3);
        row("a link to their folder", failed, u"Не удалось открыть сокет панели: Вместо"_s, 4);
        row("token request never answered", starting, {}, -1, "exec sleep 60");
    }
    void startsAndStops() {
        QFETCH(QByteArray, panel);
        QFETCH(QByteArray, configuration);
        QFETCH(int, planted);
        QFETCH(QString, status);
        QFETCH(QString, message);
        if (!configuration.isNull()) {
            configure(configuration);
        }
        // The locations follow the XDG variables init() sets.
        const QString runtime = AgentContract::runtimeDirectory();
        const QString theirs = planted == 4 ? home_->filePath(u"theirs"_s) : runtime;
        if (planted >= 3) {
            const passwd* other = otherUser();
            if (other == nullptr) {
                QSKIP("needs another user; run the suite as root");
            }
            QVERIFY(QDir().mkpath(theirs) && QDir().mkpath(QFileInfo(runtime).path()));
            QCOMPARE(::chown(QFile::encodeName(theirs).constData(), other->pw_uid, other->pw_gid),
                     0);
            QVERIFY(planted == 3 || QFile::link(theirs, runtime));
        } else if (planted >= 0) {
            const QString path = QList{AgentContract::healthFilePath(),
                                       AgentContract::logFilePath(), AgentContract::guiSocketPath()}
                                     .at(planted);
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        startAgent(panel);
        QCOMPARE(reportedStatus(status), status);
        QCOMPARE(health()->message.value_or(QString()).left(message.size()), message);
        QCOMPARE(health()->message.has_value(), !message.isEmpty());
        QCOMPARE(health()->version, QStringLiteral(QUORVANE_VERSION));
        // A panel the agent gave up on is gone: neither left running nor unreaped.
        const QByteArray panelPid = readAll(home_->filePath(u"panel.pid"_s)).trimmed();
        QVERIFY(panelPid.isEmpty() ||
                !QFileInfo::exists(u"/proc/"_s + QString::fromLatin1(panelPid)));
        QVERIFY(planted < 3 || QDir(theirs).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                    QDir::NoDotAndDotDot));
        stopAgent(SIGTERM, 1500);
    }

    // The agent's service starts the panel with the flag alone; any other command line opens
    // the panel. (Each flag alone: tests/app/command-line.sh, tests/keychain/provider-cases.sh.)
    void modeFromCommandLine() {
        for (const QByteArray commandLine :
             {"quorvane", "quorvane --read-agent-token x", "quorvane x --read-agent-token",
              "quorvane --READ-AGENT-TOKEN", "quorvane --read-agent-token=1",
              "quorvane --read-agent", "quorvane -h", "quorvane --version --help"}) {
            const QByteArrayList words = commandLine.split(' ');
            std::vector<const char*> argv;
            for (const QByteArray& word : words) {
                argv.push_back(word.constData());
            }
            argv.push_back(nullptr);
            QVERIFY2(quorvane_mode_for(int(words.size()), argv.data()) == QUORVANE_MODE_PANEL,
                     commandLine.constData());
        }
    }

    // Panels come and go without disturbing the others, also while the agent is out of
    // descriptors, and a stale socket file of an agent that did not stop cleanly is replaced;
    // all of them are let go when the agent stops (on SIGINT here, SIGTERM above). A connection
    // of another user is no panel.
    void keepsPanelsConnectedUntilStopped() {
        const QString socket = AgentContract::guiSocketPath();
        QVERIFY(QDir().mkpath(QFileInfo(socket).path()));
        QCOMPARE(::mknod(QFile::encodeName(socket).constData(), S_IFSOCK | 0600, 0), 0);
        const QString folder = home_->filePath(u"Проекты"_s);
        QVERIFY(QDir().mkpath(folder));
        configure(workspace(folder) +
                  "workspace.1c0e5a34-8f2b-4d6e-9a71-3b5c7d9e0f12.write=true\n");
        startAgent(printsToken);
        QCOMPARE(reportedStatus(running), running);
        const qint64 pid = agent_.processId();
        QVERIFY(readAll(u"/proc/%1/status"_s.arg(pid)).contains("\nUmask:\t0077\n"));
        const auto log = [] {
            return AgentLogReader(AgentContract::logFilePath()).readRecentLines(300);
        };
        if (const passwd* other = otherUser()) {
            // Connected as them, though with root's access to files to reach the socket.
            QCOMPARE(::seteuid(other->pw_uid), 0);
            ::setfsuid(0);
            const int theirs = connectedTo(socket);
            QCOMPARE(::seteuid(0), 0);
            QVERIFY(theirs >= 0);
            char byte = 0;
            QCOMPARE(::recv(theirs, &byte, 1, 0), 0);  // closed at once
            ::close(theirs);
            QVERIFY(log().filter(u"Панель подключилась"_s).isEmpty());
            // Once the agent has looked at the token, no copy of it is left in its memory,
            // neither the bytes it read nor their text.
            QVERIFY(memoryHolds(
                pid, "QUORVANE_PANEL=" + QFile::encodeName(home_->filePath(u"panel"_s))));
            const QString text = QString::fromLatin1(token);
            QVERIFY(!memoryHolds(pid, token));
            QVERIFY(!memoryHolds(
                pid, QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2)));
        }

        int panels[] = {connectedTo(socket), connectedTo(socket), -1};
        QVERIFY(panels[0] >= 0 && panels[1] >= 0);
        ::close(panels[0]);  // its end of stream must count as gone
        QTRY_VERIFY(log().last().endsWith(u"Панель отключилась (подключений: 1)"_s));

        // Out of descriptors, the agent neither spins on its listener nor loses a waiting panel.
        // What it used for a while (the panel's pipes, a closed connection) it closes in its time.
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
        panels[2] = connectedTo(socket);  // queued by the kernel
        QVERIFY(panels[2] >= 0);
        const qint64 ticksBefore = cpuTicks(pid);
        QTest::qWait(1500);
        QVERIFY2(cpuTicks(pid) - ticksBefore < ::sysconf(_SC_CLK_TCK) / 20, "the agent spins");
        QCOMPARE(descriptors(pid).size(), open.size());
        QCOMPARE(::prlimit(pid_t(pid), RLIMIT_NOFILE, &original, nullptr), 0);
        QTRY_COMPARE(descriptors(pid).size(), open.size() + 1);

        stopAgent(SIGINT, 900);  // at once, well before the deadline that would end it anyway
        for (const int panel : {panels[1], panels[2]}) {
            char byte = 0;
            QCOMPARE(::recv(panel, &byte, 1, 0), 0);  // closed by the agent
            ::close(panel);
        }
        QVERIFY(!QFileInfo::exists(socket));
        QCOMPARE(health()->status, QString(AgentContract::statusStopped));
        QVERIFY(!log().filter(u"Получен сигнал завершения"_s).isEmpty());

        // Nothing of the token in the log, nothing written into the folder, nothing for others.
        QVERIFY(!log().join(u'\n').contains(QString::fromLatin1(token)));
        QVERIFY(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot));
        for (const QString& path :
             {AgentContract::stateDirectory(), AgentContract::runtimeDirectory(),
              AgentContract::healthFilePath(), AgentContract::logFilePath()}) {
            QCOMPARE(QFileInfo(path).permissions() & 0x0777,
                     QFileInfo(path).isDir() ? 0x0700 : 0x0600);
        }
    }
};

QTEST_GUILESS_MAIN(TestBundledAgent)
#include "tst_BundledAgent.moc"
