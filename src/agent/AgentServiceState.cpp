#include "agent/AgentServiceState.h"

#include <QMetaEnum>
#include <utility>

namespace quorvane {

AgentServiceState::AgentServiceState(Kind kind, std::optional<QString> message)
    : kind_(kind), message_(std::move(message)) {}

AgentServiceState AgentServiceState::needsConfiguration(std::optional<QString> message) {
    return {Kind::needsConfiguration, std::move(message)};
}

AgentServiceState AgentServiceState::serviceError(QString message) {
    return {Kind::serviceError, std::move(message)};
}

AgentServiceState AgentServiceState::failed(QString message) {
    return {Kind::failed, std::move(message)};
}

AgentServiceState AgentServiceState::stopped() {
    return {Kind::stopped, std::nullopt};
}

AgentServiceState AgentServiceState::starting() {
    return {Kind::starting, std::nullopt};
}

AgentServiceState AgentServiceState::running() {
    return {Kind::running, std::nullopt};
}

AgentServiceState AgentServiceState::requiresApproval() {
    return {Kind::requiresApproval, std::nullopt};
}

AgentServiceState AgentServiceState::unavailable() {
    return {Kind::unavailable, std::nullopt};
}

QString AgentServiceState::kindName() const {
    return QString::fromLatin1(QMetaEnum::fromType<Kind>().valueToKey(int(kind_)));
}

QString AgentServiceState::title() const {
    switch (kind_) {
        case Kind::needsConfiguration:
            return QStringLiteral("Нужна настройка");
        case Kind::serviceError:
        case Kind::failed:
            return QStringLiteral("Ошибка");
        case Kind::stopped:
            return QStringLiteral("Выключен");
        case Kind::starting:
            return QStringLiteral("Подключается");
        case Kind::running:
            return QStringLiteral("Включён");
        case Kind::requiresApproval:
            return QStringLiteral("Требуется разрешение");
        case Kind::unavailable:
            return QStringLiteral("Служба недоступна");
    }
    Q_UNREACHABLE();
    return {};
}

bool AgentServiceState::isSwitchedOn() const {
    switch (kind_) {
        case Kind::needsConfiguration:
        case Kind::serviceError:
        case Kind::starting:
        case Kind::running:
        case Kind::requiresApproval:
            return true;
        case Kind::failed:
        case Kind::stopped:
        case Kind::unavailable:
            return false;
    }
    Q_UNREACHABLE();
    return false;
}

}  // namespace quorvane

#include "moc_AgentServiceState.cpp"
