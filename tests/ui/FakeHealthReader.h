#pragma once

#include "monitor/AgentHealthReading.h"

namespace quorvane::testing {

// The agent's health as the test states it; nothing means no usable health file.
class FakeHealthReader final : public AgentHealthReading {
public:
    explicit FakeHealthReader(std::optional<AgentHealthSnapshot> snapshot)
        : snapshot_(std::move(snapshot)) {}

    std::optional<AgentHealthSnapshot> readSnapshot() const override { return snapshot_; }

private:
    std::optional<AgentHealthSnapshot> snapshot_;
};

}  // namespace quorvane::testing
