#pragma once

#include <QStringList>
#include <exception>
#include <utility>
#include <vector>

#include "agent/AgentServiceControlling.h"

namespace quorvane::testing {

// A registration that stays where the test puts it. refresh() finds `registration` at once or
// at finishRefresh(); start() completes at once or at finishStart(). Records what the panel
// asks of it in `changes`: "start", "disable", "unmask".
class FakeServiceController final : public AgentServiceControlling {
public:
    explicit FakeServiceController(AgentServiceState initial)
        : registration(initial), state_(std::move(initial)) {}

    AgentServiceState state() const override { return state_; }
    bool hasLeftoverRegistration() const override { return leftover; }
    int changeCount(const QString& change) const { return int(changes.count(change)); }

    void refresh(std::function<void()> done) override {
        ++refreshCount;
        pendingRefreshes_.push_back(std::move(done));
        if (refreshCompletesAtOnce) {
            finishRefresh();
        }
    }
    void finishRefresh() {
        for (const auto& done : std::exchange(pendingRefreshes_, {})) {
            state_ = registration;
            done();
        }
    }

    void start(Completion completion) override {
        changes << QStringLiteral("start");
        if (startThrows) {
            std::rethrow_exception(startFailure);
        }
        pending_ = std::move(completion);
        if (startCompletesAtOnce) {
            finishStart();
        }
    }
    // Completes the pending start with `startFailure`; without one the agent now runs.
    void finishStart() {
        if (!startFailure) {
            registration = state_ = AgentServiceState::running();
        }
        std::exchange(pending_, nullptr)(startFailure);
    }

    void stop(Completion completion) override {
        leftover = leftover && stopFailure;
        change(QStringLiteral("disable"), stopFailure, completion);
    }
    void stopBeforeExit() override {
        if (registration.isSwitchedOn()) {
            changes << QStringLiteral("disable");
        }
    }
    void allowBackgroundStart(Completion completion) override {
        change(QStringLiteral("unmask"), unmaskFailure, completion);
    }

    AgentServiceState registration;
    std::exception_ptr stopFailure, startFailure, unmaskFailure;
    bool startCompletesAtOnce = true, refreshCompletesAtOnce = true, startThrows = false;
    bool leftover = false;
    QStringList changes;
    int refreshCount = 0;

private:
    void change(const QString& name, std::exception_ptr failure, const Completion& completion) {
        changes << name;
        if (!failure) {
            registration = AgentServiceState::stopped();
        }
        state_ = registration;
        completion(failure);
    }

    AgentServiceState state_;
    Completion pending_;
    std::vector<std::function<void()>> pendingRefreshes_;
};

}  // namespace quorvane::testing
