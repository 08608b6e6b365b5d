#include "config/AgentTokenStorageError.h"

#include "config/PlatformWording.h"

namespace quorvane {

AgentTokenStorageError::AgentTokenStorageError(std::int32_t status)
    : QuorvaneError(PlatformWording::current().tokenStorageError(status)), status_(status) {}

}  // namespace quorvane
