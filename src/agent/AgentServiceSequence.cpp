#include "agent/AgentServiceSequence.h"

#include <QPointer>

#include "agent/AgentCombinedState.h"
#include "agent/AgentFailure.h"
#include "agent/Published.h"
#include "config/PlatformWording.h"

namespace quorvane {

using namespace Qt::StringLiterals;

namespace {

bool isRunning(const AgentServiceState& state) {
    return state.kind() == AgentServiceState::Kind::running;
}

}  // namespace

AgentServiceSequence::AgentServiceSequence(std::unique_ptr<AgentServiceControlling> controller,
                                           std::unique_ptr<AgentGUILease> guiLease,
                                           std::unique_ptr<AgentHealthReading> healthReader,
                                           AgentLogModel& log, Surroundings surroundings,
                                           QObject* parent)
    : QObject(parent),
      controller_(std::move(controller)),
      guiLease_(std::move(guiLease)),
      healthReader_(std::move(healthReader)),
      log_(log),
      surroundings_(std::move(surroundings)),
      state_(controller_->state()) {}

AgentServiceSequence::~AgentServiceSequence() = default;

bool AgentServiceSequence::isRegistered() const {
    return isRunning(controller_->state());
}

void AgentServiceSequence::setState(AgentServiceState state) {
    publish(this, state_, std::move(state), &AgentServiceSequence::stateChanged);
}

void AgentServiceSequence::setChangingState(bool changing) {
    publish(this, isChangingState_, changing, &AgentServiceSequence::isChangingStateChanged);
}

// Refresh cycle.

void AgentServiceSequence::refreshCycle() {
    // A manager that does not answer must not pile up queries, one per tick.
    if (isRefreshing_) {
        return;
    }
    isRefreshing_ = true;
    refreshRegistration([this] {
        isRefreshing_ = false;
        publishRefreshedState();
        removeLeftoverRegistrationOnce();
    });
}

void AgentServiceSequence::refreshRegistration(std::function<void()> then) {
    controller_->refresh([self = QPointer(this), then = std::move(then)] {
        if (self) {
            then();
        }
    });
}

AgentServiceState AgentServiceSequence::operationalState(const AgentServiceState& registration) {
    return combinedAgentState(registration, guiLease_->isConnected(), *healthReader_,
                              registrationBegan_, startupClock_, surroundings_.now());
}

void AgentServiceSequence::publishRefreshedState() {
    const AgentServiceState registration = controller_->state();
    guiLease_->update(isRunning(registration));
    setState(operationalState(registration));
}

void AgentServiceSequence::removeLeftoverRegistrationOnce() {
    if (hasCheckedForLeftover_ || isShuttingDown_ ||
        controller_->state().kind() == AgentServiceState::Kind::failed) {
        return;
    }
    hasCheckedForLeftover_ = true;
    if (!controller_->hasLeftoverRegistration() || isChangingState_ ||
        !surroundings_.ownsPanelName()) {
        return;
    }
    // With one panel per session, a registration this panel did not make was left by a
    // panel that ended without stopping its agent.
    setChangingState(true);
    runServiceTask(&AgentServiceControlling::stop, &AgentServiceSequence::finishLeftoverRemoval);
}

void AgentServiceSequence::finishLeftoverRemoval(std::exception_ptr failure) {
    if (failure) {
        log_.append(u"Не удалось остановить агент, оставшийся от прошлого запуска панели: "_s +
                    userFacingMessage(failure));
    } else {
        log_.append(
            u"Агент, оставшийся от прошлого запуска панели, остановлен и убран из "_s
            u"автозапуска"_s);
    }
    publishRefreshedState();
    setChangingState(false);
}

void AgentServiceSequence::shutdown() {
    if (isShuttingDown_) {
        return;
    }
    isShuttingDown_ = true;
    guiLease_->update(false);
    // The process may end right after this returns, so the agent is stopped before, within a
    // bounded wait; nobody is left to show a failure to.
    controller_->stopBeforeExit();
}

// Power.

void AgentServiceSequence::togglePower() {
    if (isChangingState_) {
        return;
    }
    setChangingState(true);
    if (state_.isSwitchedOn()) {
        runServiceTask(&AgentServiceControlling::stop, &AgentServiceSequence::finishPowerChange);
    } else {
        registrationBegan_ = surroundings_.now();
        runServiceTask(&AgentServiceControlling::start, &AgentServiceSequence::finishSwitchOn);
    }
}

void AgentServiceSequence::runServiceTask(ServiceTask task, TaskHandler handler) {
    auto completion = [self = QPointer(this), handler](std::exception_ptr failure) {
        if (self) {
            (self.data()->*handler)(std::move(failure));
        }
    };
    try {
        (controller_.get()->*task)(completion);
    } catch (...) {
        completion(std::current_exception());
    }
}

void AgentServiceSequence::finishSwitchOn(std::exception_ptr failure) {
    if (failure || !isShuttingDown_) {
        finishPowerChange(std::move(failure));
        return;
    }
    // The panel closed while the agent was starting: it must not outlive the panel.
    runServiceTask(&AgentServiceControlling::stop, &AgentServiceSequence::finishStopAfterShutdown);
}

void AgentServiceSequence::finishStopAfterShutdown(std::exception_ptr failure) {
    if (failure) {
        publishPowerFailure(failure);
    }
    setChangingState(false);
}

void AgentServiceSequence::finishPowerChange(std::exception_ptr failure) {
    if (!failure) {
        publishRefreshedState();
        log_.append(u"Состояние службы: "_s + state_.title().toLower());
        setChangingState(false);
        return;
    }
    // The manager may have carried out part of the change, or all of it after a time-out:
    // what is shown next is what it reports now, with the failure where nothing runs.
    const QString message = userFacingMessage(failure);
    log_.append(u"Не удалось изменить состояние службы: "_s + message);
    refreshRegistration([this, message] {
        const AgentServiceState registration = controller_->state();
        guiLease_->update(isRunning(registration));
        setState(registration.kind() == AgentServiceState::Kind::stopped
                     ? AgentServiceState::failed(message)
                     : operationalState(registration));
        setChangingState(false);
    });
}

void AgentServiceSequence::publishPowerFailure(std::exception_ptr failure) {
    const QString message = userFacingMessage(failure);
    setState(AgentServiceState::failed(message));
    log_.append(u"Не удалось изменить состояние службы: "_s + message);
}

QString AgentServiceSequence::userFacingMessage(const std::exception_ptr& failure) {
    if (isServiceRefusal(failure)) {
        return PlatformWording::current().changeRefused(failureDescription(failure));
    }
    return u"Не удалось изменить фоновый запуск: "_s + failureDescription(failure);
}

// Restart after a configuration change.

void AgentServiceSequence::applyConfigurationChange() {
    refreshRegistration([this] {
        if (!isRegistered() || isChangingState_) {
            return;
        }
        setChangingState(true);
        guiLease_->update(false);
        registrationBegan_ = surroundings_.now();
        runServiceTask(&AgentServiceControlling::start, &AgentServiceSequence::finishRestart);
    });
}

void AgentServiceSequence::finishRestart(std::exception_ptr failure) {
    if (!failure && isShuttingDown_) {
        runServiceTask(&AgentServiceControlling::stop, &AgentServiceSequence::finishRestartFailure);
        return;
    }
    if (!failure) {
        publishRefreshedState();
        setChangingState(false);
        return;
    }
    finishRestartFailure(std::move(failure));
}

void AgentServiceSequence::finishRestartFailure(std::exception_ptr failure) {
    if (failure) {
        publishRefreshedState();
        Q_EMIT restartFailed(
            u"Настройки сохранены, но перезапуск не удался. Выключите и включите агент."_s);
        log_.append(u"Не удалось применить настройки: "_s + userFacingMessage(failure));
    }
    setChangingState(false);
}

// Unmasking.

void AgentServiceSequence::allowBackgroundStart() {
    if (isChangingState_) {
        return;
    }
    setChangingState(true);
    runServiceTask(&AgentServiceControlling::allowBackgroundStart,
                   &AgentServiceSequence::finishAllowingBackgroundStart);
}

void AgentServiceSequence::finishAllowingBackgroundStart(std::exception_ptr failure) {
    if (failure) {
        log_.append(u"Не удалось разрешить фоновый запуск: "_s + failureDescription(failure));
    } else {
        log_.append(u"Фоновый запуск разрешён: маска службы в systemd снята"_s);
    }
    publishRefreshedState();
    setChangingState(false);
}

}  // namespace quorvane
