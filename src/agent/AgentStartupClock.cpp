#include "agent/AgentStartupClock.h"

#include "config/PlatformWording.h"

namespace quorvane {

AgentServiceState AgentStartupClock::waiting(const QDateTime& now) {
    // A clock set back would otherwise hold off the time-out for as long as it was set back.
    if (!beganAt_ || *beganAt_ > now) {
        beganAt_ = now;
    }
    const double elapsedSeconds = static_cast<double>(beganAt_->msecsTo(now)) / 1000.0;
    if (elapsedSeconds < limitSeconds) {
        return AgentServiceState::starting();
    }
    return AgentServiceState::serviceError(PlatformWording::current().startTimedOut());
}

}  // namespace quorvane
