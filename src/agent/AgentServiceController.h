#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <functional>

#include "agent/AgentServiceControlling.h"

namespace quorvane {

// Registers the agent as the systemd user unit ru.quorvane.agent.service over D-Bus.
// Every synchronous bus call is bounded by callTimeoutMs, so a hung bus cannot freeze the
// window; an unanswered status query shows as failed.
class AgentServiceController final : public AgentServiceControlling {
public:
    static constexpr int defaultCallTimeoutMs = 2000;

    // installPrefix: where bin/, libexec/quorvane/ and lib/systemd/user/ of the panel lie.
    // userUnitDirectory: where the user unit is written (~/.config/systemd/user by default).
    AgentServiceController(QString installPrefix,
                           QDBusConnection bus = QDBusConnection::sessionBus(),
                           QString userUnitDirectory = defaultUserUnitDirectory(),
                           int callTimeoutMs = defaultCallTimeoutMs);

    static QString defaultUserUnitDirectory();
    // True when the prefix holds an executable agent and the unit template.
    static bool hasBundledService(const QString& installPrefix);

    AgentServiceState state() const override { return state_; }
    void refresh() override;
    void setEnabled(bool enabled) override;
    void start(StartCompletion completion) override;

private:
    enum class RegistrationStatus { notRegistered, enabled, requiresApproval, notFound, unknown };

    RegistrationStatus readStatus() const;
    QDBusMessage sendToManager(const QString& method, const QVariantList& arguments) const;
    // Throws AgentServiceError unless the manager answers with a reply.
    void callManager(const QString& method, const QVariantList& arguments) const;
    void writeUserUnit() const;
    void registerUnit() const;
    void registerAnew(const StartCompletion& completion);
    void unregisterThenRegister(StartCompletion completion);
    // Calls the manager without waiting; next() runs on the answer, completion on an error.
    void whenAnswered(const QString& method, const QVariantList& arguments,
                      std::function<void()> next, StartCompletion completion);

    QString installPrefix_;
    QDBusConnection bus_;
    QString userUnitDirectory_;
    int callTimeoutMs_;
    bool launchRequested_ = false;
    AgentServiceState state_ = AgentServiceState::stopped();
    // Parent and context of the pending unregistration: its answer is dropped, not
    // delivered to a destroyed controller.
    QObject pendingCalls_;
};

}  // namespace quorvane
