#include "config/AgentTokenStorageError.h"

namespace quorvane {

namespace {

QString messageFor(std::int32_t status) {
    return QStringLiteral("Не удалось открыть защищённый токен в Связке ключей macOS (код ") +
           QString::number(status) +
           QStringLiteral("). Разблокируйте Связку ключей и разрешите доступ Quorvane.");
}

}  // namespace

AgentTokenStorageError::AgentTokenStorageError(std::int32_t status)
    : QuorvaneError(messageFor(status)), status_(status) {}

}  // namespace quorvane
