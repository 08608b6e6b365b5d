#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <functional>

#include "agent/AgentServiceControlling.h"

class QDBusError;

namespace quorvane {

// Registers the agent as the systemd user unit ru.quorvane.agent.service over D-Bus. Every
// call is asynchronous and bounded by callTimeoutMs; only stopBeforeExit() blocks.
class AgentServiceController final : public AgentServiceControlling {
public:
    static constexpr int defaultCallTimeoutMs = 2000;

    // installPrefix: where bin/, libexec/quorvane/ and lib/systemd/user/ of the panel lie.
    // userUnitDirectory: where the user unit is written ($XDG_DATA_HOME/systemd/user by
    // default, so that the user's masks in ~/.config/systemd/user stay possible).
    // bus: the user's session bus; when it is lost, a later refresh connects anew.
    AgentServiceController(QString installPrefix,
                           QDBusConnection bus = QDBusConnection::sessionBus(),
                           QString userUnitDirectory = defaultUserUnitDirectory(),
                           int callTimeoutMs = defaultCallTimeoutMs);
    ~AgentServiceController() override;

    static QString defaultUserUnitDirectory();
    // True when the prefix holds an executable agent and the unit template.
    static bool hasBundledService(const QString& installPrefix);

    AgentServiceState state() const override { return state_; }
    void refresh(std::function<void()> done) override;
    void start(Completion completion) override;
    void stop(Completion completion) override;
    void stopBeforeExit() override;
    void allowBackgroundStart(Completion completion) override;
    bool hasLeftoverRegistration() const override { return hasLeftoverRegistration_; }

private:
    using ReplyHandler = std::function<void(const QDBusMessage& reply)>;
    using ErrorHandler = std::function<void(const QDBusError& error)>;

    struct UnitReading;

    // Calls the manager (or another object of systemd) without waiting; one of the handlers
    // runs on the answer, unless the controller is gone or the call was dropped by a
    // later operation.
    void call(const QString& path, const QString& interface, const QString& method,
              const QVariantList& arguments, ReplyHandler onReply, ErrorHandler onError);
    void callManager(const QString& method, const QVariantList& arguments, ReplyHandler onReply,
                     ErrorHandler onError);
    // The manager's answer or the failure as an AgentServiceError.
    void callManager(const QString& method, const QVariantList& arguments,
                     std::function<void()> onReply, Completion onFailure);
    void readUnit(std::function<void(const UnitReading&)> done);
    void readRunState(UnitReading reading, std::function<void(const UnitReading&)> done);
    AgentServiceState stateFrom(const UnitReading& reading);
    void unregisterThenRegister(Completion completion);
    void registerAnew(Completion completion);
    void startRegistered(Completion completion);
    // Takes the unit out of autostart; next() runs once the manager has done so.
    void disableUnit(std::function<void()> next, Completion onFailure);
    void refreshThenComplete(Completion completion);
    void confirmUnmasked(Completion completion);
    // Connects to the session bus anew once the connection in use is lost.
    void reconnectIfLost();

    QString installPrefix_;
    QDBusConnection bus_;
    // True once bus_ is a connection this controller opened after the first one was lost.
    bool ownsBus_ = false;
    int reconnections_ = 0;
    QString userUnitDirectory_;
    int callTimeoutMs_;
    // True from this process's request to register the agent until its unregistration
    // succeeded, so a request the manager carried out late is not taken for a leftover.
    bool launchRequested_ = false;
    bool hasLeftoverRegistration_ = false;
    // Set when lifting the mask left the unit masked: the mask lies where this panel cannot
    // change it.
    bool maskOutOfReach_ = false;
    // Raised by every change of the registration, so a reading begun before it is not applied.
    quint64 generation_ = 0;
    AgentServiceState state_ = AgentServiceState::stopped();
    // Parent and context of the pending calls: their answers are dropped, not delivered to a
    // destroyed controller or to an operation stopBeforeExit() cut short.
    QObject pendingCalls_;
};

}  // namespace quorvane
