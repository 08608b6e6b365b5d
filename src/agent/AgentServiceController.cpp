#include "agent/AgentServiceController.h"

#include <QDBusError>
#include <QDBusPendingReply>
#include <QStandardPaths>
#include <QStringList>
#include <exception>
#include <utility>

#include "agent/AgentLogging.h"
#include "agent/AgentServiceError.h"
#include "agent/AgentServiceMessages.h"
#include "agent/AgentUnitConfinement.h"
#include "agent/AgentUnitStateMapping.h"
#include "config/AgentContract.h"
#include "config/PlatformWording.h"

namespace quorvane {

using namespace Qt::StringLiterals;
using Outcome = AgentUnitStatus::Outcome;

namespace {

const QString replaceMode = u"replace"_s;

QString unitName() {
    return QString(AgentContract::unitName);
}

QStringList unitFiles() {
    return {unitName()};
}

AgentServiceError managerError(const QDBusError& error) {
    static const QStringList refusals{
        u"org.freedesktop.DBus.Error.AccessDenied"_s,
        u"org.freedesktop.systemd1.UnitMasked"_s,
        u"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"_s,
    };
    const auto kind = refusals.contains(error.name()) ? AgentServiceError::Kind::refused
                                                      : AgentServiceError::Kind::other;
    return AgentServiceError(kind, SystemdUserManager::reasonOf(error), int(error.type()));
}

std::exception_ptr managerFailure(const QDBusError& error) {
    qCWarning(agentLog) << "systemd refused a change of the agent's unit:" << error.name()
                        << error.message();
    return std::make_exception_ptr(managerError(error));
}

}  // namespace

AgentServiceController::AgentServiceController(QString installPrefix, QDBusConnection bus,
                                               QString userUnitDirectory, int callTimeoutMs,
                                               WorkspaceRootsProvider workspaceRoots)
    : installPrefix_(std::move(installPrefix)),
      workspaceRoots_(std::move(workspaceRoots)),
      unitFile_(installPrefix_, std::move(userUnitDirectory)),
      systemd_(std::move(bus), callTimeoutMs),
      statusReader_(systemd_) {}

QString AgentServiceController::defaultUserUnitDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/systemd/user"_s;
}

// Refresh.

void AgentServiceController::refresh(std::function<void()> done) {
    systemd_.reconnectIfLost();
    const quint64 generation = generation_;
    statusReader_.read([this, generation, done = std::move(done)](const AgentUnitStatus& status) {
        // A reading begun before a change of the registration would show the old state.
        if (generation == generation_ && refusedTheSandbox(status)) {
            // Registered and started again at once, unconfined.
            runUnconfined(status.execMainStatus);
            state_ = AgentServiceState::running();
        } else if (generation == generation_) {
            if (!AgentUnitStateMapping::isMasked(status.unitFileState)) {
                maskOutOfReach_ = false;
            }
            const auto result =
                AgentUnitStateMapping::map(status, {launchRequested_, maskOutOfReach_,
                                                    status.outcome != Outcome::unknownUnit ||
                                                        AgentUnitFile::isBundled(installPrefix_)});
            state_ = result.state;
            hasLeftoverRegistration_ = result.hasLeftoverRegistration;
        }
        done();
    });
}

// The sandbox.

bool AgentServiceController::refusedTheSandbox(const AgentUnitStatus& status) const {
    return launchRequested_ && unitConfined_ && status.outcome == Outcome::read &&
           status.activeState == "failed"_L1 &&
           AgentUnitConfinement::isSandboxFailure(status.execMainStatus);
}

