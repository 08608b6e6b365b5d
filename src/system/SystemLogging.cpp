#include "system/SystemLogging.h"

namespace quorvane {

Q_LOGGING_CATEGORY(lcSystem, "quorvane.system")

}  // namespace quorvane
