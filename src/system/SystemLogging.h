#pragma once

#include <QLoggingCategory>

namespace quorvane {

// Files and descriptors: what the layer notices but does not fail on.
Q_DECLARE_LOGGING_CATEGORY(lcSystem)

}  // namespace quorvane
