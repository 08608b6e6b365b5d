#include "keychain/KeychainLogging.h"

namespace quorvane {

Q_LOGGING_CATEGORY(lcKeychain, "quorvane.keychain")

}  // namespace quorvane
