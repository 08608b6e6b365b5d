#include <QTest>

#include "config/AgentTokenStorageError.h"

using namespace quorvane;
using namespace Qt::StringLiterals;

class TestAgentTokenStorageError : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The code is always shown; causes the user acts on differently never get the unlock advice.
    void message_data() {
        QTest::addColumn<std::int32_t>("status");
        QTest::addColumn<AgentTokenStorageError::Cause>("cause");
        QTest::addColumn<QString>("advice");
        using Cause = AgentTokenStorageError::Cause;
        QTest::newRow("locked") << -25308 << Cause::statusOnly << u"Разблокируйте"_s;
        QTest::newRow("per-client confirmation")
            << -25308 << Cause::clientConfirmationRequired << u"Confirm when passwords"_s;
        QTest::newRow("no collection") << -25294 << Cause::statusOnly << u"Создайте связку"_s;
    }

    void message() {
        QFETCH(std::int32_t, status);
        QFETCH(AgentTokenStorageError::Cause, cause);
        QFETCH(QString, advice);
        const QString message = QString::fromUtf8(AgentTokenStorageError(status, cause).what());
        QVERIFY2(message.contains(u"(код %1)."_s.arg(status)) && message.contains(advice),
                 qPrintable(message));
        QCOMPARE(message.count(u"Разблокируйте"_s), int(advice == u"Разблокируйте"_s));
    }
};

QTEST_GUILESS_MAIN(TestAgentTokenStorageError)
#include "tst_AgentTokenStorageError.moc"
