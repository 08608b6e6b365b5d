#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "monitor/AgentHealthReader.h"

using namespace quorvane;

using OptionalSnapshot = std::optional<AgentHealthSnapshot>;
Q_DECLARE_METATYPE(OptionalSnapshot)

namespace {
enum class Entry { none, file, directory, fifo, link };
}
Q_DECLARE_METATYPE(Entry)

namespace {

AgentHealthSnapshot snapshot(const char* status, std::optional<QString> message) {
    return {QStringLiteral("1.2.0"), QString::fromUtf8(status), std::move(message),
            QStringLiteral("2026-12-06T19:00:00Z")};
}

}  // namespace

class TestAgentHealthReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readSnapshot_data() {
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<OptionalSnapshot>("expected");

        const OptionalSnapshot absent;
        QTest::newRow("no file") << Entry::none << QByteArray() << absent;
        QTest::newRow("all four strings")
            << Entry::file
            << QByteArray(R"({"version":"1.2.0","status":"error","message":"Нет доступа",)"
                          R"("updated_at":"2026-12-06T19:00:00Z"})")
            << OptionalSnapshot(snapshot("error", QStringLiteral("Нет доступа")));
        QTest::newRow("message missing")
            << Entry::file
            << QByteArray(
                   R"({"version":"1.2.0","status":"running","updated_at":"2026-12-06T19:00:00Z"})")
            << OptionalSnapshot(snapshot("running", std::nullopt));
        QTest::newRow("message null")
            << Entry::file
            << QByteArray(R"({"version":"1.2.0","status":"running","message":null,)"
                          R"("updated_at":"2026-12-06T19:00:00Z"})")
            << OptionalSnapshot(snapshot("running", std::nullopt));
        QTest::newRow("empty message is a message")
            << Entry::file
            << QByteArray(R"({"version":"1.2.0","status":"needs_configuration","message":"",)"
                          R"("updated_at":"2026-12-06T19:00:00Z"})")
            << OptionalSnapshot(snapshot("needs_configuration", QString()));
        QTest::newRow("unknown status is kept")
            << Entry::file
            << QByteArray(
                   R"({"version":"1.2.0","status":"Running","updated_at":"2026-12-06T19:00:00Z"})")
            << OptionalSnapshot(snapshot("Running", std::nullopt));
        QTest::newRow("extra members ignored")
            << Entry::file
            << QByteArray(R"({"pid":42,"version":"1.2.0","status":"running","extra":{"a":[1]},)"
                          R"("updated_at":"2026-12-06T19:00:00Z"})")
            << OptionalSnapshot(snapshot("running", std::nullopt));
        QTest::newRow("updated_at missing")
            << Entry::file << QByteArray(R"({"version":"1.2.0","status":"running"})") << absent;
        QTest::newRow("version is a number")
            << Entry::file
            << QByteArray(R"({"version":1,"status":"running","updated_at":"2026-12-06T19:00:00Z"})")
            << absent;
        QTest::newRow("status is null")
            << Entry::file
            << QByteArray(R"({"version":"1","status":null,"updated_at":"2026-12-06T19:00:00Z"})")
            << absent;
        QTest::newRow("message is a number")
            << Entry::file
            << QByteArray(R"({"version":"1.2.0","status":"error","message":5,)"
                          R"("updated_at":"2026-12-06T19:00:00Z"})")
            << absent;
        QTest::newRow("empty file") << Entry::file << QByteArray() << absent;
        QTest::newRow("not JSON") << Entry::file << QByteArray("status=running\n") << absent;
        QTest::newRow("half-written file")
            << Entry::file << QByteArray("{\"version\":\"1.2.0\",\"status\":\"runn") << absent;
        QTest::newRow("an array, not an object")
            << Entry::file << QByteArray(R"([{"version":"1","status":"running"}])") << absent;
        QTest::newRow("a directory at the path") << Entry::directory << QByteArray() << absent;
        QTest::newRow("a FIFO at the path does not block") << Entry::fifo << QByteArray() << absent;
        QTest::newRow("a link to a valid file")
            << Entry::link << QByteArray(R"({"version":"1","status":"running","updated_at":"x"})")
            << absent;
    }

    void readSnapshot() {
        QFETCH(Entry, entry);
        QFETCH(QByteArray, content);
        QFETCH(OptionalSnapshot, expected);

        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = folder.filePath(QStringLiteral("agent-health.json"));
        switch (entry) {
            case Entry::none:
                break;
            case Entry::file: {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                QCOMPARE(file.write(content), content.size());
                break;
            }
            case Entry::directory:
                QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("agent-health.json")));
                break;
            case Entry::fifo:
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
                break;
            case Entry::link: {
                QFile target(folder.filePath(QStringLiteral("elsewhere.json")));
                QVERIFY(target.open(QIODevice::WriteOnly));
                QCOMPARE(target.write(content), content.size());
                QVERIFY(target.link(path));
                break;
            }
        }

        QCOMPARE(AgentHealthReader(path).readSnapshot(), expected);
    }
};

QTEST_APPLESS_MAIN(TestAgentHealthReader)
#include "tst_AgentHealthReader.moc"
