#include "agent/AgentServiceError.h"

namespace quorvane {

AgentServiceError::AgentServiceError(Kind kind, const QString& description, int code)
    : QuorvaneError(description), kind_(kind), code_(code) {}

}  // namespace quorvane
