#pragma once

#include <QStringList>
#include <optional>

#include "monitor/AgentLogStamp.h"

namespace quorvane {

class AgentLogReading {
public:
    virtual ~AgentLogReading() = default;

    // The newest max(limit, 1) non-empty lines, oldest first; empty when nothing is readable.
    virtual QStringList readRecentLines(int limit) const = 0;
    // The file's size and modification time, without reading it; nothing when it is missing.
    virtual std::optional<AgentLogStamp> stamp() const = 0;
};

}  // namespace quorvane
