#pragma once

#include <QStringList>
#include <exception>
#include <memory>
#include <utility>

#include "agent/AgentServiceControlling.h"

namespace quorvane::testing {

// A registration that stays where the test puts it: refresh() finds `registration`; start()
// completes at once or when the test calls finishStart(). Records what the panel asks of it.
class FakeServiceController final : public AgentServiceControlling {
public:
    explicit FakeServiceController(AgentServiceState initial)
        : registration(initial), state_(std::move(initial)) {}

    AgentServiceState state() const override { return state_; }

    void refresh() override {
        ++refreshCount;
        state_ = registration;
    }

    void setEnabled(bool enabled) override {
        changes << (enabled ? QStringLiteral("enable") : QStringLiteral("disable"));
        if (setEnabledFailure) {
            std::rethrow_exception(setEnabledFailure);
        }
        registration = enabled ? AgentServiceState::running() : AgentServiceState::stopped();
        state_ = registration;
    }

    void start(StartCompletion completion) override {
        changes << QStringLiteral("start");
        if (startThrows) {
            std::rethrow_exception(startFailure);
        }
        *lastCompletion = completion;
        pending_ = std::move(completion);
        if (startCompletesAtOnce) {
            finishStart();
        }
    }

    bool isStartPending() const { return static_cast<bool>(pending_); }

    // Completes the pending start with `startFailure`; without one the agent now runs.
    void finishStart() {
        const StartCompletion completion = std::exchange(pending_, nullptr);
        if (!startFailure) {
            registration = AgentServiceState::running();
            state_ = registration;
        }
        completion(startFailure);
    }

    // How often the panel asked for this change: "start", "enable" or "disable".
    int changeCount(const QString& change) const { return int(changes.count(change)); }

    AgentServiceState registration;
    std::exception_ptr setEnabledFailure;
    std::exception_ptr startFailure;
    bool startCompletesAtOnce = true;
    bool startThrows = false;
    // "start", "enable", "disable", in the order asked.
    QStringList changes;
    int refreshCount = 0;
    // Shared with the test, so a completion can be called after the controller is gone.
    std::shared_ptr<StartCompletion> lastCompletion = std::make_shared<StartCompletion>();

private:
    AgentServiceState state_;
    StartCompletion pending_;
};

}  // namespace quorvane::testing
