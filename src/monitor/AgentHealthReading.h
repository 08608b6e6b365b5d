#pragma once

#include <optional>

#include "monitor/AgentHealthSnapshot.h"

namespace quorvane {

class AgentHealthReading {
public:
    virtual ~AgentHealthReading() = default;

    // Nothing when the file is missing, unreadable or not a valid snapshot; never throws.
    virtual std::optional<AgentHealthSnapshot> readSnapshot() const = 0;
};

}  // namespace quorvane
