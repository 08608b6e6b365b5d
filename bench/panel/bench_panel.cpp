// The window's cost where it grows with the user's data, each case in a process of its own:
//
// - opening the settings sheet with 0, 1,000 and 5,000 saved folders: the longest stall of the
//   main thread while it opens, and the resident memory it adds (rounds interleaved, medians);
// - idle CPU time over 30 s with the log panel open against closed, over a 1 MiB agent log,
//   both processes running at the same time so that the machine's load falls on both alike.
//
//   bench-panel              runs every case and prints the table
//   bench-panel sheet N      one case: prints "stall-ms added-kib"
//   bench-panel idle open|closed SECONDS
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <cstdio>

#include "monitor/AgentLogReader.h"
#include "tests/ui/PanelFixture.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

qint64 residentKiB() {
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').constFirst().toLongLong();
        }
    }
    return 0;
}

qint64 cpuMicroseconds() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

// The longest gap between the ticks of a 1 ms timer on the main thread while it runs.
class StallProbe {
public:
    StallProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, clock_.restart()); });
        clock_.start();
        timer_.start(1);
    }
    qint64 longestMs() const { return std::max(longest_, clock_.elapsed()); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

int sheetCase(int folders) {
    PanelScenario scenario = PanelScenario::reporting(u"running"_s);
    for (int folder = 0; folder < folders; ++folder) {
        scenario.workspaceRoots.append({QUuid::createUuid().toString(QUuid::WithoutBraces),
                                        u"/home/anna/Проекты/папка %1"_s.arg(folder),
                                        folder % 2 == 0});
    }
    std::sort(scenario.workspaceRoots.begin(), scenario.workspaceRoots.end(),
              [](const auto& a, const auto& b) { return a.id < b.id; });
    PanelFixture panel(scenario);
    QTest::qWait(500);
    const qint64 before = residentKiB();
    qint64 stall = 0;
    {
        StallProbe probe;
        QTimer::singleShot(50, [&panel] { panel.model().setWorkspaceSheetPresented(true); });
        QTest::qWait(1500);
        stall = probe.longestMs();
    }
    if (!panel.sheetIsOpen()) {
        return 1;
    }
    std::printf("%lld %lld\n", stall, residentKiB() - before);
    return 0;
}

int idleCase(bool logOpen, int seconds) {
    QTemporaryDir folder;
    QFile log(folder.filePath(u"agent.log"_s));
    if (!log.open(QIODevice::WriteOnly)) {
        return 1;
    }
    for (int line = 0; log.size() < 1024 * 1024; ++line) {
        log.write(
            u"2026-12-06T19:00:00Z  Папка доступна (чтение и запись): /home/anna/%1\n"_s.arg(line)
                .toUtf8());
    }
    log.close();
    AgentViewModel model(
        std::make_unique<FakeServiceController>(AgentServiceState::running()),
        std::make_unique<AgentGUILease>(folder.filePath(u"gui.sock"_s)),
        std::make_unique<FakeHealthReader>(), std::make_unique<AgentLogReader>(log.fileName()),
        AgentConfigurationStore(folder.filePath(u"agent.conf"_s),
                                std::make_shared<FakeTokenStore>()),
        [] {}, AgentViewModelEnvironment::system());
    MainWindow window(model);
    model.setLogExpanded(logOpen);
    if (!QTest::qWaitForWindowExposed(&window.window())) {
        return 1;
    }
    QTest::qWait(3000);  // settled: the first refreshes have shown the log
    const qint64 before = cpuMicroseconds();
    QTest::qWait(seconds * 1000);
    std::printf("%lld\n", (cpuMicroseconds() - before) / 1000);
    return 0;
}

QStringList runSelf(const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAllStandardOutput()).simplified().split(u' ');
}

qint64 median(QList<qint64> values) {
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

int everything() {
    constexpr int rounds = 5;
    const QList<int> counts = {0, 1000, 5000};
    QMap<int, QList<qint64>> stalls, added;
    for (int round = 0; round < rounds; ++round) {
        for (int count : counts) {
            const QStringList figures = runSelf({u"sheet"_s, QString::number(count)});
            stalls[count].append(figures.value(0).toLongLong());
            added[count].append(figures.value(1).toLongLong());
        }
    }
    std::printf("settings sheet opened (median of %d)\n  folders  stall ms  added MiB\n", rounds);
    for (int count : counts) {
        std::printf("  %7d  %8lld  %9.1f\n", count, median(stalls[count]),
                    double(median(added[count])) / 1024.0);
    }
    std::printf("  stall 5,000 / 0: %.2f\n",
                double(median(stalls[5000])) / double(std::max<qint64>(1, median(stalls[0]))));

    constexpr int seconds = 30;
    QProcess open, closed;
    for (auto [process, mode] : {std::pair{&open, "open"}, std::pair{&closed, "closed"}}) {
        process->start(QCoreApplication::applicationFilePath(),
                       {u"idle"_s, QString::fromUtf8(mode), QString::number(seconds)});
    }
    open.waitForFinished(-1);
    closed.waitForFinished(-1);
    const double openMs = open.readAllStandardOutput().trimmed().toDouble();
    const double closedMs = closed.readAllStandardOutput().trimmed().toDouble();
    std::printf("idle CPU over %d s, side by side\n  log open %.0f ms, closed %.0f ms: %.2f\n",
                seconds, openMs, closedMs, openMs / std::max(1.0, closedMs));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    MainWindow::configureApplication();
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.value(0) == u"sheet") {
        return sheetCase(arguments.value(1).toInt());
    }
    if (arguments.value(0) == u"idle") {
        return idleCase(arguments.value(1) == u"open", arguments.value(2).toInt());
    }
    return everything();
}
