#include "config/AgentConfigurationError.h"

#include "config/PlatformWording.h"

namespace quorvane {

namespace {

QString unsafeFileMessage(AgentConfigurationError::UnsafeFile found) {
    using UnsafeFile = AgentConfigurationError::UnsafeFile;
    switch (found) {
        case UnsafeFile::symbolicLink:
            return QStringLiteral("Файл конфигурации не должен быть символической ссылкой.");
        case UnsafeFile::danglingLink:
            return QStringLiteral(
                "Файл конфигурации — символическая ссылка на несуществующий файл. Удалите её.");
        case UnsafeFile::folder:
            return QStringLiteral(
                "Вместо файла конфигурации находится папка. Переименуйте или удалите её.");
        case UnsafeFile::fifo:
            return QStringLiteral(
                "Вместо файла конфигурации находится именованный канал (FIFO). Удалите его.");
        case UnsafeFile::socket:
            return QStringLiteral("Вместо файла конфигурации находится сокет. Удалите его.");
        case UnsafeFile::device:
            return QStringLiteral(
                "Вместо файла конфигурации находится файл устройства. Удалите его.");
        case UnsafeFile::otherFile:
            return QStringLiteral("Файл конфигурации должен быть обычным файлом.");
    }
    Q_UNREACHABLE();
}

QString messageFor(AgentConfigurationError::Kind kind, const QString& detail,
                   AgentConfigurationError::UnsafeFile unsafeFile) {
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
            return unsafeFileMessage(unsafeFile);
        case Kind::configurationTooLarge:
            return QStringLiteral("Файл конфигурации превышает допустимый размер.");
        case Kind::configurationChangedDuringSave:
            return QStringLiteral(
                "Файл конфигурации всё время изменяется другой программой. Изменение не "
                "сохранено; повторите его позже.");
    }
    Q_UNREACHABLE();
}

}  // namespace

AgentConfigurationError::AgentConfigurationError(Kind kind, const QString& detail,
                                                 UnsafeFile unsafeFile)
    : QuorvaneError(messageFor(kind, detail, unsafeFile)),
      kind_(kind),
      detail_(detail),
      unsafeFile_(unsafeFile) {}

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

AgentConfigurationError AgentConfigurationError::unsafeConfigurationFile(UnsafeFile found) {
    return {Kind::unsafeConfigurationFile, QString(), found};
}

AgentConfigurationError AgentConfigurationError::configurationTooLarge() {
    return {Kind::configurationTooLarge, QString()};
}

AgentConfigurationError AgentConfigurationError::configurationChangedDuringSave() {
    return {Kind::configurationChangedDuringSave, QString()};
}

}  // namespace quorvane
