#include "config/AgentTokenStorageError.h"

#include "config/PlatformWording.h"

namespace quorvane {

namespace {

QString messageFor(std::int32_t status, AgentTokenStorageError::Cause cause) {
    const QString code = QString::number(status);
    if (cause == AgentTokenStorageError::Cause::clientConfirmationRequired) {
        return QStringLiteral(
                   "Хранилище паролей открыто, но выдаёт токен только программам, "
                   "доступ которых подтверждён вручную (код ") +
               code +
               QStringLiteral(
                   "). Агент Quorvane не может подтвердить доступ сам: в KeePassXC "
                   "отключите «Confirm when passwords are retrieved by clients» в "
                   "настройках интеграции Secret Service.");
    }
    if (status == AgentTokenStorageError::noCollection) {
        return QStringLiteral(
                   "Не удалось сохранить защищённый токен: в хранилище паролей нет "
                   "связки ключей по умолчанию (код ") +
               code +
               QStringLiteral("). Создайте связку ключей (в KWallet — бумажник) и повторите.");
    }
    return PlatformWording::current().tokenStorageError(status);
}

}  // namespace

AgentTokenStorageError::AgentTokenStorageError(std::int32_t status, Cause cause)
    : QuorvaneError(messageFor(status, cause)), status_(status), cause_(cause) {}

}  // namespace quorvane
