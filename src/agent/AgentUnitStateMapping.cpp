#include "agent/AgentUnitStateMapping.h"

#include "agent/AgentServiceMessages.h"

namespace quorvane {

using namespace Qt::StringLiterals;
using Outcome = AgentUnitStatus::Outcome;

bool AgentUnitStateMapping::isMasked(const QString& unitFileState) {
    return unitFileState == "masked"_L1 || unitFileState == "masked-runtime"_L1;
}

bool AgentUnitStateMapping::isEnabled(const QString& unitFileState) {
    return unitFileState == "enabled"_L1 || unitFileState == "enabled-runtime"_L1;
}

AgentUnitStateMapping::Result AgentUnitStateMapping::map(const AgentUnitStatus& status,
                                                         const Registration& registration) {
    switch (status.outcome) {
        case Outcome::unknownUnit:
            return {registration.bundled ? AgentServiceState::stopped()
                                         : AgentServiceState::unavailable()};
        case Outcome::malformed:
            return {AgentServiceState::failed(AgentServiceMessages::unknownUnitState())};
        case Outcome::unreachable:
            return {
                AgentServiceState::failed(AgentServiceMessages::noServiceManager(status.failure))};
        case Outcome::read:
            break;
    }
    if (status.unitFileState == "masked-runtime"_L1) {
        return {AgentServiceState::failed(AgentServiceMessages::runtimeMask())};
    }
    if (isMasked(status.unitFileState)) {
        return {registration.maskOutOfReach
                    ? AgentServiceState::failed(AgentServiceMessages::persistentMask())
                    : AgentServiceState::requiresApproval()};
    }
    const bool agentRuns = status.activeState == "active"_L1 ||
                           status.activeState == "activating"_L1 ||
                           status.activeState == "reloading"_L1;
    if (!registration.launchRequested) {
        return {AgentServiceState::stopped(), isEnabled(status.unitFileState) || agentRuns};
    }
    if (status.activeState == "failed"_L1) {
        return {AgentServiceState::serviceError(AgentServiceMessages::agentFailed())};
    }
    if (status.subState == "auto-restart"_L1) {
        return {AgentServiceState::serviceError(AgentServiceMessages::agentRestarting())};
    }
    if (!isEnabled(status.unitFileState)) {
        return {AgentServiceState::stopped()};
    }
    if (!agentRuns && !status.hasJob) {
        return {AgentServiceState::serviceError(AgentServiceMessages::stoppedButEnabled())};
    }
    return {AgentServiceState::running()};
}

}  // namespace quorvane
