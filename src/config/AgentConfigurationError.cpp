#include "config/AgentConfigurationError.h"

#include "config/PlatformWording.h"

namespace quorvane {

namespace {

QString messageFor(AgentConfigurationError::Kind kind, const QString& detail) {
    using Kind = AgentConfigurationError::Kind;
    switch (kind) {
        case Kind::malformedConfiguration:
            return QStringLiteral("Некорректная конфигурация: ") + detail;
        case Kind::invalidToken:
            return QStringLiteral("Введите корректный токен устройства Quorvane.");
        case Kind::invalidWorkspaceID:
            return QStringLiteral("UUID папки не соответствует формату из кабинета Quorvane.");
        case Kind::invalidWorkspacePath:
            return QStringLiteral("Выберите существующую абсолютную папку.");
        case Kind::rootTooBroad:
            return QStringLiteral(
                "Нельзя предоставить Workspace доступ ко всему диску или домашней папке.");
        case Kind::workspaceAccessDenied:
            return PlatformWording::current().workspaceAccessDenied();
        case Kind::unsafeConfigurationFile:
            return QStringLiteral("Файл конфигурации не должен быть символической ссылкой.");
        case Kind::configurationTooLarge:
            return QStringLiteral("Файл конфигурации превышает допустимый размер.");
    }
    Q_UNREACHABLE();
}

}  // namespace

AgentConfigurationError::AgentConfigurationError(Kind kind, const QString& detail)
    : QuorvaneError(messageFor(kind, detail)), kind_(kind), detail_(detail) {}

AgentConfigurationError AgentConfigurationError::malformedConfiguration(const QString& detail) {
    return {Kind::malformedConfiguration, detail};
}

AgentConfigurationError AgentConfigurationError::invalidToken() {
    return {Kind::invalidToken, QString()};
}

AgentConfigurationError AgentConfigurationError::invalidWorkspaceID() {
    return {Kind::invalidWorkspaceID, QString()};
}

AgentConfigurationError AgentConfigurationError::invalidWorkspacePath() {
    return {Kind::invalidWorkspacePath, QString()};
}

AgentConfigurationError AgentConfigurationError::rootTooBroad() {
    return {Kind::rootTooBroad, QString()};
}

AgentConfigurationError AgentConfigurationError::workspaceAccessDenied() {
    return {Kind::workspaceAccessDenied, QString()};
}

AgentConfigurationError AgentConfigurationError::unsafeConfigurationFile() {
    return {Kind::unsafeConfigurationFile, QString()};
}

AgentConfigurationError AgentConfigurationError::configurationTooLarge() {
    return {Kind::configurationTooLarge, QString()};
}

}  // namespace quorvane
