#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
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
const QString unknownStatusText =
    QStringLiteral("systemd вернул неизвестное состояние фоновой службы");

// Generous, so that a loaded machine does not fail the working paths.
constexpr int workingTimeoutMs = 10000;
// Short, for the paths where the manager never answers.
constexpr int unansweredTimeoutMs = 500;
constexpr int agentStartMs = 20000;

bool processExists(const QString& pid) {
    return QFileInfo::exists(QStringLiteral("/proc/") + pid);
}

// What start() reported, once it has.
struct StartOutcome {
    bool reported = false;
    std::exception_ptr failure;

    AgentServiceControlling::StartCompletion completion() {
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
        systemctl({QStringLiteral("unmask"), unit});
        systemctl({QStringLiteral("stop"), unit});
        systemctl({QStringLiteral("disable"), unit});
        QFile::remove(AgentServiceController::defaultUserUnitDirectory() + QLatin1Char('/') + unit);
        systemctl({QStringLiteral("daemon-reload")});
        systemctl({QStringLiteral("reset-failed"), unit});
    }

    void switchingOnRunsTheAgent() {
        auto controller = makeController();
        controller->refresh();
        QCOMPARE(controller->state(), AgentServiceState::stopped());

        controller->setEnabled(true);
        QCOMPARE(controller->state(), AgentServiceState::running());
        QCOMPARE(systemctl({QStringLiteral("is-enabled"), unit}), QStringLiteral("enabled"));
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 1, agentStartMs);
        QTRY_COMPARE(unitProperty(QStringLiteral("ActiveState")), QStringLiteral("active"));
        QCOMPARE(unitProperty(QStringLiteral("MainPID")), bundle_->startedPids().first());
    }

    void switchingOffStopsTheAgent() {
        auto controller = makeController();
        controller->setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 1, agentStartMs);
        const QString pid = bundle_->startedPids().first();

        controller->setEnabled(false);
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

        controller.setEnabled(true);
        QCOMPARE(controller.state(), AgentServiceState::running());
        QTRY_COMPARE_WITH_TIMEOUT(health.readSnapshot().value_or(AgentHealthSnapshot{}).status,
                                  QString(AgentContract::statusNeedsConfiguration), agentStartMs);
        const QString pid = unitProperty(QStringLiteral("MainPID"));
        QVERIFY(processExists(pid));
        QVERIFY(
            QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/") + pid + QStringLiteral("/exe")))
                .fileName() == QStringLiteral("quorvane-agent"));

        controller.setEnabled(false);
        QTRY_VERIFY_WITH_TIMEOUT(!processExists(pid), agentStartMs);
        QTRY_COMPARE_WITH_TIMEOUT(health.readSnapshot().value_or(AgentHealthSnapshot{}).status,
                                  QString(AgentContract::statusStopped), agentStartMs);
    }

    void registrationOfAnEarlierPanelShowsStopped() {
        auto earlier = makeController();
        earlier->setEnabled(true);
        auto current = makeController();
        current->refresh();
        QCOMPARE(current->state(), AgentServiceState::stopped());
        earlier->refresh();
        QCOMPARE(earlier->state(), AgentServiceState::running());
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
            registering->setEnabled(true);
            QTRY_COMPARE_WITH_TIMEOUT(bundle_->startedPids().size(), 1, agentStartMs);
            QTRY_COMPARE(unitProperty(QStringLiteral("ActiveState")), QStringLiteral("active"));
            earlierPid = bundle_->startedPids().first();
            earlierInvocation = unitProperty(QStringLiteral("InvocationID"));
            controller = bySameController ? std::move(registering) : makeController();
        }

        StartOutcome outcome;
        controller->start(outcome.completion());
        QTRY_VERIFY_WITH_TIMEOUT(outcome.reported, agentStartMs);
        QVERIFY2(!outcome.failure, qPrintable(outcome.failureText()));
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

    void maskedUnitRequiresApproval() {
        systemctl({QStringLiteral("mask"), unit});
        auto controller = makeController();
        controller->refresh();
        QCOMPARE(controller->state(), AgentServiceState::requiresApproval());

        StartOutcome outcome;
        controller->start(outcome.completion());
        QTRY_VERIFY_WITH_TIMEOUT(outcome.reported, agentStartMs);
        QCOMPARE(outcome.failureKind(), AgentServiceError::Kind::refused);
        QCOMPARE(systemctl({QStringLiteral("is-enabled"), unit}), QStringLiteral("masked"));
        controller->refresh();
        QCOMPARE(controller->state(), AgentServiceState::requiresApproval());
        QVERIFY(bundle_->startedPids().isEmpty());
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
        controller->refresh();
        QCOMPARE(controller->state(), expected);
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
        controller.refresh();
        QVERIFY(clock.elapsed() < boundMs);
        QCOMPARE(controller.state(), AgentServiceState::failed(unknownStatusText));

        clock.restart();
        QVERIFY_THROWS_EXCEPTION(AgentServiceError, controller.setEnabled(false));
        QVERIFY(clock.elapsed() < boundMs);

        clock.restart();
        QVERIFY_THROWS_EXCEPTION(AgentServiceError, controller.setEnabled(true));
        QVERIFY(clock.elapsed() < boundMs);

        StartOutcome outcome;
        clock.restart();
        controller.start(outcome.completion());
        QTRY_VERIFY_WITH_TIMEOUT(outcome.reported, agentStartMs);
        QVERIFY(clock.elapsed() < 2 * boundMs);
        QVERIFY(outcome.failureKind().has_value());
        QCOMPARE(controller.state(), AgentServiceState::failed(unknownStatusText));
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
