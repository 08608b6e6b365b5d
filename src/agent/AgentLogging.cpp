#include "agent/AgentLogging.h"

Q_LOGGING_CATEGORY(agentLog, "quorvane.agent")
