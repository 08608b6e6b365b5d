#pragma once

#include <QLoggingCategory>

namespace quorvane {

// The readers of the agent's health file and log: what they set aside.
Q_DECLARE_LOGGING_CATEGORY(lcMonitor)

}  // namespace quorvane
