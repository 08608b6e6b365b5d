#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "monitor/AgentLogReader.h"

using namespace quorvane;

namespace {

// Where a window cut out of a large log begins, relative to its lines.
enum class Cut { onLineStart, insideLine, insideCharacter, betweenCRAndLF, insideLineBreak };

// A log of numbered lines, with the offset at which each line starts.
struct Log {
    QByteArray bytes;
    QList<qint64> starts;
    QStringList lines;

    void append(const QString& line, const QByteArray& lineBreak) {
        starts.append(bytes.size());
        lines.append(line);
        bytes += line.toUtf8() + lineBreak;
    }
};

Log numberedLog(const QString& pattern, const QByteArray& lineBreak, int padding) {
    Log log;
    for (int number = 0; log.bytes.size() < 2 * AgentLogReader::windowSize; ++number) {
        log.append(pattern.arg(number, 6, 10, QLatin1Char('0')), lineBreak);
    }
    // The length of the last line decides where the window begins.
    log.append(QString(padding + 1, QLatin1Char('x')), lineBreak);
    return log;
}

bool startsInsideCharacter(const Log& log, qint64 offset) {
    return (uchar(log.bytes[offset]) & 0xC0) == 0x80;
}

bool cutsAs(const Log& log, Cut cut, const QByteArray& lineBreak) {
    const qint64 windowStart = log.bytes.size() - AgentLogReader::windowSize;
    const bool onLineStart = log.starts.contains(windowStart);
    const qint64 lineEnd = [&] {
        const auto next = std::upper_bound(log.starts.begin(), log.starts.end(), windowStart);
        return (next == log.starts.end() ? log.bytes.size() : *next) - lineBreak.size();
    }();
    const bool insideBreak = !onLineStart && windowStart > lineEnd;
    switch (cut) {
        case Cut::onLineStart:
            return onLineStart;
        case Cut::insideLine:
            return !onLineStart && !insideBreak && !startsInsideCharacter(log, windowStart);
        case Cut::insideCharacter:
            return !insideBreak && startsInsideCharacter(log, windowStart);
        case Cut::betweenCRAndLF:
            return insideBreak && log.bytes[windowStart] == '\n';
        case Cut::insideLineBreak:
            return insideBreak;
    }
    return false;
}

QStringList linesStartingFrom(const Log& log, qint64 offset) {
    QStringList lines;
    for (qsizetype index = 0; index < log.lines.size(); ++index) {
        if (log.starts[index] >= offset) {
            lines.append(log.lines[index]);
        }
    }
    return lines;
}

}  // namespace

Q_DECLARE_METATYPE(Cut)

class TestAgentLogReader : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;

    QString writeLog(const QByteArray& content, const QString& name = QStringLiteral("agent.log")) {
        const QString path = folder_.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(content) != content.size()) {
            qFatal("cannot write the log");
        }
        return path;
    }

    static QByteArray numberedLines(int count) {
        QByteArray text;
        for (int number = 1; number <= count; ++number) {
            text += "строка " + QByteArray::number(number) + '\n';
        }
        return text;
    }

    static QStringList numbered(int first, int last) {
        QStringList lines;
        for (int number = first; number <= last; ++number) {
            lines.append(QStringLiteral("строка %1").arg(number));
        }
        return lines;
    }

