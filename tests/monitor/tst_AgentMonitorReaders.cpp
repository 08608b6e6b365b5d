#include <sys/stat.h>

#include <QDir>
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

// JSON written with ' for ".
QByteArray json(QByteArray text) {
    return text.replace('\'', '"');
}

// A health file with a valid version and time besides the members given.
QByteArray health(const char* members) {
    return json("{'version':'1','updated_at':'t'," + QByteArray(members) + '}');
}

OptionalSnapshot snapshot(const char* status, std::optional<QString> message = std::nullopt) {
    return AgentHealthSnapshot{u"1"_s, QString::fromUtf8(status), std::move(message), u"t"_s};
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
        const bool written =
            file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        return written ? file.fileName() : QString();
    }

private Q_SLOTS:
    // Neither reader follows a link, blocks on a FIFO or reads a directory.
    void unusablePathGivesNothing_data() {
        QTest::addColumn<QString>("entry");
        QTest::newRow("no file") << QString();
        QTest::newRow("a directory") << u"directory"_s;
        QTest::newRow("a FIFO") << u"fifo"_s;
        QTest::newRow("a link to a valid file") << u"link"_s;
    }

    void unusablePathGivesNothing() {
        QFETCH(QString, entry);
        QTemporaryDir folder;
        const QString path = folder.filePath(u"agent-file"_s);
        QVERIFY(entry != u"directory" || QDir().mkdir(path));
        QVERIFY(entry != u"fifo" || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        QVERIFY(entry != u"link" || QFile::link(write(health("'status':'running'")), path));
        QCOMPARE(AgentHealthReader(path).readSnapshot(), std::nullopt);
        QCOMPARE(AgentLogReader(path).readRecentLines(300), QStringList());
    }

    void healthFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<OptionalSnapshot>("expected");
        QTest::newRow("all four") << health("'status':'error','message':'Нет'")
                                  << snapshot("error", u"Нет"_s);
        QTest::newRow("no message") << health("'status':'running'") << snapshot("running");
        QTest::newRow("null message")
            << health("'status':'running','message':null") << snapshot("running");
        QTest::newRow("empty message")
            << health("'status':'error','message':''") << snapshot("error", QString());
        QTest::newRow("odd status, extra members")
            << health("'status':'Odd','pid':4,'x':[1]") << snapshot("Odd");
        QTest::newRow("number message")
            << health("'status':'error','message':5") << OptionalSnapshot();
        QTest::newRow("null status") << health("'status':null") << OptionalSnapshot();
        QTest::newRow("no updated_at")
            << json("{'version':'1','status':'running'}") << OptionalSnapshot();
        QTest::newRow("number version")
            << json("{'version':1,'status':'running','updated_at':'t'}") << OptionalSnapshot();
        QTest::newRow("half-written") << health("'status':'ru").chopped(1) << OptionalSnapshot();
        const QByteArray padded = health("'status':'running'").leftJustified(1 << 20, ' ');
        QTest::newRow("1 MiB") << padded << snapshot("running");
        QTest::newRow("a byte more") << padded + ' ' << OptionalSnapshot();
    }

    void healthFile() {
        QFETCH(QByteArray, content);
        QFETCH(OptionalSnapshot, expected);
        const QString path = write(content);
        OptionalSnapshot read = AgentHealthReader(path).readSnapshot();
        if (read) {
            // When it was written is the file's modification time, to the millisecond.
            QCOMPARE(read->writtenAt, QFileInfo(path).lastModified());
            read->writtenAt.reset();
        }
        QCOMPARE(read, expected);
    }

    void recentLines_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("the last 300") << numberedLines(1, 1000) << 300 << numberedLines(701, 1000);
        QTest::newRow("blank lines are not counted")
            << QByteArray("a\n\n\nb\r\n\r\nc\n\n") << 2 << QByteArray("b\nc");
        QTest::newRow("limit 0 keeps the last line")
            << numberedLines(1, 5) << 0 << numberedLines(5, 5);
        QTest::newRow("negative limit too") << numberedLines(1, 5) << -7 << numberedLines(5, 5);
        QTest::newRow("untrimmed, no final break")
            << QByteArray("  in \n \t\n\tend") << 300 << QByteArray("  in \n \t\n\tend");
        QTest::newRow("every line break, CR LF as one")
            << QByteArray("1\n2\v3\f4\r5\u00856\u20287\u20298\r\n9\r\n") << 300
            << QByteArray("1\n2\n3\n4\n5\n6\n7\n8\n9");
        QTest::newRow("bad bytes read as U+FFFD")
            << QByteArray("ok\n\xE9t\xE9\nok\n") << 300 << QByteArray("ok\n\uFFFDt\uFFFD\nok");
        QTest::newRow("an append stopped inside a character")
            << QByteArray("первая\nвтор\xD0") << 300 << QByteArray("первая\nвтор");
        // Only lines that begin inside the last windowSize bytes count, whatever byte the window
        // begins on: the first piece ends just before it, the second (a cut line's rest) opens it.
        const std::pair<QByteArray, QByteArray> cuts[] = {
            {"a\n", ""},           {"a\nb", "c\n"},
            {"a\n\xD0", "\xB1\n"}, {"a\r", "\n"},       // line, character
            {"a\xE2\x80", "\xA8"}, {"a\xC2", "\x85"}};  // between CR and LF, inside U+2028, NEL
        for (const auto& [before, cutLine] : cuts) {
            const QByteArray window =
                numberedLines(1, 30'000).first(AgentLogReader::windowSize - cutLine.size() - 1) +
                '\n';
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
