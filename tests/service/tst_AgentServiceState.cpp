#include <QTest>

#include "agent/AgentServiceState.h"

using namespace quorvane;

class TestAgentServiceState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void presentation_data() {
        QTest::addColumn<AgentServiceState>("state");
        QTest::addColumn<QString>("kindName");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("isSwitchedOn");

        QTest::newRow("needsConfiguration")
            << AgentServiceState::needsConfiguration(QStringLiteral("Нет токена"))
            << QStringLiteral("needsConfiguration") << QStringLiteral("Нужна настройка") << true;
        QTest::newRow("serviceError")
            << AgentServiceState::serviceError(QStringLiteral("x"))
            << QStringLiteral("serviceError") << QStringLiteral("Ошибка") << true;
        QTest::newRow("failed") << AgentServiceState::failed(QStringLiteral("x"))
                                << QStringLiteral("failed") << QStringLiteral("Ошибка") << false;
        QTest::newRow("stopped") << AgentServiceState::stopped() << QStringLiteral("stopped")
                                 << QStringLiteral("Выключен") << false;
        QTest::newRow("starting") << AgentServiceState::starting() << QStringLiteral("starting")
                                  << QStringLiteral("Подключается") << true;
        QTest::newRow("running") << AgentServiceState::running() << QStringLiteral("running")
                                 << QStringLiteral("Включён") << true;
        QTest::newRow("requiresApproval")
            << AgentServiceState::requiresApproval() << QStringLiteral("requiresApproval")
            << QStringLiteral("Требуется разрешение") << true;
        QTest::newRow("unavailable")
            << AgentServiceState::unavailable() << QStringLiteral("unavailable")
            << QStringLiteral("Служба недоступна") << false;
    }

    void presentation() {
        QFETCH(AgentServiceState, state);
        QFETCH(QString, kindName);
        QFETCH(QString, title);
        QFETCH(bool, isSwitchedOn);
        QCOMPARE(state.kindName(), kindName);
        QCOMPARE(state.title(), title);
        QCOMPARE(state.isSwitchedOn(), isSwitchedOn);
    }

    void equality_data() {
        QTest::addColumn<AgentServiceState>("left");
        QTest::addColumn<AgentServiceState>("right");
        QTest::addColumn<bool>("equal");

        const auto noMessage = AgentServiceState::needsConfiguration(std::nullopt);
        QTest::newRow("absent message equals absent")
            << noMessage << AgentServiceState::needsConfiguration() << true;
        QTest::newRow("absent message differs from empty")
            << noMessage << AgentServiceState::needsConfiguration(QString()) << false;
        QTest::newRow("same message")
            << AgentServiceState::needsConfiguration(QStringLiteral("a"))
            << AgentServiceState::needsConfiguration(QStringLiteral("a")) << true;
        QTest::newRow("other message")
            << AgentServiceState::serviceError(QStringLiteral("a"))
            << AgentServiceState::serviceError(QStringLiteral("b")) << false;
        QTest::newRow("same text, other case")
            << AgentServiceState::serviceError(QStringLiteral("a"))
            << AgentServiceState::failed(QStringLiteral("a")) << false;
        QTest::newRow("default is stopped")
            << AgentServiceState() << AgentServiceState::stopped() << true;
        QTest::newRow("cases without payload")
            << AgentServiceState::running() << AgentServiceState::starting() << false;
    }

    void equality() {
        QFETCH(AgentServiceState, left);
        QFETCH(AgentServiceState, right);
        QFETCH(bool, equal);
        QCOMPARE(left == right, equal);
        QCOMPARE(right == left, equal);
    }
};

QTEST_GUILESS_MAIN(TestAgentServiceState)
#include "tst_AgentServiceState.moc"
