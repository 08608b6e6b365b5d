#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include "SessionKeyring.h"

using quorvane::testing::EmptyBus;
using quorvane::testing::SessionKeyring;

namespace {

constexpr qint64 failFastMilliseconds = 1000;
const QString flag = QStringLiteral("--read-agent-token");

struct Outcome {
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
    qint64 milliseconds = 0;
};

QString panelProgram() {
    return qEnvironmentVariable("QUORVANE_PREFIX") + QStringLiteral("/bin/quorvane");
}

// Runs the panel executable without any display, as the agent's service does.
void prepare(QProcess& panel, const QString& busAddress = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (!busAddress.isEmpty()) {
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    }
    panel.setProcessEnvironment(environment);
}

Outcome readToken(const QString& busAddress = {}) {
    QProcess panel;
    prepare(panel, busAddress);
    QElapsedTimer timer;
    timer.start();
    panel.start(panelProgram(), {flag});
    Outcome outcome;
    if (!panel.waitForFinished(10000)) {
        panel.kill();
        panel.waitForFinished();
        return outcome;
    }
    outcome.milliseconds = timer.elapsed();
    outcome.exitCode = panel.exitStatus() == QProcess::NormalExit ? panel.exitCode() : -1;
    outcome.output = panel.readAllStandardOutput();
    outcome.errors = panel.readAllStandardError();
    return outcome;
}

}  // namespace

class TestTokenOutputMode : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        if (SessionKeyring::isDefaultCollectionLocked()) {
            SessionKeyring::unlockDefaultCollection();
        }
        SessionKeyring::clearToken();
    }

    void writesTheStoredBytes_data() {
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("token") << QByteArray("qv1.device-token_0123456789");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("cyrillic") << QByteArray("токен");
        QTest::newRow("blanks and newline kept") << QByteArray(" token \n");
    }

    void writesTheStoredBytes() {
        QFETCH(QByteArray, token);
        SessionKeyring::storeToken(token);
        const Outcome outcome = readToken();
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.output, token);
        QCOMPARE(outcome.errors, QByteArray());
    }

    void writesNothingWithoutToken() {
        const Outcome outcome = readToken();
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.output, QByteArray());
        QCOMPARE(outcome.errors, QByteArray());
    }

    void unreadableTokenFailsSilently_data() {
        QTest::addColumn<QString>("situation");
        QTest::newRow("locked collection") << QStringLiteral("locked");
        QTest::newRow("undecodable token") << QStringLiteral("undecodable");
        QTest::newRow("no bus") << QStringLiteral("no bus");
        QTest::newRow("no secret service on the bus") << QStringLiteral("empty bus");
    }

    void unreadableTokenFailsSilently() {
        QFETCH(QString, situation);
        SessionKeyring::storeToken(situation == u"undecodable" ? "\xff\xfe" : "token");
        if (situation == u"locked") {
            SessionKeyring::lockDefaultCollection();
        }
        EmptyBus bus;
        QString address;
        if (situation == u"no bus") {
            address = QStringLiteral("unix:path=/nonexistent/quorvane-bus");
        } else if (situation == u"empty bus") {
            address = bus.address();
        }

        const Outcome outcome = readToken(address);
        QCOMPARE(outcome.exitCode, 1);
        QCOMPARE(outcome.output, QByteArray());
        QCOMPARE(outcome.errors, QByteArray());
        QCOMPARE_LT(outcome.milliseconds, failFastMilliseconds);
        if (situation == u"locked") {
            QVERIFY(SessionKeyring::isDefaultCollectionLocked());
        }
    }

    void failedWriteFails() {
        SessionKeyring::storeToken("token");
        QProcess panel;
        prepare(panel);
        panel.setStandardOutputFile(QStringLiteral("/dev/full"));
        panel.start(panelProgram(), {flag});
        QVERIFY(panel.waitForFinished(10000));
        QCOMPARE(panel.exitCode(), 1);
        QCOMPARE(panel.readAllStandardError(), QByteArray());
    }

    void otherArgumentsStartThePanel_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no argument") << QStringList{};
        QTest::newRow("flag and another argument") << QStringList{flag, QStringLiteral("x")};
        QTest::newRow("another argument and the flag") << QStringList{QStringLiteral("x"), flag};
        QTest::newRow("upper case") << QStringList{QStringLiteral("--READ-AGENT-TOKEN")};
    }

    void otherArgumentsStartThePanel() {
        QFETCH(QStringList, arguments);
        SessionKeyring::storeToken("token");
        QProcess panel;
        prepare(panel);
        QProcessEnvironment environment = panel.processEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        panel.setProcessEnvironment(environment);
        panel.start(panelProgram(), arguments);
        QVERIFY(panel.waitForStarted());
        // The token-output mode ends within milliseconds; the panel keeps running.
        QVERIFY(!panel.waitForFinished(1000));
        QVERIFY(!panel.readAllStandardOutput().contains("token"));
        panel.kill();
        panel.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestTokenOutputMode)
#include "tst_TokenOutputMode.moc"
