#include "monitor/MonitorLogging.h"

namespace quorvane {

Q_LOGGING_CATEGORY(lcMonitor, "quorvane.monitor")

}  // namespace quorvane
