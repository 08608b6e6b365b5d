#pragma once

#include "monitor/AgentHealthReading.h"

namespace quorvane::testing {

// The agent's health as the test states it; nothing means no usable health file.
class FakeHealthReader final : public AgentHealthReading {
public:
    explicit FakeHealthReader(std::optional<AgentHealthSnapshot> reported = std::nullopt)
        : snapshot(std::move(reported)) {}
    std::optional<AgentHealthSnapshot> readSnapshot() const override { return snapshot; }
    std::optional<AgentHealthSnapshot> snapshot;
};

}  // namespace quorvane::testing
