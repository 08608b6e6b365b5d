// readRecentLines(300) on a 1 MiB and a 1 GiB log in one run: the cost must not grow with the
// log, so the ratio of the two should be close to 1. `tail -n 300` of the same files runs side
// by side for scale (its figure includes starting the process).
//
//   bench-log-reader [folder]   (default: a temporary folder under /var/tmp)

#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "monitor/AgentLogReader.h"

using namespace quorvane;

namespace {

constexpr qint64 mebibyte = 1024 * 1024;
constexpr int limit = 300;
constexpr int rounds = 200;

// Lines like the agent's, with Russian text, filling `size` bytes.
QByteArray logLines(qint64 size) {
    QByteArray text;
    text.reserve(size + 200);
    for (int number = 0; text.size() < size; ++number) {
        text += "2026-12-06T19:00:00Z  Папка доступна (чтение и запись): /home/user/Проекты/" +
                QByteArray::number(number) + '\n';
    }
    text.truncate(text.lastIndexOf('\n', size - 1) + 1);
    return text;
}

// A log of `size` bytes whose last 2 MiB are real lines; the rest is a hole, written in no time.
QString makeLog(const QString& path, qint64 size) {
    const QByteArray tail = logLines(std::min(size, 2 * mebibyte));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size - tail.size()) ||
        !file.seek(size - tail.size()) || file.write(tail) != tail.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

template <typename Call>
double medianMicroseconds(int count, Call call) {
    std::vector<double> times;
    for (int round = 0; round < count; ++round) {
        QElapsedTimer timer;
        timer.start();
        call();
        times.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QStringList tailLines(const QString& path) {
    QProcess tail;
    tail.start(QStringLiteral("tail"), {QStringLiteral("-n"), QString::number(limit), path});
    tail.waitForFinished();
    QStringList lines = QString::fromUtf8(tail.readAllStandardOutput()).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

struct Figures {
    double reader;
    double tail;
};

Figures measure(const QString& path) {
    const AgentLogReader reader(path);
    if (reader.readRecentLines(limit) != tailLines(path)) {
        qFatal("readRecentLines and tail disagree on %s", qPrintable(path));
    }
    return {medianMicroseconds(rounds, [&] { reader.readRecentLines(limit); }),
            medianMicroseconds(rounds / 4, [&] { tailLines(path); })};
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QTemporaryDir folder(application.arguments().value(1, QStringLiteral("/var/tmp")) +
                         QStringLiteral("/quorvane-bench-XXXXXX"));
    if (!folder.isValid()) {
        qFatal("cannot create a folder for the logs");
    }
    const Figures small = measure(makeLog(folder.filePath(QStringLiteral("1MiB.log")), mebibyte));
    const Figures large =
        measure(makeLog(folder.filePath(QStringLiteral("1GiB.log")), 1024 * mebibyte));

    std::printf("median of %d calls, microseconds   readRecentLines(%d)   tail -n %d\n", rounds,
                limit, limit);
    std::printf("1 MiB log                          %10.1f   %10.1f\n", small.reader, small.tail);
    std::printf("1 GiB log                          %10.1f   %10.1f\n", large.reader, large.tail);
    std::printf("ratio 1 GiB / 1 MiB                %10.2f   %10.2f\n", large.reader / small.reader,
                large.tail / small.tail);
    return 0;
}
