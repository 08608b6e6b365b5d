#pragma once

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <functional>

#include "agent/AgentServiceControlling.h"
#include "agent/AgentUnitConfinement.h"
#include "agent/AgentUnitFile.h"
#include "agent/AgentUnitStatus.h"
#include "agent/AgentUnitStatusReader.h"
#include "agent/SystemdUserManager.h"
#include "config/WorkspaceRootConfiguration.h"

class QDBusError;

namespace quorvane {

// Registers the agent as the systemd user unit ru.quorvane.agent.service over D-Bus, confined
// to its folders where the user's systemd can sandbox it. Every call is asynchronous and
// bounded by callTimeoutMs; only stopBeforeExit() blocks.
class AgentServiceController final : public AgentServiceControlling {
public:
    static constexpr int defaultCallTimeoutMs = 2000;
    // The folder bindings the agent is given, read afresh at every start.
    using WorkspaceRootsProvider = std::function<QList<WorkspaceRootConfiguration>()>;

    // installPrefix: where bin/, libexec/quorvane/ and lib/systemd/user/ of the panel lie.
    // userUnitDirectory: where the user unit is written ($XDG_DATA_HOME/systemd/user by
    // default, so that the user's masks in ~/.config/systemd/user stay possible).
    // bus: the user's session bus; when it is lost, a later refresh connects anew.
    // workspaceRoots: the bound folders, which the agent's sandbox lets it reach; none without.
    AgentServiceController(QString installPrefix,
                           QDBusConnection bus = QDBusConnection::sessionBus(),
                           QString userUnitDirectory = defaultUserUnitDirectory(),
                           int callTimeoutMs = defaultCallTimeoutMs,
                           WorkspaceRootsProvider workspaceRoots = {});

    static QString defaultUserUnitDirectory();
    // True when the prefix holds an executable agent and the unit template.
    static bool hasBundledService(const QString& installPrefix) {
        return AgentUnitFile::isBundled(installPrefix);
    }

    AgentServiceState state() const override { return state_; }
    void refresh(std::function<void()> done) override;
    void start(Completion completion) override;
    void stop(Completion completion) override;
    void stopBeforeExit() override;
    void allowBackgroundStart(Completion completion) override;
    bool hasLeftoverRegistration() const override { return hasLeftoverRegistration_; }

private:
    // The manager's answer, or its failure as an AgentServiceError.
    void callManager(const QDBusPendingCall& call, std::function<void()> onReply,
                     Completion onFailure);
    bool refusedTheSandbox(const AgentUnitStatus& status) const;
    void runUnconfined(int exitStatus);
    void unregisterThenRegister(Completion completion);
    void registerAnew(Completion completion);
    void startRegistered(Completion completion);
    // Takes the unit out of autostart; next() runs once the manager has done so.
    void disableUnit(std::function<void()> next, Completion onFailure);
    void refreshThenComplete(Completion completion);
    void confirmUnmasked(Completion completion);

    QString installPrefix_;
    WorkspaceRootsProvider workspaceRoots_;
    AgentUnitFile unitFile_;
    SystemdUserManager systemd_;
    AgentUnitStatusReader statusReader_;
    // True from this process's request to register the agent until its unregistration
    // succeeded, so a request the manager carried out late is not taken for a leftover.
    bool launchRequested_ = false;
    bool hasLeftoverRegistration_ = false;
    // Set when lifting the mask left the unit masked: the mask lies where this panel cannot
    // change it.
    bool maskOutOfReach_ = false;
    // The unit last written holds the sandbox; once systemd could not set it up, the agent
    // runs unconfined for the rest of this process.
    bool unitConfined_ = false;
    bool sandboxRefused_ = false;
    // Raised by every change of the registration, so a reading begun before it is not applied.
    quint64 generation_ = 0;
    AgentServiceState state_ = AgentServiceState::stopped();
};

}  // namespace quorvane
