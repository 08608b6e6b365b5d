// The real panel on a virtual display while the user's systemd does not answer (stopped with
// SIGSTOP): the window keeps drawing through refreshes and a power click, because nothing on
// the main thread waits for the manager.
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QQuickItem>
#include <QTest>
#include <QTimer>

#include "app/AgentViewModelFactory.h"
#include "tests/support/SessionTools.h"
#include "ui/MainWindow.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

constexpr int tickMs = 20;
constexpr qint64 allowedLatenessMs = 250;
// Ten refresh cycles of the window, and the answers the click waits for time out within it.
constexpr int frozenMs = 20000;

// The worst lateness of a repeating timer on the main thread while it runs.
class LatenessProbe {
public:
    LatenessProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(tickMs);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { worstMs_ = std::max(worstMs_, clock_.restart() - tickMs); });
        clock_.start();
        timer_.start();
    }
    qint64 worstMs() const { return worstMs_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 worstMs_ = 0;
};

}  // namespace

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
        QVERIFY(manager > 0);
        QCOMPARE(::kill(manager, SIGSTOP), 0);
        LatenessProbe probe;
        QTest::qWait(frozenMs / 4);
        QTest::mouseClick(&mainWindow.window(), Qt::LeftButton, {},
                          power->mapToScene(QPointF(106, 106)).toPoint());
        // The click is taken and shown as busy while the manager does not answer.
        QVERIFY(model->isChangingState());
        QTest::qWait(frozenMs * 3 / 4);
        const qint64 worstMs = probe.worstMs();
        QCOMPARE(::kill(manager, SIGCONT), 0);

        qInfo("worst lateness of a main-thread timer: %lld ms", worstMs);
        QVERIFY2(worstMs <= allowedLatenessMs, qPrintable(QString::number(worstMs)));
        // Once the manager answers again, the window shows what it really did.
        QTRY_COMPARE_WITH_TIMEOUT(model->isChangingState(), false, frozenMs);
        model->shutdown();
        QTRY_COMPARE_WITH_TIMEOUT(systemctl({u"is-enabled"_s, agentUnit()}), u"disabled"_s,
                                  frozenMs);
    }
};

QTEST_MAIN(TestPanelFrozenManager)
#include "tst_PanelFrozenManager.moc"
