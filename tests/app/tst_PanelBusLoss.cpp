// The panel in a private session whose bus goes away and comes back, twice: it keeps running
// (GLib's connection, which the keyring uses, would otherwise end it with SIGTERM), says that
// it has no connection to the user's systemd, and reconnects, keyring included, once the bus
// is back.
#include <QSignalSpy>
#include <QTest>

#include "app/AgentViewModelFactory.h"
#include "app/SessionBusLoss.h"
#include "config/AgentTokenStorageError.h"
#include "keychain/KeychainAgentTokenStore.h"
#include "system/TerminationSignals.h"
#include "tests/support/SessionTools.h"
#include "ui/MainWindow.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

constexpr int busLimitMs = 20000;

AgentServiceState refreshed(AgentViewModel& model) {
    model.refresh();
    return model.serviceState();
}

// The keyring the new bus starts is locked; an answer of any kind shows libsecret is connected.
bool keyringAnswers() {
    try {
        static_cast<void>(KeychainAgentTokenStore(false).read());
        return true;
    } catch (const AgentTokenStorageError& error) {
        return error.status() != AgentTokenStorageError::serviceUnavailable;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

class TestPanelBusLoss : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainWindow::configureApplication(); }

    void panelOutlivesTheSessionBus() {
        surviveSessionBusLoss();
        TerminationSignals terminationSignals;
        QSignalSpy terminations(&terminationSignals, &TerminationSignals::received);
        // Creating the model reads the token through libsecret on GLib's session connection.
        const auto model = AgentViewModelFactory::create();
        MainWindow mainWindow(*model);
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow.window()));
        QCOMPARE(refreshed(*model), AgentServiceState::stopped());

        for (int loss = 0; loss < 2; ++loss) {
            systemctl({u"stop"_s, u"dbus.socket"_s, u"dbus.service"_s});
            QTRY_VERIFY_WITH_TIMEOUT(refreshed(*model).message().value_or(QString()).startsWith(
                                         u"Нет связи с systemd пользователя: "_s),
                                     busLimitMs);
            QVERIFY(!terminations.wait(1000));
            QVERIFY(mainWindow.window().isVisible());

            systemctl({u"start"_s, u"dbus.socket"_s});
            QTRY_COMPARE_WITH_TIMEOUT(refreshed(*model), AgentServiceState::stopped(), busLimitMs);
            QTRY_VERIFY_WITH_TIMEOUT(keyringAnswers(), busLimitMs);
        }
    }
};

QTEST_MAIN(TestPanelBusLoss)
#include "tst_PanelBusLoss.moc"
