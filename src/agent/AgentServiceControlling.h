#pragma once

#include <exception>
#include <functional>

#include "agent/AgentServiceState.h"

namespace quorvane {

// The agent's registration as a per-user background service.
class AgentServiceControlling {
public:
    // Called on the main thread when start() ends: nullptr on success, else the failure.
    using StartCompletion = std::function<void(std::exception_ptr failure)>;

    virtual ~AgentServiceControlling() = default;

    virtual AgentServiceState state() const = 0;
    // Re-reads the registration status and updates state().
    virtual void refresh() = 0;
    // Registers (true) or unregisters (false) synchronously; throws AgentServiceError.
    virtual void setEnabled(bool enabled) = 0;
    // Registers anew, first unregistering an existing registration without blocking the
    // caller. The completion may run before start() returns or later, from the event loop.
    virtual void start(StartCompletion completion) = 0;
};

}  // namespace quorvane
