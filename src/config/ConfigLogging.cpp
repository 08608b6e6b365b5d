#include "config/ConfigLogging.h"

namespace quorvane {

Q_LOGGING_CATEGORY(lcConfig, "quorvane.config")

}  // namespace quorvane
