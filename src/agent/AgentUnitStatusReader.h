#pragma once

#include <functional>

#include "agent/AgentUnitStatus.h"
#include "agent/SystemdUserManager.h"

namespace quorvane {

// Reads the agent unit's file state and run state from the manager, without waiting.
class AgentUnitStatusReader {
public:
    using StatusHandler = std::function<void(const AgentUnitStatus& status)>;

    explicit AgentUnitStatusReader(SystemdUserManager& systemd) : systemd_(systemd) {}

    // done() runs from the event loop with what the manager reported.
    void read(StatusHandler done);

private:
    void readRunState(AgentUnitStatus status, StatusHandler done);
    void readExitStatus(const QDBusObjectPath& unit, AgentUnitStatus status, StatusHandler done);

    SystemdUserManager& systemd_;
};

}  // namespace quorvane
