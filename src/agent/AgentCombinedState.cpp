#include "agent/AgentCombinedState.h"

namespace quorvane {

using namespace Qt::StringLiterals;

std::optional<AgentServiceState> settledAgentState(const AgentServiceState& registration,
                                                   bool leaseConnected,
                                                   const AgentHealthReading& health) {
    if (registration.kind() != AgentServiceState::Kind::running) {
        return registration;
    }
    if (!leaseConnected) {
        return std::nullopt;
    }
    const std::optional<AgentHealthSnapshot> snapshot = health.readSnapshot();
    if (!snapshot) {
        return std::nullopt;
    }
    if (snapshot->status == u"running"_s) {
        return AgentServiceState::running();
    }
    if (snapshot->status == u"needs_configuration"_s) {
        return AgentServiceState::needsConfiguration(snapshot->message);
    }
    if (snapshot->status == u"error"_s) {
        return AgentServiceState::serviceError(
            snapshot->message.value_or(u"Фоновая служба завершилась с ошибкой"_s));
    }
    return std::nullopt;  // "starting", "stopped" and anything unknown
}

AgentServiceState combinedAgentState(const AgentServiceState& registration, bool leaseConnected,
                                     const AgentHealthReading& health, AgentStartupClock& clock,
                                     const QDateTime& now) {
    if (std::optional<AgentServiceState> settled =
            settledAgentState(registration, leaseConnected, health)) {
        clock.reset();
        return *std::move(settled);
    }
    return clock.waiting(now);
}

}  // namespace quorvane
