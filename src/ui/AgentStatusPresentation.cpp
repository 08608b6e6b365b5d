#include "ui/AgentStatusPresentation.h"

#include "ui/SystemColors.h"

namespace quorvane {

using Kind = AgentServiceState::Kind;

void AgentStatusPresentation::setServiceState(const AgentServiceState& state) {
    if (state == serviceState_) {
        return;
    }
    serviceState_ = state;
    Q_EMIT serviceStateChanged();
}

QString AgentStatusPresentation::pillTitle() const {
    return serviceState_.title();
}

QString AgentStatusPresentation::detail() const {
    switch (serviceState_.kind()) {
        case Kind::needsConfiguration:
            // The agent's own wording is not shown here: the fix is always the same.
            return QStringLiteral(
                "Откройте настройку подключения и вставьте токен устройства из кабинета Quorvane.");
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
            return QStringLiteral(
                "Фоновый запуск Quorvane запрещён: служба замаскирована в systemd");
        case Kind::unavailable:
            return QStringLiteral("В комплекте приложения не найден фоновый компонент");
    }
    Q_UNREACHABLE();
    return {};
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
