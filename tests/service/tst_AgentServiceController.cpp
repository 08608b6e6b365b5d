#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <functional>
#include <memory>

#include "StandInBundle.h"
#include "agent/AgentServiceController.h"
#include "agent/AgentServiceError.h"
#include "config/AgentContract.h"
#include "monitor/AgentHealthReader.h"
#include "tests/support/SessionTools.h"

using namespace quorvane;
using namespace quorvane::testing;

namespace {

const QString unit = agentUnit();
const QString noManagerPrefix = QStringLiteral("Нет связи с systemd пользователя: ");
const QString userUnitFolder = QDir::homePath() + QStringLiteral("/.config/systemd/user");

// Generous, so that a loaded machine does not fail the working paths.
constexpr int workingTimeoutMs = 10000;
// Short, for the paths where the manager never answers.
constexpr int unansweredTimeoutMs = 500;
constexpr int agentStartMs = 20000;

bool processExists(const QString& pid) {
    return QFileInfo::exists(QStringLiteral("/proc/") + pid);
}

// What an operation of the controller reported, once it has.
struct Outcome {
    bool reported = false;
    std::exception_ptr failure;

    AgentServiceControlling::Completion completion() {
        return [this](std::exception_ptr result) {
            reported = true;
            failure = result;
        };
    }
    QString failureText() const {
        try {
            if (failure) {
                std::rethrow_exception(failure);
            }
        } catch (const std::exception& error) {
            return QString::fromUtf8(error.what());
        }
        return {};
    }
    std::optional<AgentServiceError::Kind> failureKind() const {
        try {
            if (failure) {
                std::rethrow_exception(failure);
            }
        } catch (const AgentServiceError& error) {
            return error.kind();
        } catch (...) {
        }
        return std::nullopt;
    }
};

// Runs the event loop until the operation reports; its outcome.
Outcome awaited(const std::function<void(AgentServiceControlling::Completion)>& operation) {
    Outcome outcome;
    operation(outcome.completion());
    if (!QTest::qWaitFor([&] { return outcome.reported; }, agentStartMs)) {
        qWarning("the controller did not report");
    }
    return outcome;
}

AgentServiceState refreshed(AgentServiceController& controller) {
    awaited([&](const auto& done) { controller.refresh([done] { done(nullptr); }); });
    return controller.state();
}

void switchOn(AgentServiceController& controller) {
    const Outcome outcome = awaited([&](const auto& done) { controller.start(done); });
    QVERIFY2(!outcome.failure, qPrintable(outcome.failureText()));
}

void switchOff(AgentServiceController& controller) {
    const Outcome outcome = awaited([&](const auto& done) { controller.stop(done); });
    QVERIFY2(!outcome.failure, qPrintable(outcome.failureText()));
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

// A drop-in of the user's own for the agent's unit.
bool addDropIn(const QByteArray& settings) {
    return writeFile(userUnitFolder + QLatin1Char('/') + unit + QStringLiteral(".d/test.conf"),
                     settings) &&
           systemctl({QStringLiteral("daemon-reload")}).isEmpty();
}

}  // namespace

class TestAgentServiceController : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        bundle_ = std::make_unique<StandInBundle>();
        QVERIFY(bundle_->isValid());
    }

    // Every test function starts from a manager that knows nothing of the unit.
    void cleanup() {
        if (stoppedManager_ > 0) {
            ::kill(stoppedManager_, SIGCONT);
            stoppedManager_ = 0;
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("unreachable"));
        busWithoutManager_.reset();
        programOutput(QStringLiteral("umount"), {userUnitFolder});
        systemctl({QStringLiteral("unmask"), unit});
        systemctl({QStringLiteral("unmask"), QStringLiteral("--runtime"), unit});
        systemctl({QStringLiteral("stop"), unit});
        systemctl({QStringLiteral("disable"), unit});
        QFile::remove(AgentServiceController::defaultUserUnitDirectory() + QLatin1Char('/') + unit);
        QDir(userUnitFolder + QLatin1Char('/') + unit + QStringLiteral(".d")).removeRecursively();
        systemctl({QStringLiteral("daemon-reload")});
        systemctl({QStringLiteral("reset-failed"), unit});
    }

    void switchingOnRunsTheAgent() {
        auto controller = makeController();
        QCOMPARE(refreshed(*controller), AgentServiceState::stopped());

        switchOn(*controller);
        QCOMPARE(controller->state(), AgentServiceState::running());
        QCOMPARE(systemctl({QStringLiteral("is-enabled"), unit}), QStringLiteral("enabled"));
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 1, agentStartMs);
        QTRY_COMPARE(unitProperty(QStringLiteral("ActiveState")), QStringLiteral("active"));
        QCOMPARE(unitProperty(QStringLiteral("MainPID")), bundle_->startedPids().first());
    }

    void switchingOffStopsTheAgent() {
        auto controller = makeController();
        switchOn(*controller);
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 1, agentStartMs);
        const QString pid = bundle_->startedPids().first();

        switchOff(*controller);
        QCOMPARE(controller->state(), AgentServiceState::stopped());
        QCOMPARE(systemctl({QStringLiteral("is-enabled"), unit}), QStringLiteral("disabled"));
        QTRY_VERIFY_WITH_TIMEOUT(!processExists(pid), agentStartMs);
        QTRY_COMPARE(unitProperty(QStringLiteral("ActiveState")), QStringLiteral("inactive"));
    }

    // The real agent of the build tree, started by the real manager, reports through its
    // health file; without a token in the session it asks for configuration.
    void theBundledAgentRunsAndReports() {
        const QString prefix = qEnvironmentVariable("QUORVANE_PREFIX");
        QVERIFY(AgentServiceController::hasBundledService(prefix));
        AgentServiceController controller(prefix, QDBusConnection::sessionBus(),
                                          AgentServiceController::defaultUserUnitDirectory(),
                                          workingTimeoutMs);
        const AgentHealthReader health;
        QFile::remove(health.path());

        switchOn(controller);
        QCOMPARE(controller.state(), AgentServiceState::running());
        QTRY_COMPARE_WITH_TIMEOUT(health.readSnapshot().value_or(AgentHealthSnapshot{}).status,
                                  QString(AgentContract::statusNeedsConfiguration), agentStartMs);
        const QString pid = unitProperty(QStringLiteral("MainPID"));
        QVERIFY(processExists(pid));
        QVERIFY(
            QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/") + pid + QStringLiteral("/exe")))
                .fileName() == QStringLiteral("quorvane-agent"));

        switchOff(controller);
        QTRY_VERIFY_WITH_TIMEOUT(!processExists(pid), agentStartMs);
        QTRY_COMPARE_WITH_TIMEOUT(health.readSnapshot().value_or(AgentHealthSnapshot{}).status,
                                  QString(AgentContract::statusStopped), agentStartMs);
    }

    void registrationOfAnEarlierPanelIsALeftover() {
        auto earlier = makeController();
        switchOn(*earlier);
        auto current = makeController();
        QCOMPARE(refreshed(*current), AgentServiceState::stopped());
        QVERIFY(current->hasLeftoverRegistration());
        QCOMPARE(refreshed(*earlier), AgentServiceState::running());
        QVERIFY(!earlier->hasLeftoverRegistration());
    }

    void startRegistersAnew_data() {
        QTest::addColumn<bool>("registeredBefore");
        QTest::addColumn<bool>("bySameController");
        QTest::newRow("nothing registered") << false << false;
        QTest::newRow("registered by this controller") << true << true;
        QTest::newRow("registered by an earlier panel") << true << false;
    }

    void startRegistersAnew() {
        QFETCH(bool, registeredBefore);
        QFETCH(bool, bySameController);
        auto controller = makeController();
        QString earlierPid;
        QString earlierInvocation;
        if (registeredBefore) {
            auto registering = bySameController ? std::move(controller) : makeController();
            switchOn(*registering);
            QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 1, agentStartMs);
            QTRY_COMPARE(unitProperty(QStringLiteral("ActiveState")), QStringLiteral("active"));
            earlierPid = bundle_->startedPids().first();
            earlierInvocation = unitProperty(QStringLiteral("InvocationID"));
            controller = bySameController ? std::move(registering) : makeController();
        }

        switchOn(*controller);
        QCOMPARE(controller->state(), AgentServiceState::running());

        const int starts = registeredBefore ? 2 : 1;
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), starts, agentStartMs);
        const QString pid = bundle_->startedPids().last();
        QTRY_COMPARE(unitProperty(QStringLiteral("MainPID")), pid);
        QCOMPARE(unitProperty(QStringLiteral("ActiveState")), QStringLiteral("active"));
        if (registeredBefore) {
            QVERIFY(unitProperty(QStringLiteral("InvocationID")) != earlierInvocation);
            QTRY_VERIFY(!processExists(earlierPid));
        }
    }

    // The user's mask, by link or by empty file, shows as such; the panel lifts it on request
    // without starting the agent, and switching on then works.
    void maskedUnitCanBeAllowed_data() {
        QTest::addColumn<bool>("byEmptyFile");
        QTest::newRow("masked by link") << false;
        QTest::newRow("masked by empty file") << true;
    }

    void maskedUnitCanBeAllowed() {
        QFETCH(bool, byEmptyFile);
        if (byEmptyFile) {
            QVERIFY(writeFile(userUnitFolder + QLatin1Char('/') + unit, {}));
            systemctl({QStringLiteral("daemon-reload")});
        } else {
            systemctl({QStringLiteral("mask"), unit});
        }
        auto controller = makeController();
        QCOMPARE(refreshed(*controller), AgentServiceState::requiresApproval());
        const Outcome refused = awaited([&](const auto& done) { controller->start(done); });
        QCOMPARE(refused.failureKind(), AgentServiceError::Kind::refused);

        const Outcome allowed =
            awaited([&](const auto& done) { controller->allowBackgroundStart(done); });
        QVERIFY2(!allowed.failure, qPrintable(allowed.failureText()));
        QCOMPARE(controller->state(), AgentServiceState::stopped());
        QVERIFY(bundle_->startedPids().isEmpty());

        switchOn(*controller);
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 1, agentStartMs);
    }

    void runtimeMaskNamesTheCommandThatLiftsIt() {
        systemctl({QStringLiteral("mask"), QStringLiteral("--runtime"), unit});
        auto controller = makeController();
        const QString command =
            QStringLiteral("systemctl --user unmask --runtime ru.quorvane.agent.service");
        QVERIFY(refreshed(*controller).message().value_or(QString()).contains(command));
        const Outcome outcome =
            awaited([&](const auto& done) { controller->allowBackgroundStart(done); });
        QVERIFY(outcome.failureText().contains(command));
        QCOMPARE(systemctl({QStringLiteral("is-enabled"), unit}), QStringLiteral("masked-runtime"));
    }

    void userCanMaskAfterThePanelWroteItsUnit() {
        auto controller = makeController();
        switchOn(*controller);
        switchOff(*controller);
        systemctl({QStringLiteral("mask"), unit});
        QCOMPARE(systemctl({QStringLiteral("is-enabled"), unit}), QStringLiteral("masked"));
        QCOMPARE(refreshed(*controller), AgentServiceState::requiresApproval());
    }

    // systemd stops restarting an agent that keeps failing, or keeps restarting it; either way
    // the panel says so at once instead of waiting for the agent's report.
    void failingAgentShowsAnErrorAtOnce_data() {
        QTest::addColumn<QByteArray>("dropIn");
        QTest::newRow("failed") << QByteArray();
        QTest::newRow("restarting") << QByteArray(
            "[Unit]\nStartLimitIntervalSec=0\n[Service]\nRestart=always\n"
            "RestartSec=3\n");
    }

    void failingAgentShowsAnErrorAtOnce() {
        QFETCH(QByteArray, dropIn);
        QVERIFY(writeFile(bundle_->agentPath(), "#!/bin/sh\nexit 3\n"));
        QVERIFY(dropIn.isEmpty() || addDropIn(dropIn));
        auto controller = makeController();
        switchOn(*controller);
        QTRY_COMPARE_WITH_TIMEOUT(refreshed(*controller).kind(),
                                  AgentServiceState::Kind::serviceError, 5000);
    }

    // A unit left enabled after a failed start would start the agent at the next login.
    void failedStartLeavesTheUnitDisabled() {
        QVERIFY(addDropIn("[Unit]\nRefuseManualStart=yes\n"));
        auto controller = makeController();
        const Outcome outcome = awaited([&](const auto& done) { controller->start(done); });
        QVERIFY(outcome.failure);
        QCOMPARE(systemctl({QStringLiteral("is-enabled"), unit}), QStringLiteral("disabled"));
        QCOMPARE(controller->state(), AgentServiceState::stopped());
    }

    void stoppedAgentLeftEnabledIsReportedAsSuch() {
        auto controller = makeController();
        switchOn(*controller);
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 1, agentStartMs);
        // The manager cannot remove the unit's link from a read-only folder.
        QCOMPARE(programOutput(QStringLiteral("mount"),
                               {QStringLiteral("--bind"), QStringLiteral("-o"),
                                QStringLiteral("ro"), userUnitFolder, userUnitFolder}),
                 QString());
        QVERIFY(!QFile(userUnitFolder + QStringLiteral("/probe")).open(QIODevice::WriteOnly));

        const Outcome outcome = awaited([&](const auto& done) { controller->stop(done); });
        QVERIFY(outcome.failureText().contains(QStringLiteral("остановлен")));
        QCOMPARE(unitProperty(QStringLiteral("ActiveState")), QStringLiteral("inactive"));
        QCOMPARE(systemctl({QStringLiteral("is-enabled"), unit}), QStringLiteral("enabled"));
        QCOMPARE(controller->state().kind(), AgentServiceState::Kind::serviceError);
    }

    void unknownUnitDependsOnTheBundledFiles_data() {
        QTest::addColumn<bool>("agentBundled");
        QTest::addColumn<AgentServiceState>("expected");
        QTest::newRow("bundled") << true << AgentServiceState::stopped();
        QTest::newRow("agent missing") << false << AgentServiceState::unavailable();
    }

    void unknownUnitDependsOnTheBundledFiles() {
        QFETCH(bool, agentBundled);
        QFETCH(AgentServiceState, expected);
        if (!agentBundled) {
            QVERIFY(QFile::remove(bundle_->agentPath()));
        }
        auto controller = makeController();
        QCOMPARE(refreshed(*controller), expected);
    }

    void unreachableManagerShowsFailedWithinTheTimeout_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("no bus") << QStringLiteral("no bus");
        QTest::newRow("bus without a manager") << QStringLiteral("bus without a manager");
        QTest::newRow("manager not answering") << QStringLiteral("manager not answering");
    }

    void unreachableManagerShowsFailedWithinTheTimeout() {
        QFETCH(QString, how);
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (how == QLatin1String("no bus")) {
            bus = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                QStringLiteral("unreachable"));
        } else if (how == QLatin1String("bus without a manager")) {
            bus = startBusWithoutManager();
        } else {
            stoppedManager_ =
                bus.interface()->servicePid(QStringLiteral("org.freedesktop.systemd1"));
            QVERIFY(stoppedManager_ > 0);
            QCOMPARE(::kill(stoppedManager_, SIGSTOP), 0);
        }
        QVERIFY(bus.isConnected() == (how != QLatin1String("no bus")));
        AgentServiceController controller(bundle_->prefix(), bus,
                                          AgentServiceController::defaultUserUnitDirectory(),
                                          unansweredTimeoutMs);
        // Far below the 25 s that QtDBus waits without an explicit timeout.
        const qint64 boundMs = unansweredTimeoutMs + 4500;
        QElapsedTimer clock;

        clock.start();
        QVERIFY(refreshed(controller).message().value_or(QString()).startsWith(noManagerPrefix));
        QVERIFY(clock.elapsed() < boundMs);

        for (const auto operation : {&AgentServiceController::start, &AgentServiceController::stop,
                                     &AgentServiceController::allowBackgroundStart}) {
            clock.restart();
            const Outcome outcome =
                awaited([&](const auto& done) { (controller.*operation)(done); });
            QVERIFY(outcome.failureKind().has_value());
            QVERIFY(clock.elapsed() < 2 * boundMs);
        }
        clock.restart();
        controller.stopBeforeExit();
        QVERIFY(clock.elapsed() < 2 * boundMs);
    }

