#pragma once

#include <QString>

#include "agent/AgentServiceState.h"
#include "agent/AgentUnitStatus.h"

namespace quorvane {

// The state shown for what the manager reports of the agent's unit, given what this process
// did to the registration.
class AgentUnitStateMapping {
public:
    struct Registration {
        // This process asked for the registration and has not undone it since.
        bool launchRequested = false;
        // Lifting the mask left the unit masked: the mask is out of the panel's reach.
        bool maskOutOfReach = false;
        // The install prefix holds the agent and its unit template.
        bool bundled = true;
    };

    struct Result {
        AgentServiceState state;
        // Registered or running without this process having registered it.
        bool hasLeftoverRegistration = false;

        friend bool operator==(const Result&, const Result&) = default;
    };

    static Result map(const AgentUnitStatus& status, const Registration& registration);

    static bool isMasked(const QString& unitFileState);
    static bool isEnabled(const QString& unitFileState);
};

}  // namespace quorvane
