#pragma once

#include <QDateTime>
#include <QObject>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "agent/AgentGUILease.h"
#include "agent/AgentLogModel.h"
#include "agent/AgentServiceControlling.h"
#include "agent/AgentServiceState.h"
#include "agent/AgentStartupClock.h"
#include "monitor/AgentHealthReading.h"

namespace quorvane {

// The agent's registration as the panel drives it: the refresh cycle's state, switching on and
// off, the restart after a configuration change, the removal of an earlier panel's leftover
// registration and the stop at the panel's end. One operation at a time (isChangingState).
// Every report of the controller is handled on the main thread, never after this object is gone.
class AgentServiceSequence : public QObject {
    Q_OBJECT

public:
    struct Surroundings {
        std::function<QDateTime()> now;
        // Whether this panel owns the session's panel name; only such a panel may take a
        // registration it did not make for a leftover and stop it.
        std::function<bool()> ownsPanelName;
    };

    AgentServiceSequence(std::unique_ptr<AgentServiceControlling> controller,
                         std::unique_ptr<AgentGUILease> guiLease,
                         std::unique_ptr<AgentHealthReading> healthReader, AgentLogModel& log,
                         Surroundings surroundings, QObject* parent = nullptr);
    ~AgentServiceSequence() override;

    const AgentServiceState& state() const { return state_; }
    bool isChangingState() const { return isChangingState_; }
    // The registration as last read is this process's own.
    bool isRegistered() const;

    // One refresh cycle; a query still unanswered is not asked again.
    void refreshCycle();
    // Re-reads the registration; then() runs once it is read.
    void refreshRegistration(std::function<void()> then);
    void shutdown();
    void togglePower();
    // Restarts a running agent so that it reads the changed configuration.
    void applyConfigurationChange();
    // Lifts the user's mask of the agent's service; the agent stays off.
    void allowBackgroundStart();

    // The user's text for a failure of the service controller.
    static QString userFacingMessage(const std::exception_ptr& failure);

Q_SIGNALS:
    void stateChanged();
    void isChangingStateChanged();
    // The restart after a configuration change failed; the text is for the settings sheet.
    void restartFailed(const QString& message);

private:
    using ServiceTask = void (AgentServiceControlling::*)(AgentServiceControlling::Completion);
    using TaskHandler = void (AgentServiceSequence::*)(std::exception_ptr failure);
    // The handler runs at once when the controller completes synchronously.
    void runServiceTask(ServiceTask task, TaskHandler handler);
    void setState(AgentServiceState state);
    void setChangingState(bool changing);
    AgentServiceState operationalState(const AgentServiceState& registration);
    void publishRefreshedState();
    void removeLeftoverRegistrationOnce();
    void finishLeftoverRemoval(std::exception_ptr failure);
    void finishSwitchOn(std::exception_ptr failure);
    void finishStopAfterShutdown(std::exception_ptr failure);
    void finishPowerChange(std::exception_ptr failure);
    void publishPowerFailure(std::exception_ptr failure);
    void finishRestart(std::exception_ptr failure);
    // Also the handler of the stop that follows a restart finished after shutdown().
    void finishRestartFailure(std::exception_ptr failure);
    void finishAllowingBackgroundStart(std::exception_ptr failure);

    std::unique_ptr<AgentServiceControlling> controller_;
    std::unique_ptr<AgentGUILease> guiLease_;
    std::unique_ptr<AgentHealthReading> healthReader_;
    AgentLogModel& log_;
    Surroundings surroundings_;
    AgentStartupClock startupClock_;
    // When this panel last asked for the agent to be started: a health file older than that
    // is an earlier agent's.
    std::optional<QDateTime> registrationBegan_;
    AgentServiceState state_;
    bool isChangingState_ = false;
    bool isShuttingDown_ = false;
    bool isRefreshing_ = false;
    bool hasCheckedForLeftover_ = false;
};

}  // namespace quorvane
