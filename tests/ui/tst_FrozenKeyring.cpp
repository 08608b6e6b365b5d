// The window on a virtual display while the session's Secret Service is stopped (SIGSTOP): the
// token and folder saves must not hold the main thread, which a timer there would notice.
#include <signal.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "keychain/KeychainAgentTokenStore.h"
#include "tests/support/SessionTools.h"
#include "tests/ui/PanelFixture.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

constexpr int tickMs = 20;
constexpr qint64 allowedLatenessMs = 250;
// Longer than the store's 3-second deadline, so every call the saves made has ended and its
// outcome has come back to the main thread.
constexpr int observedMs = 4000;

pid_t secretServiceProcess() {
    const QString reply = programOutput(
        u"busctl"_s, {u"--user"_s, u"call"_s, u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                      u"org.freedesktop.DBus"_s, u"GetConnectionUnixProcessID"_s, u"s"_s,
                      u"org.freedesktop.secrets"_s});
    return pid_t(reply.section(u' ', 1).toLongLong());  // "u 1234"
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
    qint64 worstMs() const { return worst_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 worst_ = 0;
};

}  // namespace

class TestFrozenKeyring : public QObject {
    Q_OBJECT

private:
    pid_t keyring_ = 0;

private Q_SLOTS:
    void cleanup() {
        if (keyring_ > 0) {
            ::kill(keyring_, SIGCONT);
        }
    }

    void savesKeepTheWindowResponsive() {
        QTemporaryDir folder;
        PanelScenario scenario = PanelScenario::reporting(u"running"_s);
        scenario.tokenStore = std::make_shared<KeychainAgentTokenStore>(false);
        scenario.chosenFolder = folder.path();
        PanelFixture panel(scenario);
        AgentViewModel& model = panel.model();

        keyring_ = secretServiceProcess();
        QVERIFY(keyring_ > 0);
        QCOMPARE(::kill(keyring_, SIGSTOP), 0);
        const LatenessProbe probe;

        model.setTokenDraft(u"qv_agent_"_s + QString(39, u'Q') + u"-_09"_s);
        model.saveToken();
        QTest::qWait(100);  // a user's second click comes through the event loop
        model.setWorkspaceRootIDDraft(u"6f1d2c3b-4a5e-4f60-8b7c-9d0e1f2a3b4c"_s);
        model.selectWorkspaceFolder();
        model.saveWorkspace();
        QTest::qWait(observedMs);  // the span measured, not a wait for an event

        qInfo("worst lateness of the main thread's timer: %lld ms", probe.worstMs());
        QCOMPARE_LE(probe.worstMs(), allowedLatenessMs);
    }
};

QTEST_MAIN(TestFrozenKeyring)
#include "tst_FrozenKeyring.moc"
