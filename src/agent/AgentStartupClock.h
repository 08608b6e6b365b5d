#pragma once

#include <QDateTime>
#include <optional>

#include "agent/AgentServiceState.h"

namespace quorvane {

// The wait for a registered agent to confirm itself: `starting` for the first 20 seconds of the
// wait, then the time-out error until the wait ends.
class AgentStartupClock {
public:
    static constexpr double limitSeconds = 20.0;

    // The state at `now` of the wait, which begins at the first call after a reset.
    AgentServiceState waiting(const QDateTime& now);
    void reset() { beganAt_.reset(); }

private:
    std::optional<QDateTime> beganAt_;
};

}  // namespace quorvane
