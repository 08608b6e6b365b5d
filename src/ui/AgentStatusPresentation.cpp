#include "ui/AgentStatusPresentation.h"

#include "config/PlatformWording.h"
#include "ui/SystemColors.h"

namespace quorvane {

using Kind = AgentServiceState::Kind;

void AgentStatusPresentation::setServiceState(const AgentServiceState& state) {
    if (state == serviceState_) {
        return;
    }
    serviceState_ = state;
    Q_EMIT serviceStateChanged();
    Q_EMIT detailChanged();
}

void AgentStatusPresentation::setHasSavedToken(bool hasSavedToken) {
    if (hasSavedToken == hasSavedToken_) {
        return;
    }
    hasSavedToken_ = hasSavedToken;
    Q_EMIT hasSavedTokenChanged();
    Q_EMIT detailChanged();
}

QString AgentStatusPresentation::pillTitle() const {
    return serviceState_.title();
}

QString AgentStatusPresentation::detail() const {
    switch (serviceState_.kind()) {
        case Kind::needsConfiguration:
            return missingConfiguration();
        case Kind::serviceError:
        case Kind::failed:
            return serviceState_.message().value_or(QString());
        case Kind::stopped:
            return QStringLiteral("Агент не запускается в фоне");
        case Kind::starting:
            return QStringLiteral("Фоновая служба запускается");
        case Kind::running:
            return QStringLiteral("Агент работает · состояние соединения — в журнале");
        case Kind::requiresApproval:
            return PlatformWording::current().blockedServiceDetail();
        case Kind::unavailable:
            return QStringLiteral("В комплекте приложения не найден фоновый компонент");
    }
    Q_UNREACHABLE();
    return {};
}

// Without a token that is what is missing; with one, the agent knows best what else is, and
// a folder is the only other thing it can lack.
QString AgentStatusPresentation::missingConfiguration() const {
    if (!hasSavedToken_) {
        return QStringLiteral(
            "Откройте настройку подключения и вставьте токен устройства из кабинета Quorvane.");
    }
    const QString agentMessage = serviceState_.message().value_or(QString());
    return agentMessage.isEmpty()
               ? QStringLiteral("Откройте настройку подключения и добавьте папку Workspace.")
               : agentMessage;
}

QColor AgentStatusPresentation::statusColor() const {
    switch (serviceState_.kind()) {
        case Kind::needsConfiguration:
        case Kind::starting:
        case Kind::requiresApproval:
            return SystemColors::orange();
        case Kind::serviceError:
        case Kind::failed:
        case Kind::unavailable:
            return SystemColors::red();
        case Kind::stopped:
            return SystemColors::secondaryLabel();
        case Kind::running:
            return SystemColors::green();
    }
    Q_UNREACHABLE();
    return {};
}

bool AgentStatusPresentation::isOn() const {
    return serviceState_.isSwitchedOn();
}

bool AgentStatusPresentation::allowsPowerChange() const {
    return serviceState_.kind() != Kind::unavailable;
}

AgentStatusPresentation::ExtraButton AgentStatusPresentation::extraButton() const {
    switch (serviceState_.kind()) {
        case Kind::needsConfiguration:
            return ExtraButton::ConfigureConnection;
        case Kind::requiresApproval:
            return ExtraButton::AllowBackgroundStart;
        default:
            return ExtraButton::NoExtraButton;
    }
}

}  // namespace quorvane
