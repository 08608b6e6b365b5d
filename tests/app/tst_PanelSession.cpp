// The panel as runPanel assembles it (production collaborators, real window, lifecycle) in a
// private session: systemd --user, the session bus, an unlocked keyring, a temporary home and
// the bundled agent. An agent the panel switched on is stopped and its unit disabled when a
// termination signal ends the panel, as when its window closes. Only one panel runs at a time,
// and a whole session leaves nothing outside the private XDG folders.
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QTest>
#include <QTimer>
#include <csignal>

#include "agent/AgentServiceController.h"
#include "app/AgentViewModelFactory.h"
#include "app/PanelInstance.h"
#include "app/PanelLifecycle.h"
#include "config/AgentContract.h"
#include "config/PlatformWording.h"
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

QString panelProgram() {
    return qEnvironmentVariable("QUORVANE_PREFIX") + u"/bin/quorvane"_s;
}

// Permission bits of the path itself, not of what a link points to.
int modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}

// Refreshes as the window would until the state is reached.
bool reaches(AgentViewModel& model, AgentServiceState::Kind kind) {
    return QTest::qWaitFor(
        [&] {
            model.refresh();
            return model.serviceState().kind() == kind && !model.isChangingState();
        },
        startLimitMs);
}

qint64 nameOwnerProcess() {
    const QDBusReply<uint> pid =
        QDBusConnection::sessionBus().interface()->servicePid(PanelInstance::busName);
    return pid.isValid() ? qint64(pid.value()) : 0;
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

    void aWholeSessionKeepsToThePrivateXdgFolders() {
        const QString folder = QDir::homePath() + u"/Проекты"_s;
        QVERIFY(QDir().mkpath(folder));
        AgentViewModelEnvironment environment = AgentViewModelFactory::environment();
        environment.chooseFolder = [folder] { return std::optional<QString>(folder); };
        const auto model = AgentViewModelFactory::create(environment);

        model->setTokenDraft(u"qv_agent_"_s + QString(43, u'S'));
        QVERIFY(model->saveToken());
        model->togglePower();
        QVERIFY(reaches(*model, AgentServiceState::Kind::needsConfiguration));
        model->selectWorkspaceFolder();
        model->setWorkspaceRootIDDraft(u"0b6a3d1e-5f2c-4e8a-9d7b-1c2e3f4a5b6c"_s);
        model->saveWorkspace();
        // The save waits for the manager's answer on whether the agent is on.
        QTRY_COMPARE_WITH_TIMEOUT(model->configurationMessage(),
                                  std::optional(PlatformWording::current().folderSaved()),
                                  startLimitMs);
        QVERIFY(reaches(*model, AgentServiceState::Kind::running));
        model->togglePower();
        QVERIFY(reaches(*model, AgentServiceState::Kind::stopped));
        model->shutdown();
        // The agent removes its socket on its way out.
        QTRY_COMPARE_WITH_TIMEOUT(agentProcessID(), 0, startLimitMs);

        QVERIFY(!QFileInfo::exists(QDir::homePath() + u"/Library"_s));
        const QString unitFile =
            AgentServiceController::defaultUserUnitDirectory() + u"/"_s + agentUnit();
        QCOMPARE(modeOf(unitFile), 0600);
        QStringList created;
        for (const QString& root :
             {AgentContract::configurationDirectory(), AgentContract::stateDirectory(),
              AgentContract::runtimeDirectory()}) {
            created.append(root);
            QDirIterator entries(
                root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                QDirIterator::Subdirectories);
            while (entries.hasNext()) {
                created.append(entries.next());
            }
        }
        QVERIFY(created.contains(AgentContract::configurationFilePath()));
        QVERIFY(created.contains(AgentContract::logFilePath()));
        for (const QString& path : std::as_const(created)) {
            QVERIFY2(modeOf(path) == (QFileInfo(path).isDir() ? 0700 : 0600), qPrintable(path));
        }
    }

    void aSecondLaunchRaisesTheFirstPanelAndLeaves() {
        PanelInstance first;
        QVERIFY(first.claim());
        QWindow panelWindow;
        QWindow elsewhere;
        first.bringToFrontOnRequest(panelWindow);
        elsewhere.show();
        elsewhere.requestActivate();
        QTRY_COMPARE(QGuiApplication::focusWindow(), &elsewhere);

        QProcess second;
        QElapsedTimer clock;
        clock.start();
        second.start(panelProgram(), {});
        // Not a blocking wait: this process has to answer the second launch's request.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, startLimitMs);
        qInfo("the second launch ended after %lld ms", clock.elapsed());
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!second.readAllStandardError().contains("did not answer"));
        QTRY_COMPARE(QGuiApplication::focusWindow(), &panelWindow);
        QVERIFY(panelWindow.isVisible());
    }

    void aKilledPanelDoesNotBlockTheNext() {
        QProcess killed;
        killed.start(panelProgram(), {});
        QTRY_COMPARE_WITH_TIMEOUT(nameOwnerProcess(), killed.processId(), startLimitMs);
        killed.kill();
        QVERIFY(killed.waitForFinished());

        QProcess next;
        next.start(panelProgram(), {});
        QTRY_COMPARE_WITH_TIMEOUT(nameOwnerProcess(), next.processId(), startLimitMs);
        next.kill();
        QVERIFY(next.waitForFinished());
    }
};

QTEST_MAIN(TestPanelSession)
#include "tst_PanelSession.moc"
