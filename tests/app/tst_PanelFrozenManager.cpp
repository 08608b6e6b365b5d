// The real panel on a virtual display while the user's systemd does not answer (stopped with
// SIGSTOP): the window keeps drawing through refreshes and a power click, because nothing on
// the main thread waits for the manager.
#include <signal.h>

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QQuickItem>
#include <QTest>
#include <QTimer>

#include "app/AgentViewModelFactory.h"
#include "tests/support/SessionTools.h"
#include "ui/MainWindow.h"

using namespace quorvane;
using namespace Qt::StringLiterals;

class TestPanelFrozenManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainWindow::configureApplication(); }

    void windowStaysResponsiveWhileTheManagerIsStopped() {
        const auto model = AgentViewModelFactory::create();
        MainWindow mainWindow(*model);
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow.window()));
        auto* power = mainWindow.window().findChild<QQuickItem*>(u"agent.powerButton"_s);
        QVERIFY(power);
        const pid_t manager = pid_t(
            QDBusConnection::sessionBus().interface()->servicePid(u"org.freedesktop.systemd1"_s));
        QVERIFY(manager > 0 && ::kill(manager, SIGSTOP) == 0);

        // The worst lateness of a repeating main-thread timer over several refresh cycles of
        // the window, through the click and the timeouts of the answers it waits for.
        constexpr int tickMs = 20;
        qint64 worstMs = 0;
        QElapsedTimer clock;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout,
                         [&] { worstMs = std::max(worstMs, clock.restart() - tickMs); });
        clock.start();
        probe.start(tickMs);
        QTest::qWait(5000);
        QTest::mouseClick(&mainWindow.window(), Qt::LeftButton, {},
                          power->mapToScene(QPointF(106, 106)).toPoint());
        QVERIFY(model->isChangingState());  // taken, and shown as busy
        QTest::qWait(15000);
        probe.stop();
        QCOMPARE(::kill(manager, SIGCONT), 0);
        qInfo("worst lateness of a main-thread timer: %lld ms", worstMs);
        QVERIFY2(worstMs <= 250, qPrintable(QString::number(worstMs)));

        // Once the manager answers again, the window shows what it really did.
        QTRY_COMPARE_WITH_TIMEOUT(model->isChangingState(), false, 20000);
        model->shutdown();
        QTRY_COMPARE_WITH_TIMEOUT(testing::systemctl({u"is-enabled"_s, testing::agentUnit()}),
                                  u"disabled"_s, 20000);
    }
};

QTEST_MAIN(TestPanelFrozenManager)
#include "tst_PanelFrozenManager.moc"
