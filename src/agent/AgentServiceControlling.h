#pragma once

#include <exception>
#include <functional>

#include "agent/AgentServiceState.h"

namespace quorvane {

// The agent's registration as a per-user background service. Nothing but stopBeforeExit()
// waits for the service manager: the other operations return at once and report on the main
// thread, possibly before they return.
class AgentServiceControlling {
public:
    // nullptr on success, else the failure.
    using Completion = std::function<void(std::exception_ptr failure)>;

    virtual ~AgentServiceControlling() = default;

    virtual AgentServiceState state() const = 0;
    // Re-reads the registration and the agent's run state; done() runs once state() holds them.
    virtual void refresh(std::function<void()> done) = 0;
    // Registers anew, first unregistering an existing registration.
    virtual void start(Completion completion) = 0;
    // Stops the agent and unregisters it.
    virtual void stop(Completion completion) = 0;
    // Stops and unregisters the agent this process may have started, within a bounded time;
    // for the panel's exit, when no event loop is left to report to. Failures are ignored.
    virtual void stopBeforeExit() = 0;
    // Lifts the user's mask of the unit, leaving the agent off.
    virtual void allowBackgroundStart(Completion completion) = 0;
    // The last refresh found the agent registered or running without this process having
    // registered it: a leftover of an earlier panel.
    virtual bool hasLeftoverRegistration() const = 0;
};

}  // namespace quorvane