// The user's systemd cannot confine the agent here (no unprivileged user namespaces, an option
// the kernel refuses): the agent runs unconfined rather than not at all, from now on.
void AgentServiceController::runUnconfined(int exitStatus) {
    const quint64 generation = ++generation_;
    sandboxRefused_ = true;
    unitConfined_ = false;
    qCWarning(agentLog).nospace() << "systemd could not confine the agent (exit status "
                                  << exitStatus << "); it runs unconfined";
    try {
        unitFile_.write({});
    } catch (const AgentServiceError& error) {
        qCWarning(agentLog) << "the agent's unit was not written:" << error.description();
        return;
    }
    // Each step only while no other change of the registration began meanwhile.
    auto unlessOvertaken = [this, generation](std::function<void()> next) {
        return [this, generation, next = std::move(next)] {
            if (generation == generation_) {
                next();
            }
        };
    };
    auto logFailure = [](std::exception_ptr failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const AgentServiceError& error) {
            qCWarning(agentLog) << "the unconfined agent did not start:" << error.description();
        }
    };
    callManager(systemd_.manager().Reload(), unlessOvertaken([this, unlessOvertaken, logFailure] {
                    callManager(systemd_.manager().ResetFailedUnit(unitName()),
                                unlessOvertaken([this, logFailure] {
                                    callManager(
                                        systemd_.manager().StartUnit(unitName(), replaceMode),
                                        [] {}, logFailure);
                                }),
                                logFailure);
                }),
                logFailure);
}

// Changes of the registration.

void AgentServiceController::start(Completion completion) {
    ++generation_;
    systemd_.reconnectIfLost();
    // The file is written first: a path systemd would refuse fails here, before anything of
    // an existing registration is undone. The manager reads it at the Reload below.
    try {
        unitConfined_ = !sandboxRefused_;
        unitFile_.write(
            unitConfined_ ? AgentUnitConfinement::serviceLines(AgentUnitConfinement::currentFolders(
                                installPrefix_, workspaceRoots_))
                          : QByteArray());
    } catch (...) {
        qCWarning(agentLog) << "the agent's unit was not written:" << unitFile_.path();
        completion(std::current_exception());
        return;
    }
    systemd_.watch<QDBusPendingReply<QString>>(
        systemd_.manager().GetUnitFileState(unitName()),
        [this, completion](const QDBusPendingReply<QString>& reply) {
            const QString unitFileState = reply.value();
            if (AgentUnitStateMapping::isEnabled(unitFileState) ||
                AgentUnitStateMapping::isMasked(unitFileState)) {
                unregisterThenRegister(completion);
            } else {
                registerAnew(completion);
            }
        },
        [this, completion](const QDBusError& error) {
            if (SystemdUserManager::isUnknownUnit(error)) {
                registerAnew(completion);
            } else {
                completion(managerFailure(error));
            }
        });
}

void AgentServiceController::unregisterThenRegister(Completion completion) {
    callManager(
        systemd_.manager().StopUnit(unitName(), replaceMode),
        [this, completion] {
            disableUnit([this, completion] { registerAnew(completion); }, completion);
        },
        completion);
}

void AgentServiceController::registerAnew(Completion completion) {
    launchRequested_ = false;
    systemd_.watch<QDBusPendingReply<>>(
        systemd_.manager().Reload(),
        [this, completion](const QDBusPendingReply<>&) {
            launchRequested_ = true;
            callManager(
                systemd_.manager().EnableUnitFiles(unitFiles(), false, true),
                [this, completion] { startRegistered(completion); }, completion);
        },
        [this, completion](const QDBusError& error) {
            qCWarning(agentLog) << "systemd did not reload the agent's unit:"
                                << SystemdUserManager::reasonOf(error);
            completion(std::make_exception_ptr(
                AgentServiceError(AgentServiceError::Kind::locationUpdateFailed,
                                  PlatformWording::current().unitFileNotWritten(
                                      unitFile_.path(), SystemdUserManager::reasonOf(error)),
                                  int(error.type()))));
        });
}

void AgentServiceController::startRegistered(Completion completion) {
    callManager(
        systemd_.manager().StartUnit(unitName(), replaceMode),
        [this, completion] { refreshThenComplete(completion); },
        [this, completion](std::exception_ptr failure) {
            auto report = [this, completion, failure] {
                refreshThenComplete(
                    [completion, failure](std::exception_ptr) { completion(failure); });
            };
            // A unit left enabled but not started would start at the next login although
            // switching on was reported as failed.
            disableUnit(report, [report](std::exception_ptr) { report(); });
        });
}