private:
    std::unique_ptr<AgentServiceController> makeController() const {
        return std::make_unique<AgentServiceController>(
            bundle_->prefix(), QDBusConnection::sessionBus(),
            AgentServiceController::defaultUserUnitDirectory(), workingTimeoutMs);
    }

    // A session bus of its own on which systemd never runs.
    QDBusConnection startBusWithoutManager() {
        busWithoutManager_ = std::make_unique<QProcess>();
        busWithoutManager_->start(QStringLiteral("dbus-daemon"),
                                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                   QStringLiteral("--nopidfile"), QStringLiteral("--print-address"),
                                   QStringLiteral("--address=unix:path=") +
                                       busDirectory_.filePath(QStringLiteral("bus"))});
        busWithoutManager_->waitForReadyRead(10000);
        const QString address = QString::fromUtf8(busWithoutManager_->readLine()).trimmed();
        return QDBusConnection::connectToBus(address, QStringLiteral("unreachable"));
    }

    std::unique_ptr<StandInBundle> bundle_;
    // A D-Bus address escapes spaces and '%', which the bundle's folder name has.
    QTemporaryDir busDirectory_;
    std::unique_ptr<QProcess> busWithoutManager_;
    pid_t stoppedManager_ = 0;
};

QTEST_GUILESS_MAIN(TestAgentServiceController)
#include "tst_AgentServiceController.moc"
