#include "agent/AgentUnitStatusReader.h"

#include <QDBusPendingReply>
#include <QVariantMap>

#include "agent/SystemdJobReference.h"
#include "config/AgentContract.h"

namespace quorvane {

using namespace Qt::StringLiterals;
using Outcome = AgentUnitStatus::Outcome;

namespace {

QString unitName() {
    return QString(AgentContract::unitName);
}

// The status with the failure of a call; an answer of an unexpected shape is malformed.
AgentUnitStatus failedWith(AgentUnitStatus status, const QDBusError& error, Outcome otherwise) {
    status.outcome = error.type() == QDBusError::InvalidSignature ? Outcome::malformed : otherwise;
    status.failure = SystemdUserManager::reasonOf(error);
    return status;
}

}  // namespace

void AgentUnitStatusReader::read(StatusHandler done) {
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
            done(failedWith({}, error,
                            SystemdUserManager::isUnknownUnit(error) ? Outcome::unknownUnit
                                                                     : Outcome::unreachable));
        });
}

void AgentUnitStatusReader::readRunState(AgentUnitStatus status, StatusHandler done) {
    auto failed = [done, status](const QDBusError& error) {
        done(failedWith(status, error, Outcome::unreachable));
    };
    systemd_.watch<QDBusPendingReply<QDBusObjectPath>>(
        systemd_.manager().LoadUnit(unitName()),
        [this, status, done, failed](const QDBusPendingReply<QDBusObjectPath>& unit) {
            systemd_.watch<QDBusPendingReply<QVariantMap>>(
                systemd_.properties(unit.value())->GetAll(u"org.freedesktop.systemd1.Unit"_s),
                [this, unit = unit.value(), status,
                 done](const QDBusPendingReply<QVariantMap>& reply) mutable {
                    const QVariantMap properties = reply.value();
                    status.activeState = properties.value(u"ActiveState"_s).toString();
                    status.subState = properties.value(u"SubState"_s).toString();
                    status.hasJob =
                        qdbus_cast<SystemdJobReference>(properties.value(u"Job"_s)).id != 0;
                    if (status.activeState == "failed"_L1) {
                        readExitStatus(unit, std::move(status), done);
                    } else {
                        done(status);
                    }
                },
                failed);
        },
        failed);
}

// Only a failed agent's exit status matters: it tells a refused sandbox from a failing agent.
void AgentUnitStatusReader::readExitStatus(const QDBusObjectPath& unit, AgentUnitStatus status,
                                           StatusHandler done) {
    systemd_.watch<QDBusPendingReply<QVariantMap>>(
        systemd_.properties(unit)->GetAll(u"org.freedesktop.systemd1.Service"_s),
        [status, done](const QDBusPendingReply<QVariantMap>& reply) mutable {
            status.execMainStatus = reply.value().value(u"ExecMainStatus"_s).toInt();
            done(status);
        },
        [status, done](const QDBusError& error) {
            done(failedWith(status, error, Outcome::unreachable));
        });
}

}  // namespace quorvane
