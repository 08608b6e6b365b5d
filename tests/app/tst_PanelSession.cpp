// The panel as runPanel assembles it (production collaborators, real window, lifecycle) in a
// private session: systemd --user, the session bus, an unlocked keyring, a temporary home and
// the bundled agent.
#include <sys/stat.h>

#include <QClipboard>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <csignal>

#include "agent/AgentServiceController.h"
#include "app/AgentViewModelFactory.h"
#include "app/PanelInstance.h"
#include "app/PanelLifecycle.h"
#include "config/AgentContract.h"
#include "config/AgentTokenStorageError.h"
#include "config/PlatformWording.h"
#include "keychain/KeychainAgentTokenStore.h"
#include "monitor/AgentLogReader.h"
#include "system/TerminationSignals.h"
#include "tests/support/SessionTools.h"
#include "tests/ui/WindowDriver.h"
#include "ui/MainWindow.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;

namespace {

constexpr int limitMs = 20000;
const QString panelProgram = qEnvironmentVariable("QUORVANE_PREFIX") + u"/bin/quorvane"_s;

// Refreshes as the window would until the state is reached.
bool reaches(AgentViewModel& model, AgentServiceState::Kind kind) {
    return QTest::qWaitFor(
        [&] {
            model.refresh();
            return model.serviceState().kind() == kind && !model.isChangingState();
        },
        limitMs);
}

qsizetype panelConnections() {
    return AgentLogReader().readRecentLines(300).filter(u"Панель подключилась"_s).size();
}

QString configurationText() {
    QFile file(AgentContract::configurationFilePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// 0 while nobody owns the name. Asked on a connection of its own, so that it sees the bus that
// runs now, also after a restart.
qint64 nameOwner() {
    static int asked = 0;
    const QString name = u"name-owner-"_s + QString::number(++asked);
    qint64 owner = 0;
    {
        const QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        owner = bus.isConnected() ? bus.interface()->servicePid(PanelInstance::busName).value() : 0;
    }
    QDBusConnection::disconnectFromBus(name);
    return owner;
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

    // A killed panel left its agent running and enabled; the next one stops it. Through the
    // window the user pastes a token, switches on, adds a folder, off and on again, and removes
    // the folder; a termination signal ends the panel, which stops the agent it started.
    void aWholeSession() {
        const QString unitFile =
            AgentServiceController::defaultUserUnitDirectory() + u'/' + agentUnit();
        QVERIFY(QDir().mkpath(QFileInfo(unitFile).path()));
        QVERIFY(QFile::copy(qEnvironmentVariable("QUORVANE_PREFIX") + u'/' +
                                QString(AgentContract::bundledUnitTemplatePath),
                            unitFile));
        systemctl({u"daemon-reload"_s});
        systemctl({u"enable"_s, u"--now"_s, agentUnit()});
        QTRY_VERIFY_WITH_TIMEOUT(agentProcessID() != 0, limitMs);

        const QString folder = QDir::homePath() + u"/Проекты"_s;
        QVERIFY(QDir().mkpath(folder));
        AgentViewModelEnvironment environment = AgentViewModelFactory::environment();
        environment.chooseFolder = [folder] { return std::optional<QString>(folder); };
        const auto model = AgentViewModelFactory::create(environment);
        MainWindow mainWindow(*model);
        PanelLifecycle lifecycle(mainWindow.window(), *model);
        WindowDriver window(mainWindow.window());
        QVERIFY(QTest::qWaitForWindowActive(&mainWindow.window()));
        QVERIFY(reaches(*model, AgentServiceState::Kind::stopped));
        QTRY_COMPARE_WITH_TIMEOUT(systemctl({u"is-enabled"_s, agentUnit()}), u"disabled"_s,
                                  limitMs);
        QTRY_COMPARE_WITH_TIMEOUT(agentProcessID(), 0, limitMs);

        // The pasted token goes to the keyring, never into the file.
        const QString token = u"qv_agent_"_s + QString(39, u'Q') + u"-_09"_s;
        const auto sheetIsOpen = [&] {
            return mainWindow.window()
                       .findChild<QObject*>(u"workspaceSheet"_s)
                       ->property("visible") == true;
        };
        window.click(u"workspace.configure"_s);
        QTRY_VERIFY(sheetIsOpen());
        QGuiApplication::clipboard()->setText(token);
        window.click(u"configuration.agentToken"_s);
        window.press(Qt::Key_V, Qt::ControlModifier);
        window.click(u"configuration.saveToken"_s);
        QTRY_VERIFY2(window.shows(u"configuration.tokenSaved"_s),
                     qPrintable(model->configurationMessage().value_or(u"—"_s)));
        QCOMPARE(programOutput(u"secret-tool"_s, {u"lookup"_s, u"service"_s, u"ru.quorvane.agent"_s,
                                                  u"account"_s, u"device-token"_s}),
                 token);
        QVERIFY(!configurationText().contains(token));
        window.click(u"workspace.done"_s);
        QTRY_VERIFY(!sheetIsOpen());

        window.click(u"agent.powerButton"_s);
        QVERIFY(reaches(*model, AgentServiceState::Kind::needsConfiguration));
        const QString rootID = u"6f1d2c3b-4a5e-4f60-8b7c-9d0e1f2a3b4c"_s;
        window.click(u"workspace.configure"_s);
        QTRY_VERIFY(sheetIsOpen());
        window.click(u"workspace.rootID"_s);
        window.type(u"workspace."_s + rootID.toUpper());
        window.click(u"workspace.selectFolder"_s);
        window.click(u"workspace.writeEnabled"_s);
        window.click(u"workspace.save"_s);
        // The save waits for the manager's answer on whether the agent is on.
        QTRY_COMPARE_WITH_TIMEOUT(model->configurationMessage(),
                                  std::optional(PlatformWording::current().folderSaved()), limitMs);
        QQuickItem* row = window.item(u"workspace.savedRoot."_s + rootID);
        QCOMPARE(WindowDriver::find(row, u"workspace.savedRoot.path"_s)->property("text"),
                 QVariant(folder));
        const QString text = configurationText();
        QVERIFY2(text.contains(u"workspace."_s + rootID + u"="_s + folder + u"\n"_s) &&
                     text.contains(u"workspace."_s + rootID + u".write=true\n"_s),
                 qPrintable(text));
        // The restarted agent finds the token and the folder.
        QVERIFY(reaches(*model, AgentServiceState::Kind::running));
        model->togglePower();
        QVERIFY(reaches(*model, AgentServiceState::Kind::stopped));
        const qsizetype connections = panelConnections();
        model->togglePower();
        QVERIFY(reaches(*model, AgentServiceState::Kind::running));
        // The window's refresh cycle connects the lease once the agent listens.
        QTRY_VERIFY_WITH_TIMEOUT(panelConnections() > connections, limitMs);
        window.click(WindowDriver::find(row, u"workspace.savedRoot.remove"_s));
        QTRY_VERIFY(!window.shows(u"workspace.savedRoots"_s));
        QVERIFY(!configurationText().contains(rootID));

        QTimer::singleShot(0, qApp, [] { std::raise(SIGTERM); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(systemctl({u"is-enabled"_s, agentUnit()}), u"disabled"_s);
        QTRY_COMPARE_WITH_TIMEOUT(agentProcessID(), 0, limitMs);
    }

    // A second launch raises the first panel and leaves; a killed panel does not block the
    // next, and each drops a permissive umask of its caller before Qt creates anything.
    void launches() {
        {
            PanelInstance first;
            QVERIFY(first.claim());
            QWindow panelWindow;
            QWindow elsewhere;
            first.bringToFrontOnRequest(panelWindow);
            elsewhere.show();
            elsewhere.requestActivate();
            QTRY_COMPARE(QGuiApplication::focusWindow(), &elsewhere);
            QProcess second;
            second.start(panelProgram, {});
            // Not a blocking wait: this process has to answer the second launch's request.
            QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, limitMs);
            QVERIFY(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0);
            QVERIFY(!second.readAllStandardError().contains("did not answer"));
            QTRY_COMPARE(QGuiApplication::focusWindow(), &panelWindow);
        }
        for (int launch = 0; launch < 2; ++launch) {
            QProcess panel;
            panel.setChildProcessModifier([] { ::umask(0); });
            panel.start(panelProgram, {});
            QTRY_COMPARE_WITH_TIMEOUT(nameOwner(), panel.processId(), limitMs);
            QFile status(u"/proc/%1/status"_s.arg(panel.processId()));
            QVERIFY(status.open(QIODevice::ReadOnly));
            QVERIFY(status.readAll().contains("\nUmask:\t0077\n"));
            panel.kill();
            QVERIFY(panel.waitForFinished());
        }
    }

    // The bus goes away and comes back, twice: the panel keeps running (GLib's connection would
    // otherwise end it with SIGTERM), says it has no connection to the user's systemd, and
    // reconnects, keyring and panel name included.
    void panelOutlivesTheSessionBus() {
        TerminationSignals terminationSignals;
        QSignalSpy terminations(&terminationSignals, &TerminationSignals::received);
        PanelInstance instance;
        QVERIFY(instance.claim() && instance.ownsName());
        const auto model = AgentViewModelFactory::create();
        MainWindow mainWindow(*model);
        QVERIFY(QTest::qWaitForWindowExposed(&mainWindow.window()));
        QVERIFY(reaches(*model, AgentServiceState::Kind::stopped));
        const auto keyringAnswers = [] {
            try {
                static_cast<void>(KeychainAgentTokenStore(false).read());
                return true;
            } catch (const AgentTokenStorageError& error) {
                return error.status() != AgentTokenStorageError::serviceUnavailable;
            } catch (...) {
                return false;
            }
        };
        for (int loss = 0; loss < 2; ++loss) {
            systemctl({u"stop"_s, u"dbus.socket"_s, u"dbus.service"_s});
            QVERIFY(QTest::qWaitFor(
                [&] {
                    model->refresh();
                    return model->serviceState().message().value_or(QString()).startsWith(
                        u"Нет связи с systemd пользователя: "_s);
                },
                limitMs));
            QTest::qWait(1000);
            QVERIFY(terminations.isEmpty());  // also none while the loss was awaited
            QVERIFY(!instance.ownsName());
            systemctl({u"start"_s, u"dbus.socket"_s});
            QVERIFY(reaches(*model, AgentServiceState::Kind::stopped));
            QTRY_VERIFY_WITH_TIMEOUT(keyringAnswers(), limitMs);
            QTRY_VERIFY_WITH_TIMEOUT(instance.ownsName(), limitMs);
            QCOMPARE(nameOwner(), QCoreApplication::applicationPid());
        }
    }
};

QTEST_MAIN(TestPanelSession)
#include "tst_PanelSession.moc"
