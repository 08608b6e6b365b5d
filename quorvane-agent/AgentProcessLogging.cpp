#include "AgentProcessLogging.h"

namespace quorvane {

Q_LOGGING_CATEGORY(lcAgentProcess, "quorvane.agentprocess")

}  // namespace quorvane
