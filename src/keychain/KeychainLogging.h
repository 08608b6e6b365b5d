#pragma once

#include <QLoggingCategory>

namespace quorvane {

// The Secret Service: failed calls and retries. Never given the token.
Q_DECLARE_LOGGING_CATEGORY(lcKeychain)

}  // namespace quorvane
