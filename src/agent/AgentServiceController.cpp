#include "agent/AgentServiceController.h"

#include <QDBusError>
#include <QDBusPendingReply>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantMap>
#include <utility>

#include "agent/AgentLogging.h"
#include "agent/AgentServiceError.h"
#include "agent/AgentServiceMessages.h"
#include "agent/AgentUnitStateMapping.h"
#include "agent/SystemdJobReference.h"
#include "config/AgentContract.h"
#include "config/PlatformWording.h"

namespace quorvane {

using namespace Qt::StringLiterals;
using Outcome = AgentUnitStatus::Outcome;

namespace {

const QString unitInterface = u"org.freedesktop.systemd1.Unit"_s;
const QString replaceMode = u"replace"_s;

QString unitName() {
    return QString(AgentContract::unitName);
}

QStringList unitFiles() {
    return {unitName()};
}

QString reasonOf(const QDBusError& error) {
    return error.message().isEmpty() ? error.name() : error.message();
}

AgentServiceError managerError(const QDBusError& error) {
    static const QStringList refusals{
        u"org.freedesktop.DBus.Error.AccessDenied"_s,
        u"org.freedesktop.systemd1.UnitMasked"_s,
        u"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"_s,
    };
    const auto kind = refusals.contains(error.name()) ? AgentServiceError::Kind::refused
                                                      : AgentServiceError::Kind::other;
    return AgentServiceError(kind, reasonOf(error), int(error.type()));
}

std::exception_ptr managerFailure(const QDBusError& error) {
    qCWarning(agentLog) << "systemd refused a change of the agent's unit:" << error.name()
                        << error.message();
    return std::make_exception_ptr(managerError(error));
}

bool isUnknownUnit(const QDBusError& error) {
    return error.name() == "org.freedesktop.DBus.Error.FileNotFound"_L1 ||
           error.name() == "org.freedesktop.systemd1.NoSuchUnit"_L1 ||
           error.message() == "No such file or directory"_L1;
}

Outcome outcomeOf(const QDBusError& error) {
    if (error.type() == QDBusError::InvalidSignature) {
        return Outcome::malformed;
    }
    return isUnknownUnit(error) ? Outcome::unknownUnit : Outcome::unreachable;
}

}  // namespace

AgentServiceController::AgentServiceController(QString installPrefix, QDBusConnection bus,
                                               QString userUnitDirectory, int callTimeoutMs)
    : installPrefix_(std::move(installPrefix)),
      unitFile_(installPrefix_, std::move(userUnitDirectory)),
      systemd_(std::move(bus), callTimeoutMs) {}

QString AgentServiceController::defaultUserUnitDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/systemd/user"_s;
}

// Refresh.

void AgentServiceController::refresh(std::function<void()> done) {
    systemd_.reconnectIfLost();
    const quint64 generation = generation_;
    readUnit([this, generation, done = std::move(done)](const AgentUnitStatus& status) {
        // A reading begun before a change of the registration would show the old state.
        if (generation == generation_) {
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

void AgentServiceController::readUnit(StatusHandler done) {
    systemd_.watch<QDBusPendingReply<QString>>(
        systemd_.manager().GetUnitFileState(unitName()),
        [this, done](const QDBusPendingReply<QString>& reply) {
            AgentUnitStatus status;
            status.unitFileState = reply.value();
            if (status.unitFileState.isEmpty()) {
                status.outcome = Outcome::malformed;
                done(status);
                return;
            }
            readRunState(std::move(status), done);
        },
        [done](const QDBusError& error) {
            AgentUnitStatus status;
            status.outcome = outcomeOf(error);
            status.failure = reasonOf(error);
            done(status);
        });
}

void AgentServiceController::readRunState(AgentUnitStatus status, StatusHandler done) {
    auto failed = [done, status](const QDBusError& error) mutable {
        status.outcome = error.type() == QDBusError::InvalidSignature ? Outcome::malformed
                                                                      : Outcome::unreachable;
        status.failure = reasonOf(error);
        done(status);
    };
    systemd_.watch<QDBusPendingReply<QDBusObjectPath>>(
        systemd_.manager().LoadUnit(unitName()),
        [this, status, done, failed](const QDBusPendingReply<QDBusObjectPath>& unit) {
            systemd_.watch<QDBusPendingReply<QVariantMap>>(
                systemd_.properties(unit.value())->GetAll(unitInterface),
                [status, done](const QDBusPendingReply<QVariantMap>& reply) mutable {
                    const QVariantMap properties = reply.value();
                    status.activeState = properties.value(u"ActiveState"_s).toString();
                    status.subState = properties.value(u"SubState"_s).toString();
                    status.hasJob =
                        qdbus_cast<SystemdJobReference>(properties.value(u"Job"_s)).id != 0;
                    done(status);
                },
                failed);
        },
        failed);
}

// Changes of the registration.

void AgentServiceController::start(Completion completion) {
    ++generation_;
    systemd_.reconnectIfLost();
    // The file is written first: a path systemd would refuse fails here, before anything of
    // an existing registration is undone. The manager reads it at the Reload below.
    try {
        unitFile_.write();
    } catch (const AgentServiceError& error) {
        qCWarning(agentLog) << "the agent's unit was not written:" << error.description();
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
            if (isUnknownUnit(error)) {
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
            qCWarning(agentLog) << "systemd did not reload the agent's unit:" << reasonOf(error);
            completion(std::make_exception_ptr(AgentServiceError(
                AgentServiceError::Kind::locationUpdateFailed,
                PlatformWording::current().unitFileNotWritten(unitFile_.path(), reasonOf(error)),
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
