// The panel as runPanel assembles it (production collaborators, real window, lifecycle) in a
// private session: systemd --user, the session bus, an unlocked keyring, a temporary home and
// the bundled agent. An agent the panel switched on is stopped and its unit disabled when a
// termination signal ends the panel, as when its window closes.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QQuickItem>
#include <QTest>
#include <QTimer>
#include <csignal>

#include "agent/AgentServiceController.h"
#include "app/AgentViewModelFactory.h"
#include "app/PanelLifecycle.h"
#include "monitor/AgentLogReader.h"
#include "tests/support/SessionTools.h"
#include "ui/MainWindow.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

constexpr int startLimitMs = 20000;

// How often the agent has logged a panel connecting to its socket.
qsizetype panelConnections() {
    const QStringList lines = AgentLogReader().readRecentLines(300);
    return std::count_if(lines.begin(), lines.end(), [](const QString& line) {
        return line.contains(u"Панель подключилась"_s);
    });
}

}  // namespace

class TestPanelSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // The factory finds the bundled agent beside this test, in the build tree's prefix.
        QCOMPARE(AgentViewModelFactory::installPrefix(), qEnvironmentVariable("QUORVANE_PREFIX"));
        MainWindow::configureApplication();
    }

    // A panel that was killed left its agent running and enabled.
    void leftoverAgentIsStoppedWhenThePanelStarts() {
        const QString unitDirectory = AgentServiceController::defaultUserUnitDirectory();
        QVERIFY(QDir().mkpath(unitDirectory));
        QVERIFY(QFile::copy(qEnvironmentVariable("QUORVANE_PREFIX") +
                                u"/lib/systemd/user/ru.quorvane.agent.service"_s,
                            unitDirectory + u"/ru.quorvane.agent.service"_s));
        systemctl({u"daemon-reload"_s});
        systemctl({u"enable"_s, u"--now"_s, agentUnit()});
        QTRY_VERIFY_WITH_TIMEOUT(agentProcessID() != 0, startLimitMs);

        const auto model = AgentViewModelFactory::create();
        model->refresh();
        QTRY_VERIFY_WITH_TIMEOUT(
            !model->isChangingState() && systemctl({u"is-enabled"_s, agentUnit()}) == u"disabled"_s,
            startLimitMs);
        QTRY_COMPARE_WITH_TIMEOUT(agentProcessID(), 0, startLimitMs);
        QCOMPARE(model->serviceState(), AgentServiceState::stopped());
        QVERIFY(model->logEntries().last().contains(u"оставшийся от прошлого запуска панели"_s));
    }

    void terminationSignalStopsTheAgentThePanelStarted_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void terminationSignalStopsTheAgentThePanelStarted() {
        QFETCH(int, signalNumber);
        const auto model = AgentViewModelFactory::create();
        QCOMPARE(model->serviceState(), AgentServiceState::stopped());
        MainWindow mainWindow(*model);
        PanelLifecycle lifecycle(mainWindow.window(), *model);
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow.window()));
        const qsizetype connectionsBefore = panelConnections();

        auto* power = mainWindow.window().findChild<QQuickItem*>(u"agent.powerButton"_s);
        QVERIFY(power);
        QTest::mouseClick(&mainWindow.window(), Qt::LeftButton, {},
                          power->mapToScene(QPointF(106, 106)).toPoint());
        // The window's refresh cycle connects the lease once the agent listens.
        QVERIFY(QTest::qWaitFor(
            [&] { return agentProcessID() != 0 && panelConnections() > connectionsBefore; },
            startLimitMs));
        QCOMPARE(systemctl({u"is-enabled"_s, agentUnit()}), u"enabled"_s);

        QTimer::singleShot(0, QCoreApplication::instance(),
                           [signalNumber] { std::raise(signalNumber); });
        QCOMPARE(QCoreApplication::exec(), 0);

        QCOMPARE(systemctl({u"is-enabled"_s, agentUnit()}), u"disabled"_s);
        // The manager stops the agent after the panel's request returns.
        QTRY_COMPARE_WITH_TIMEOUT(agentProcessID(), 0, startLimitMs);
    }
};

QTEST_MAIN(TestPanelSession)
#include "tst_PanelSession.moc"
