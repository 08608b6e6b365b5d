// However the panel ends, a running agent is unregistered exactly once before the process
// goes; a stopped one is left alone.
#include <QTest>
#include <QTimer>
#include <csignal>

#include "app/DesktopIntegration.h"
#include "app/PanelLifecycle.h"
#include "tests/ui/PanelFixture.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

class PanelLifecycleTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainWindow::configureApplication(); }

    void endingUnregistersARunningAgentOnce_data() {
        QTest::addColumn<QString>("ending");  // a key sequence, "close", "quit" or "signal"
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("sheetOpen");
        QTest::addColumn<bool>("agentRunning");
        QTest::newRow("close button") << u"close"_s << 0 << false << true;
        QTest::newRow("Ctrl+Q") << u"Ctrl+Q"_s << 0 << false << true;
        QTest::newRow("Ctrl+W") << u"Ctrl+W"_s << 0 << false << true;
        QTest::newRow("Ctrl+Q over the sheet") << u"Ctrl+Q"_s << 0 << true << true;
        QTest::newRow("quit") << u"quit"_s << 0 << false << true;
        QTest::newRow("SIGTERM") << u"signal"_s << SIGTERM << false << true;
        QTest::newRow("SIGINT") << u"signal"_s << SIGINT << false << true;
        QTest::newRow("SIGHUP") << u"signal"_s << SIGHUP << false << true;
        QTest::newRow("agent stopped") << u"close"_s << 0 << false << false;
    }

    void endingUnregistersARunningAgentOnce() {
        QFETCH(QString, ending);
        QFETCH(int, signalNumber);
        QFETCH(bool, sheetOpen);
        QFETCH(bool, agentRunning);
        PanelFixture panel(agentRunning ? PanelScenario::reporting(u"running"_s) : PanelScenario{});
        PanelLifecycle lifecycle(panel.window(), panel.model());
        panel.model().setWorkspaceSheetPresented(sheetOpen);
        QVERIFY(QTest::qWaitForWindowActive(&panel.window()));
        const auto unregistrations = [&panel] {
            return panel.controller().changeCount(u"disable"_s);
        };
        int unregisteredAtOnce = -1;
        QTimer::singleShot(0, qApp, [&] {
            if (ending == u"quit") {
                QCoreApplication::quit();
            } else if (ending == u"signal") {
                std::raise(signalNumber);
            } else {
                // Closing the window unregisters before the event loop ends.
                if (ending == u"close") {
                    panel.window().close();
                } else {
                    QTest::keySequence(&panel.window(), QKeySequence(ending));
                }
                unregisteredAtOnce = unregistrations();
            }
        });
        // The loop must end on its own.
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(unregistrations(), int(agentRunning));
        QVERIFY(unregisteredAtOnce == -1 || unregisteredAtOnce == int(agentRunning));
        panel.window().close();
        QCOMPARE(unregistrations(), int(agentRunning));
    }

    void qtDialogsSpeakRussianWhateverTheLocale() {
        installQtTranslations(*QCoreApplication::instance());
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), u"Перейти к:"_s);
    }
};

QTEST_MAIN(PanelLifecycleTest)
#include "tst_PanelLifecycle.moc"
