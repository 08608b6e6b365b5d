// The sentences of the Linux desktop build: the password store (Secret Service) and systemd.
#include "config/PlatformWording.h"

namespace quorvane {

using namespace Qt::StringLiterals;

QString PlatformWording::headerSubtitle() const {
    return u"Агент для Linux"_s;
}

QString PlatformWording::headerBadge() const {
    return u"Linux · systemd"_s;
}

QString PlatformWording::workspaceUserPrefix() const {
    return u"Пользователь: "_s;
}

QString PlatformWording::tokenAccessNeededLine() const {
    return u"Токен: нужен доступ к хранилищу паролей"_s;
}

QString PlatformWording::updateNote() const {
    return u"В beta обновление вручную: завершите Quorvane и установите новый пакет. Настройки "
           u"сохранятся."_s;
}

QString PlatformWording::tokenStored() const {
    return u"Токен сохранён в хранилище паролей."_s;
}

QString PlatformWording::savedTokenProtection() const {
    return u"Защищён хранилищем паролей. Повторно вводить не нужно."_s;
}

QString PlatformWording::tokenAccessHint() const {
    return u"Это не означает, что токен удалён. Запрос на разблокировку откроется только по "
           u"кнопке ниже. При отказе повторных окон не будет."_s;
}

QString PlatformWording::authorizingToken() const {
    return u"Ожидание ответа хранилища паролей…"_s;
}

QString PlatformWording::tokenStorageError(std::int32_t status) const {
    return u"Не удалось открыть защищённый токен в хранилище паролей (код "_s +
           QString::number(status) +
           u"). Разблокируйте хранилище паролей и разрешите доступ Quorvane."_s;
}

QString PlatformWording::workspaceIntroduction() const {
    return u"Это отдельная настройка: какие папки этого компьютера доступны через кабинет. "
           u"Работает от текущего пользователя; пароль учётной записи для выбора папки не "
           u"нужен."_s;
}

QString PlatformWording::workspaceSaveAdvice() const {
    return u"Включите агент перед сохранением. После сохранения фоновая служба проверит чтение, а "
           u"при разрешённой записи — создаст и удалит временный проверочный файл. Затем "
           u"проверьте доступ в кабинете перед приглашением участников."_s;
}

QString PlatformWording::savedFoldersTitle() const {
    return u"Сохранено на этом компьютере"_s;
}

QString PlatformWording::saveRefusedWhileOff() const {
    return u"Сначала включите агент и дождитесь подключения. Это нужно, чтобы служба сразу "
           u"проверила доступ к папке при сохранении."_s;
}

QString PlatformWording::folderSaved() const {
    return u"Папка сохранена. При включённом агенте служба проверит доступ. Если агент выключен — "
           u"включите его сейчас. Перед приглашением участников откройте папку в кабинете."_s;
}

QString PlatformWording::workspaceAccessDenied() const {
    return u"Нет доступа к папке в выбранном режиме. Проверьте права на папку."_s;
}

QString PlatformWording::unknownUnitState() const {
    return u"systemd вернул неизвестное состояние фоновой службы"_s;
}

QString PlatformWording::noServiceManager(const QString& busMessage) const {
    return u"Нет связи с systemd пользователя: "_s + busMessage;
}

QString PlatformWording::unitFileNotWritten(const QString& unitPath, const QString& reason) const {
    return u"Не удалось записать службу агента "_s + unitPath + u": "_s + reason;
}

QString PlatformWording::changeRefused(const QString& managerMessage) const {
    return u"systemd не разрешил изменить фоновый запуск: "_s + managerMessage;
}

QString PlatformWording::startTimedOut() const {
    return u"Служба не запустилась. Выключите и включите агент. Если ошибка повторится, "
           u"посмотрите журнал службы: journalctl --user -u ru.quorvane.agent.service"_s;
}

QString PlatformWording::blockedServiceDetail() const {
    return u"Фоновый запуск Quorvane запрещён: служба замаскирована в systemd"_s;
}

QString PlatformWording::blockedServiceButton() const {
    return u"Разрешить фоновый запуск"_s;
}

}  // namespace quorvane