private Q_SLOTS:
    void init() { QFile::remove(folder_.filePath(QStringLiteral("agent.log"))); }

    void readRecentLines_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("empty file") << QByteArray() << 300 << QStringList();
        QTest::newRow("10 lines, limit 300") << numberedLines(10) << 300 << numbered(1, 10);
        QTest::newRow("1000 short lines") << numberedLines(1000) << 300 << numbered(701, 1000);
        QTest::newRow("blank lines are not counted")
            << QByteArray("a\n\n\nb\r\n\r\nc\n\n") << 2
            << QStringList{QStringLiteral("b"), QStringLiteral("c")};
        QTest::newRow("no final line break")
            << QByteArray("first\nlast") << 300
            << QStringList{QStringLiteral("first"), QStringLiteral("last")};
        QTest::newRow("limit 0 keeps the last line") << numberedLines(5) << 0 << numbered(5, 5);
        QTest::newRow("negative limit keeps the last line")
            << numberedLines(5) << -7 << numbered(5, 5);
        QTest::newRow("lines are not trimmed")
            << QByteArray("  indented \n   \n\tend") << 300
            << QStringList{QStringLiteral("  indented "), QStringLiteral("   "),
                           QStringLiteral("\tend")};
        QTest::newRow("every line break")
            << QByteArray(
                   "1\n2\v3\f4\r5\xC2\x85"
                   "6\xE2\x80\xA8"
                   "7\xE2\x80\xA9"
                   "8")
            << 300 << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                  QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                                  QStringLiteral("7"), QStringLiteral("8")};
        QTest::newRow("CR LF is one break")
            << QByteArray("a\r\nb\r\n") << 300
            << QStringList{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("bad bytes read as U+FFFD, every line stays")
            << QByteArray("ok\n\xE9t\xE9\nok\n") << 300
            << QStringList{QStringLiteral("ok"), QStringLiteral("\uFFFDt\uFFFD"),
                           QStringLiteral("ok")};
        QTest::newRow("an append stopped inside a character")
            << QByteArray("первая\nвтор\xD0") << 300
            << QStringList{QStringLiteral("первая"), QStringLiteral("втор")};
    }

    void readRecentLines() {
        QFETCH(QByteArray, content);
        QFETCH(int, limit);
        QFETCH(QStringList, expected);
        QCOMPARE(AgentLogReader(writeLog(content)).readRecentLines(limit), expected);
    }

    void unreadablePaths_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("no file") << QStringLiteral("none");
        QTest::newRow("a directory") << QStringLiteral("directory");
        QTest::newRow("a FIFO does not block") << QStringLiteral("fifo");
        QTest::newRow("a link to a readable log") << QStringLiteral("link");
    }

    void unreadablePaths() {
        QFETCH(QString, kind);
        const QString path = folder_.filePath(QStringLiteral("agent.log"));
        if (kind == QStringLiteral("directory")) {
            QVERIFY(QDir(folder_.path()).mkdir(QStringLiteral("agent.log")));
        } else if (kind == QStringLiteral("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == QStringLiteral("link")) {
            QVERIFY(QFile::link(writeLog("secret\n", QStringLiteral("other.log")), path));
        }
        QCOMPARE(AgentLogReader(path).readRecentLines(300), QStringList());
        QDir(folder_.path()).rmdir(QStringLiteral("agent.log"));
        QFile::remove(path);
    }

    // Only lines that begin inside the last windowSize bytes are returned, whatever byte the
    // window happens to begin on.
    void largeLog_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QByteArray>("lineBreak");
        QTest::addColumn<Cut>("cut");

        const QString latin = QStringLiteral("event %1: folder checked");
        const QString russian = QStringLiteral("событие %1: папка проверена");
        QTest::newRow("window on a line start") << latin << QByteArray("\n") << Cut::onLineStart;
        QTest::newRow("window inside a line") << latin << QByteArray("\n") << Cut::insideLine;
        QTest::newRow("window inside a Russian character")
            << russian << QByteArray("\n") << Cut::insideCharacter;
        QTest::newRow("window between CR and LF")
            << latin << QByteArray("\r\n") << Cut::betweenCRAndLF;
        QTest::newRow("window inside U+2028")
            << russian << QByteArray("\xE2\x80\xA8") << Cut::insideLineBreak;
        QTest::newRow("window inside NEL")
            << latin << QByteArray("\xC2\x85") << Cut::insideLineBreak;
    }

    void largeLog() {
        QFETCH(QString, pattern);
        QFETCH(QByteArray, lineBreak);
        QFETCH(Cut, cut);

        // Lengthen the last line until the window begins where this row wants it.
        Log log;
        for (int padding = 0; padding < 64 && log.bytes.isEmpty(); ++padding) {
            Log candidate = numberedLog(pattern, lineBreak, padding);
            if (cutsAs(candidate, cut, lineBreak)) {
                log = candidate;
            }
        }
        QVERIFY2(!log.bytes.isEmpty(), "no padding gives the wanted window start");

        const QStringList expected =
            linesStartingFrom(log, log.bytes.size() - AgentLogReader::windowSize);
        const AgentLogReader reader(writeLog(log.bytes));
        QCOMPARE(reader.readRecentLines(1'000'000), expected);
        QCOMPARE(reader.readRecentLines(300), expected.sliced(expected.size() - 300));
    }
};

QTEST_APPLESS_MAIN(TestAgentLogReader)
#include "tst_AgentLogReader.moc"
