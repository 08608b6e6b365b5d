#include <QCoreApplication>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <functional>

#include "app/DesktopIntegration.h"
#include "app/PanelInstance.h"
#include "app/PanelLifecycle.h"
#include "tests/ui/PanelFixture.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

// However the panel ends, a running agent is unregistered exactly once before the process
// goes; a stopped one is left alone.
class PanelLifecycleTest : public QObject {
    Q_OBJECT

private:
    // Runs the event loop until `ending` has ended it; the loop must end on its own.
    static void runUntilEnded(const std::function<void()>& ending) {
        QTimer::singleShot(0, QCoreApplication::instance(), ending);
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, QCoreApplication::instance(),
                [] { QCoreApplication::exit(99); });
        watchdog.start(10000);
        QCOMPARE(QCoreApplication::exec(), 0);
    }

private Q_SLOTS:
    void initTestCase() { MainWindow::configureApplication(); }

    void withoutASessionBusThePanelJustRuns() {
        PanelInstance instance(QDBusConnection(QStringLiteral("no session bus")));
        QVERIFY(instance.claim());
    }

    void closingTheWindowQuitsAndUnregistersOnce_data() {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<bool>("sheetOpen");
        QTest::newRow("the window's close button") << QKeySequence() << false;
        QTest::newRow("Ctrl+Q") << QKeySequence(u"Ctrl+Q"_s) << false;
        QTest::newRow("Ctrl+W") << QKeySequence(u"Ctrl+W"_s) << false;
        QTest::newRow("Ctrl+Q over the sheet") << QKeySequence(u"Ctrl+Q"_s) << true;
    }

    void closingTheWindowQuitsAndUnregistersOnce() {
        QFETCH(QKeySequence, keys);
        QFETCH(bool, sheetOpen);
        PanelFixture panel(PanelScenario::reporting(u"running"_s));
        PanelLifecycle lifecycle(panel.window(), panel.model());
        panel.model().setWorkspaceSheetPresented(sheetOpen);
        QVERIFY(QTest::qWaitForWindowActive(&panel.window()));
        int unregisteredWhenClosed = 0;
        runUntilEnded([&panel, &unregisteredWhenClosed, keys] {
            if (keys.isEmpty()) {
                panel.window().close();
            } else {
                QTest::keySequence(&panel.window(), keys);
            }
            unregisteredWhenClosed = panel.controller().changeCount(u"disable"_s);
        });
        QCOMPARE(unregisteredWhenClosed, 1);
        QCOMPARE(panel.controller().changeCount(u"disable"_s), 1);
    }

    void qtDialogsSpeakRussianWhateverTheLocale() {
        installQtTranslations(*QCoreApplication::instance());
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), u"Перейти к:"_s);
    }

    void quittingUnregistersOnce() {
        PanelFixture panel(PanelScenario::reporting(u"running"_s));
        PanelLifecycle lifecycle(panel.window(), panel.model());
        runUntilEnded(&QCoreApplication::quit);
        QCOMPARE(panel.controller().changeCount(u"disable"_s), 1);
        panel.window().close();
        QCOMPARE(panel.controller().changeCount(u"disable"_s), 1);
    }

    void terminationSignalQuitsAndUnregistersOnce_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void terminationSignalQuitsAndUnregistersOnce() {
        QFETCH(int, signalNumber);
        PanelFixture panel(PanelScenario::reporting(u"running"_s));
        PanelLifecycle lifecycle(panel.window(), panel.model());
        runUntilEnded([signalNumber] { std::raise(signalNumber); });
        QCOMPARE(panel.controller().changeCount(u"disable"_s), 1);
    }

    void stoppedAgentIsLeftAlone() {
        PanelFixture panel({});
        PanelLifecycle lifecycle(panel.window(), panel.model());
        runUntilEnded([&panel] { panel.window().close(); });
        QCOMPARE(panel.controller().changeCount(u"disable"_s), 0);
    }
};

QTEST_MAIN(PanelLifecycleTest)
#include "tst_PanelLifecycle.moc"
