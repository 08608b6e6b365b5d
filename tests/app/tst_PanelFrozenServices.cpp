// The window on a virtual display while a session service does not answer (stopped with
// SIGSTOP): nothing on the main thread waits for it, which a timer there would notice.
#include <signal.h>

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/AgentViewModelFactory.h"
#include "config/PlatformWording.h"
#include "keychain/KeychainAgentTokenStore.h"
#include "tests/support/SessionTools.h"
#include "tests/ui/PanelFixture.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

constexpr int tickMs = 20;
constexpr qint64 allowedLatenessMs = 250;

pid_t stop(const QString& busName) {
    const pid_t process =
        pid_t(QDBusConnection::sessionBus().interface()->servicePid(busName).value());
    return process > 0 && ::kill(process, SIGSTOP) == 0 ? process : 0;
}

// How late the main thread's timer fired at worst while it ran.
class LatenessProbe {
public:
    LatenessProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { worst_ = std::max(worst_, clock_.restart() - tickMs); });
        clock_.start();
        timer_.start(tickMs);
    }
    qint64 worstMs() {
        timer_.stop();
        qInfo("worst lateness of the main thread's timer: %lld ms", worst_);
        return worst_;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 worst_ = 0;
};

}  // namespace

class TestPanelFrozenServices : public QObject {
    Q_OBJECT

private:
    pid_t stopped_ = 0;

private Q_SLOTS:
    void initTestCase() { MainWindow::configureApplication(); }
    void cleanup() {
        if (stopped_ > 0) {
            ::kill(stopped_, SIGCONT);
        }
        stopped_ = 0;
    }

    void tokenAndFolderSavesWhileTheKeyringIsStopped() {
        QTemporaryDir folder;
        PanelScenario scenario = PanelScenario::reporting(u"running"_s);
        scenario.tokenStore = std::make_shared<KeychainAgentTokenStore>(false);
        scenario.chosenFolder = folder.path();
        PanelFixture panel(scenario);
        AgentViewModel& model = panel.model();
        QVERIFY((stopped_ = stop(u"org.freedesktop.secrets"_s)) > 0);
        LatenessProbe probe;

        model.setTokenDraft(u"qv_agent_"_s + QString(39, u'Q') + u"-_09"_s);
        model.saveToken();
        QTest::qWait(100);  // a user's second click comes through the event loop
        model.setWorkspaceRootIDDraft(u"6f1d2c3b-4a5e-4f60-8b7c-9d0e1f2a3b4c"_s);
        model.selectWorkspaceFolder();
        model.saveWorkspace();
        // The span measured, not a wait for an event: longer than the store's 3-second
        // deadline, so every call the saves made has ended and its outcome has come back.
        QTest::qWait(4000);
        QCOMPARE_LE(probe.worstMs(), allowedLatenessMs);
        // The folder went into the file and is listed; the token was not reported stored, and
        // the reload after the folder's save could not read it.
        const QList<WorkspaceRootConfiguration> saved = panel.store().loadFile().workspaceRoots;
        QCOMPARE(saved.size(), 1);
        QCOMPARE(model.workspaceRoots(), saved);
        QVERIFY(!model.isSavingToken());
        QVERIFY(model.configurationMessage() != PlatformWording::current().tokenStored());
        QCOMPARE(model.tokenStatus(), u"Не удалось прочитать"_s);
    }

    // Several refresh cycles of the window, a power click and the timeouts of the answers it
    // waits for.
    void refreshesAndPowerWhileTheUsersSystemdIsStopped() {
        const auto model = AgentViewModelFactory::create();
        MainWindow mainWindow(*model);
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow.window()));
        WindowDriver window(mainWindow.window());
        QQuickItem* power = window.item(u"agent.powerButton"_s);
        QVERIFY((stopped_ = stop(u"org.freedesktop.systemd1"_s)) > 0);
        LatenessProbe probe;
        QTest::qWait(5000);
        QTest::mouseClick(&mainWindow.window(), Qt::LeftButton, {},
                          power->mapToScene(QPointF(106, 106)).toPoint());
        QVERIFY(model->isChangingState());  // taken, and shown as busy
        QTest::qWait(15000);
        QCOMPARE_LE(probe.worstMs(), allowedLatenessMs);
        cleanup();

        // Once the manager answers again, the window shows what it really did.
        QTRY_COMPARE_WITH_TIMEOUT(model->isChangingState(), false, 20000);
        model->shutdown();
        QTRY_COMPARE_WITH_TIMEOUT(systemctl({u"is-enabled"_s, agentUnit()}), u"disabled"_s, 20000);
    }
};

QTEST_MAIN(TestPanelFrozenServices)
#include "tst_PanelFrozenServices.moc"
