#pragma once

#include <QLoggingCategory>

// The agent layer's messages ("quorvane.agent"); they never carry the device token.
Q_DECLARE_LOGGING_CATEGORY(agentLog)
