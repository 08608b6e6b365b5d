#pragma once

#include <QLoggingCategory>

namespace quorvane {

// The configuration file and its store. Never given the token or a line of the file.
Q_DECLARE_LOGGING_CATEGORY(lcConfig)

}  // namespace quorvane
