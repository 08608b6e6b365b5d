#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "monitor/AgentHealthReader.h"
#include "monitor/AgentLogReader.h"

using namespace quorvane;
using namespace Qt::StringLiterals;

using OptionalSnapshot = std::optional<AgentHealthSnapshot>;
Q_DECLARE_METATYPE(OptionalSnapshot)

namespace {

// A health file, written with ' for ": the members given after a valid version and time (`head`).
QByteArray health(const char* members, const char* head = "'version':'1','updated_at':'t',") {
    QByteArray text = "{" + QByteArray(head) + members + '}';
    return text.replace('\'', '"');
}

OptionalSnapshot snapshot(const char* status, std::optional<QString> message = std::nullopt) {
    return AgentHealthSnapshot{u"1"_s, QString::fromUtf8(status), std::move(message), u"t"_s};
}

// A row of the running test's data table, the values in column order.
template <typename... Values>
void row(const char* name, const Values&... values) {
    (QTest::newRow(name) << ... << values);
}

QByteArray numberedLines(int first, int last) {
    QByteArray text;
    for (int number = first; number <= last; ++number) {
        text += "line " + QByteArray::number(number) + '\n';
    }
    return text;
}

}  // namespace

class TestAgentMonitorReaders : public QObject {
    Q_OBJECT

    QTemporaryDir folder_;

    QString write(const QByteArray& content) {
        QFile file(folder_.filePath(u"agent-file"_s));
        const bool ok = file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        return ok ? file.fileName() : QString();
    }

private Q_SLOTS:
    // Neither reader follows a link, blocks on a FIFO or reads a directory.
    void unusablePathGivesNothing_data() {
        QTest::addColumn<QString>("entry");
        for (const char* entry : {"no file", "directory", "fifo", "link"}) {
            QTest::newRow(entry) << QString::fromLatin1(entry);
        }
    }

    void unusablePathGivesNothing() {
        QFETCH(QString, entry);
        QTemporaryDir folder;
        const QString path = folder.filePath(u"agent-file"_s);
        QVERIFY(entry != u"directory" || ::mkdir(QFile::encodeName(path).constData(), 0700) == 0);
        QVERIFY(entry != u"fifo" || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        QVERIFY(entry != u"link" || QFile::link(write(health("'status':'running'")), path));
        QCOMPARE(AgentHealthReader(path).readSnapshot(), std::nullopt);
        QCOMPARE(AgentLogReader(path).readRecentLines(300), QStringList());
    }

    void healthFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<OptionalSnapshot>("expected");
        const OptionalSnapshot setAside;
        row("all four", health("'status':'error','message':'Нет'"), snapshot("error", u"Нет"_s));
        row("null message", health("'status':'running','message':null"), snapshot("running"));
        row("empty message", health("'status':'error','message':''"), snapshot("error", QString()));
        // No message either.
        row("odd status, extra members", health("'status':'Odd','pid':4,'x':[1]"), snapshot("Odd"));
        row("number message", health("'status':'error','message':5"), setAside);
        row("null status", health("'status':null"), setAside);
        row("no updated_at", health("'status':'running'", "'version':'1',"), setAside);
        row("number version", health("'status':'running'", "'version':1,'updated_at':'t',"),
            setAside);
        row("half-written", health("'status':'ru").chopped(1), setAside);
        const QByteArray padded = health("'status':'running'").leftJustified(1 << 20, ' ');
        row("1 MiB", padded, snapshot("running"));
        row("a byte more", padded + ' ', setAside);
    }

    void healthFile() {
        QFETCH(QByteArray, content);
        QFETCH(OptionalSnapshot, expected);
        const QString path = write(content);
        if (expected) {
            // When it was written is the file's modification time, to the millisecond.
            expected->writtenAt = QFileInfo(path).lastModified();
        }
        QCOMPARE(AgentHealthReader(path).readSnapshot(), expected);
    }

    void recentLines_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QByteArray>("expected");
        row("the last 300", numberedLines(1, 1000), 300, numberedLines(701, 1000));
        row("blank lines are not counted", "a\n\n\nb\r\n\r\nc\n\n"_ba, 2, "b\nc"_ba);
        row("limit 0 keeps the last line", numberedLines(1, 5), 0, numberedLines(5, 5));
        row("untrimmed, no final break", "  in \n \t\n\tend"_ba, 300, "  in \n \t\n\tend"_ba);
        row("every line break, CR LF as one", "1\n2\v3\f4\r5\u00856\u20287\u20298\r\n9\r\n"_ba, 300,
            "1\n2\n3\n4\n5\n6\n7\n8\n9"_ba);
        row("bad bytes read as U+FFFD", "ok\n\xE9t\xE9\nok\n"_ba, 300, "ok\n\uFFFDt\uFFFD\nok"_ba);
        row("an append stopped inside a character", "первая\nвтор\xD0"_ba, 300, "первая\nвтор"_ba);
        row("stopped inside one of four bytes", "первая\n\xF0\x9F\x98"_ba, 300, "первая"_ba);
        // Only lines that begin inside the last windowSize bytes count, whatever byte the window
        // begins on: the first piece ends just before it, the second (a cut line's rest) opens it.
        const std::pair<QByteArray, QByteArray> cuts[] = {
            {"a\n", ""},           {"a\nb", "c\n"},
            {"a\n\xD0", "\xB1\n"}, {"a\r", "\n"},       // line, character
            {"a\xE2\x80", "\xA8"}, {"a\xC2", "\x85"}};  // between CR and LF, inside U+2028, NEL
        for (const auto& [before, cutLine] : cuts) {
            const QByteArray window =
                numberedLines(1, 30'000).last(AgentLogReader::windowSize - cutLine.size());
            QTest::addRow("large log, cut after %s", before.toPercentEncoding().constData())
                << numberedLines(1, 100) + before + cutLine + window << 1'000'000 << window;
        }
    }

    void recentLines() {
        QFETCH(QByteArray, content);
        QFETCH(int, limit);
        QFETCH(QByteArray, expected);
        QCOMPARE(AgentLogReader(write(content)).readRecentLines(limit),
                 QString::fromUtf8(expected).split(u'\n', Qt::SkipEmptyParts));
    }
};

QTEST_APPLESS_MAIN(TestAgentMonitorReaders)
#include "tst_AgentMonitorReaders.moc"