void AgentServiceController::stop(Completion completion) {
    ++generation_;
    systemd_.reconnectIfLost();
    systemd_.watch<QDBusPendingReply<QDBusObjectPath>>(
        systemd_.manager().StopUnit(unitName(), replaceMode),
        [this, completion](const QDBusPendingReply<QDBusObjectPath>&) {
            disableUnit(
                [this, completion] { refreshThenComplete(completion); },
                [this, completion](std::exception_ptr failure) {
                    // The agent is stopped but would start again at the next login.
                    std::exception_ptr partial;
                    try {
                        std::rethrow_exception(failure);
                    } catch (const AgentServiceError& error) {
                        partial = std::make_exception_ptr(AgentServiceError(
                            AgentServiceError::Kind::other,
                            AgentServiceMessages::stoppedButLeftEnabled(error.description()),
                            error.code()));
                    }
                    refreshThenComplete(
                        [completion, partial](std::exception_ptr) { completion(partial); });
                });
        },
        [this, completion](const QDBusError& error) {
            // Nothing is loaded, so nothing runs; the unit file may still be enabled.
            if (error.name() == "org.freedesktop.systemd1.NoSuchUnit"_L1) {
                disableUnit([this, completion] { refreshThenComplete(completion); }, completion);
                return;
            }
            refreshThenComplete([completion, failure = managerFailure(error)](std::exception_ptr) {
                completion(failure);
            });
        });
}

void AgentServiceController::disableUnit(std::function<void()> next, Completion onFailure) {
    callManager(
        systemd_.manager().DisableUnitFiles(unitFiles(), false),
        [this, next = std::move(next)] {
            launchRequested_ = false;
            next();
        },
        std::move(onFailure));
}

void AgentServiceController::stopBeforeExit() {
    // Answers still due would continue an operation after the agent was stopped.
    systemd_.dropPendingAnswers();
    ++generation_;
    if (!launchRequested_ && !hasLeftoverRegistration_ && !state_.isSwitchedOn()) {
        return;
    }
    systemd_.manager().StopUnit(unitName(), replaceMode).waitForFinished();
    systemd_.manager().DisableUnitFiles(unitFiles(), false).waitForFinished();
    launchRequested_ = false;
}

void AgentServiceController::allowBackgroundStart(Completion completion) {
    ++generation_;
    systemd_.reconnectIfLost();
    callManager(
        systemd_.manager().UnmaskUnitFiles(unitFiles(), false),
        [this, completion] {
            callManager(
                systemd_.manager().Reload(), [this, completion] { confirmUnmasked(completion); },
                completion);
        },
        completion);
}

void AgentServiceController::confirmUnmasked(Completion completion) {
    systemd_.watch<QDBusPendingReply<QString>>(
        systemd_.manager().GetUnitFileState(unitName()),
        [this, completion](const QDBusPendingReply<QString>& reply) {
            const QString unitFileState = reply.value();
            maskOutOfReach_ = unitFileState == "masked"_L1;
            if (AgentUnitStateMapping::isMasked(unitFileState)) {
                const QString text = maskOutOfReach_ ? AgentServiceMessages::persistentMask()
                                                     : AgentServiceMessages::runtimeMask();
                refreshThenComplete([completion, text](std::exception_ptr) {
                    completion(std::make_exception_ptr(
                        AgentServiceError(AgentServiceError::Kind::other, text)));
                });
                return;
            }
            refreshThenComplete(completion);
        },
        [this, completion](const QDBusError&) { refreshThenComplete(completion); });
}

void AgentServiceController::refreshThenComplete(Completion completion) {
    ++generation_;
    refresh([completion] { completion(nullptr); });
}

void AgentServiceController::callManager(const QDBusPendingCall& call,
                                         std::function<void()> onReply, Completion onFailure) {
    systemd_.watch<QDBusPendingReply<>>(
        call, [onReply = std::move(onReply)](const QDBusPendingReply<>&) { onReply(); },
        [onFailure = std::move(onFailure)](const QDBusError& error) {
            onFailure(managerFailure(error));
        });
}

}  // namespace quorvane
