#pragma once

#include <QStringList>

namespace quorvane {

class AgentLogReading {
public:
    virtual ~AgentLogReading() = default;

    // The newest max(limit, 1) non-empty lines, oldest first; empty when nothing is readable.
    virtual QStringList readRecentLines(int limit) const = 0;
};

}  // namespace quorvane
