#pragma once

#include <utility>

#include "agent/AgentServiceControlling.h"

namespace quorvane::testing {

// A registration that stays where the test puts it and counts what the panel asks of it.
class FakeServiceController final : public AgentServiceControlling {
public:
    explicit FakeServiceController(AgentServiceState state) : state_(std::move(state)) {}

    AgentServiceState state() const override { return state_; }
    void setState(AgentServiceState state) { state_ = std::move(state); }

    void refresh() override { ++refreshCount; }

    void setEnabled(bool enabled) override {
        ++(enabled ? enableCount : disableCount);
        state_ = enabled ? AgentServiceState::running() : AgentServiceState::stopped();
    }

    // Completes at once unless holdsStart; a held start stays pending, so the panel stays busy.
    void start(StartCompletion completion) override {
        ++startCount;
        if (holdsStart) {
            pendingStart = std::move(completion);
            return;
        }
        state_ = AgentServiceState::running();
        completion(nullptr);
    }

    bool holdsStart = false;
    StartCompletion pendingStart;
    int refreshCount = 0;
    int enableCount = 0;
    int disableCount = 0;
    int startCount = 0;

private:
    AgentServiceState state_;
};

}  // namespace quorvane::testing
