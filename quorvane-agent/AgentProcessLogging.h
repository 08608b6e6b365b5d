#pragma once

#include <QLoggingCategory>

namespace quorvane {

// The bundled agent's own diagnostics on standard error (the service's journal), for what its
// log cannot hold. Never given the token.
Q_DECLARE_LOGGING_CATEGORY(lcAgentProcess)

}  // namespace quorvane
