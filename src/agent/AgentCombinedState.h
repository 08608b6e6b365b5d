#pragma once

#include <QDateTime>
#include <optional>

#include "agent/AgentServiceState.h"
#include "agent/AgentStartupClock.h"
#include "monitor/AgentHealthReading.h"

namespace quorvane {

// What the registration, the GUI lease and the agent's health file settle; nothing while a
// registered agent has not confirmed itself. The health file is read only when it can matter:
// with the agent registered and the lease connected. A file last written before the current
// registration began is an earlier agent's and confirms nothing.
std::optional<AgentServiceState> settledAgentState(
    const AgentServiceState& registration, bool leaseConnected, const AgentHealthReading& health,
    const std::optional<QDateTime>& registrationBegan = std::nullopt);

// The state to show at `now`: a settled state ends the clock's wait, an unsettled one is the
// wait's state.
AgentServiceState combinedAgentState(const AgentServiceState& registration, bool leaseConnected,
                                     const AgentHealthReading& health,
                                     const std::optional<QDateTime>& registrationBegan,
                                     AgentStartupClock& clock, const QDateTime& now);

}  // namespace quorvane
