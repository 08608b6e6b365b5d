// Throughput of the configuration reader and writer at the file's size cap, and whether
// parsing scales linearly: 100 KiB and 1 MiB texts are parsed side by side in one run.
//   build/ci/bench/bench-config
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>

#include "config/AgentConfigurationStore.h"

using namespace quorvane;

namespace {

constexpr qsizetype mebibyte = 1024 * 1024;

// Never asked for a token: the benchmark only parses, saves and reads files without one.
class NoTokenStore final : public AgentTokenStoring {
public:
    std::optional<QString> read() const override { return std::nullopt; }
    void save(const QString&) const override {}
};

// The largest configuration whose file stays within `bytes`.
AgentConfiguration configurationOfSize(qsizetype bytes) {
    AgentConfiguration configuration;
    qsizetype size = AgentConfigurationStore::serialize(configuration).toUtf8().size();
    for (int i = 0;; ++i) {
        const WorkspaceRootConfiguration root{
            QUuid::createUuid().toString(QUuid::WithoutBraces),
            QStringLiteral("/home/user/Документы/Проекты/workspace folder %1").arg(i), i % 3 == 0};
        const qsizetype rootSize =
            AgentConfigurationStore::serialize({std::nullopt, {root}}).toUtf8().size() -
            AgentConfigurationStore::serialize({}).toUtf8().size();
        if (size + rootSize > bytes) {
            return configuration;
        }
        configuration.workspaceRoots.append(root);
        size += rootSize;
    }
}

double wallSecondsOf(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// CPU time, so that other processes on a shared machine do not count against the parser.
double cpuSecondsOf(const std::function<void()>& work) {
    const double start = threadCpuSeconds();
    work();
    return threadCpuSeconds() - start;
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double mebibytesPerSecond(qsizetype bytes, double seconds) {
    return double(bytes) / double(mebibyte) / seconds;
}

void compareParseScaling() {
    const QString small = AgentConfigurationStore::serialize(configurationOfSize(100 * 1024));
    const QString large = AgentConfigurationStore::serialize(configurationOfSize(mebibyte));
    std::vector<double> smallSeconds;
    std::vector<double> largeSeconds;
    for (int round = 0; round < 40; ++round) {
        smallSeconds.push_back(cpuSecondsOf([&] { AgentConfigurationStore::parse(small); }));
        largeSeconds.push_back(cpuSecondsOf([&] { AgentConfigurationStore::parse(large); }));
    }
    const qsizetype smallBytes = small.toUtf8().size();
    const qsizetype largeBytes = large.toUtf8().size();
    const double smallMedian = median(smallSeconds);
    const double largeMedian = median(largeSeconds);
    std::printf("parse %7lld bytes: %8.3f ms  %7.1f MiB/s\n", qlonglong(smallBytes),
                smallMedian * 1e3, mebibytesPerSecond(smallBytes, smallMedian));
    std::printf("parse %7lld bytes: %8.3f ms  %7.1f MiB/s\n", qlonglong(largeBytes),
                largeMedian * 1e3, mebibytesPerSecond(largeBytes, largeMedian));
    std::printf("size ratio %.2fx, time ratio %.2fx (linear: equal)\n",
                double(largeBytes) / double(smallBytes), largeMedian / smallMedian);
}

void measureSaveAndLoad() {
    const QTemporaryDir scratch;
    const AgentConfigurationStore store(
        scratch.filePath(QStringLiteral("Quorvane/quorvane-agent.conf")),
        std::make_shared<NoTokenStore>());
    const AgentConfiguration configuration = configurationOfSize(mebibyte);
    const qsizetype bytes = AgentConfigurationStore::serialize(configuration).toUtf8().size();
    std::vector<double> saveSeconds;
    std::vector<double> loadSeconds;
    for (int round = 0; round < 15; ++round) {
        saveSeconds.push_back(wallSecondsOf([&] { store.save(configuration); }));
        loadSeconds.push_back(cpuSecondsOf([&] { store.loadFile(); }));
    }
    std::printf("save  %7lld bytes: %8.3f ms  %7.1f MiB/s (with fsync of file and folder)\n",
                qlonglong(bytes), median(saveSeconds) * 1e3,
                mebibytesPerSecond(bytes, median(saveSeconds)));
    std::printf("load  %7lld bytes: %8.3f ms  %7.1f MiB/s (open, read, UTF-8 check, parse)\n",
                qlonglong(bytes), median(loadSeconds) * 1e3,
                mebibytesPerSecond(bytes, median(loadSeconds)));
}

}  // namespace

int main() {
    std::printf("medians of repeated runs; parse and load in CPU time, save in wall time\n");
    compareParseScaling();
    measureSaveAndLoad();
}
