#include <QTest>
#include <limits>

#include "config/AgentTokenStorageError.h"

using namespace quorvane;

class TestAgentTokenStorageError : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void message_data() {
        QTest::addColumn<std::int32_t>("status");
        QTest::addColumn<QString>("code");
        QTest::newRow("decode failure") << std::int32_t{-26275} << QStringLiteral("-26275");
        QTest::newRow("user canceled") << std::int32_t{-128} << QStringLiteral("-128");
        QTest::newRow("zero") << std::int32_t{0} << QStringLiteral("0");
        QTest::newRow("positive") << std::int32_t{7} << QStringLiteral("7");
        QTest::newRow("smallest") << std::numeric_limits<std::int32_t>::min()
                                  << QStringLiteral("-2147483648");
    }

    void message() {
        QFETCH(std::int32_t, status);
        QFETCH(QString, code);
        const AgentTokenStorageError error(status);
        QCOMPARE(error.status(), status);
        QCOMPARE(
            QString::fromUtf8(error.what()),
            QStringLiteral("Не удалось открыть защищённый токен в хранилище паролей (код ") + code +
                QStringLiteral("). Разблокируйте хранилище паролей и разрешите доступ Quorvane."));
    }

    // Causes the user acts on differently never share the "unlock" advice.
    void causesHaveTheirOwnAdvice_data() {
        QTest::addColumn<std::int32_t>("status");
        QTest::addColumn<AgentTokenStorageError::Cause>("cause");
        QTest::addColumn<QString>("advice");
        QTest::newRow("per-client confirmation")
            << std::int32_t{-25308} << AgentTokenStorageError::Cause::clientConfirmationRequired
            << QStringLiteral("Confirm when passwords are retrieved by clients");
        QTest::newRow("no collection")
            << std::int32_t{-25294} << AgentTokenStorageError::Cause::statusOnly
            << QStringLiteral("Создайте связку ключей");
    }

    void causesHaveTheirOwnAdvice() {
        QFETCH(std::int32_t, status);
        QFETCH(AgentTokenStorageError::Cause, cause);
        QFETCH(QString, advice);
        const QString message = AgentTokenStorageError(status, cause).message();
        QVERIFY2(message.contains(advice), qPrintable(message));
        QVERIFY(message.contains(QString::number(status)));
        QVERIFY(!message.contains(QStringLiteral("Разблокируйте")));
    }
};

QTEST_GUILESS_MAIN(TestAgentTokenStorageError)
#include "tst_AgentTokenStorageError.moc"
