// The sentences of the macOS build: the Keychain, login items and System Settings.
#include "config/PlatformWording.h"

namespace quorvane {

using namespace Qt::StringLiterals;

QString PlatformWording::headerSubtitle() const {
    return u"Агент для macOS"_s;
}

QString PlatformWording::headerBadge() const {
    return u"macOS 13+"_s;
}

QString PlatformWording::workspaceUserPrefix() const {
    return u"Пользователь macOS: "_s;
}

QString PlatformWording::tokenAccessNeededLine() const {
    return u"Токен: нужен доступ к Связке ключей"_s;
}

QString PlatformWording::updateNote() const {
    return u"В beta обновление вручную: завершите Quorvane и замените приложение новой версией. "
           u"Настройки сохранятся."_s;
}

QString PlatformWording::tokenStored() const {
    return u"Токен сохранён в Связке ключей macOS."_s;
}

QString PlatformWording::savedTokenProtection() const {
    return u"Защищён Связкой ключей macOS. Повторно вводить не нужно."_s;
}

QString PlatformWording::tokenAccessHint() const {
    return u"Это не означает, что токен удалён. Запрос macOS откроется только по кнопке ниже. При "
           u"отказе повторных окон не будет."_s;
}

QString PlatformWording::authorizingToken() const {
    return u"Ожидание ответа macOS…"_s;
}

QString PlatformWording::tokenStorageError(std::int32_t status) const {
    return u"Не удалось открыть защищённый токен в Связке ключей macOS (код "_s +
           QString::number(status) +
           u"). Разблокируйте Связку ключей и разрешите доступ Quorvane."_s;
}

QString PlatformWording::workspaceIntroduction() const {
    return u"Это отдельная настройка: какие папки Mac доступны через кабинет. Работает от "
           u"текущего пользователя macOS; пароль учётной записи для выбора папки не нужен."_s;
}

QString PlatformWording::workspaceSaveAdvice() const {
    return u"Включите агент перед сохранением. После сохранения фоновая служба проверит чтение, а "
           u"при разрешённой записи — создаст и удалит временный проверочный файл. Подтвердите "
           u"запрос macOS сейчас, затем проверьте доступ в кабинете перед приглашением "
           u"участников."_s;
}

QString PlatformWording::savedFoldersTitle() const {
    return u"Сохранено на этом Mac"_s;
}

QString PlatformWording::saveRefusedWhileOff() const {
    return u"Сначала включите агент и дождитесь подключения. Это нужно, чтобы служба сразу "
           u"запросила разрешения macOS при сохранении папки."_s;
}

QString PlatformWording::folderSaved() const {
    return u"Папка сохранена. При включённом агенте служба проверит доступ: подтвердите запрос "
           u"macOS, если он появится. Если агент выключен — включите его сейчас. Перед "
           u"приглашением участников откройте папку в кабинете."_s;
}

QString PlatformWording::workspaceAccessDenied() const {
    return u"Нет доступа к папке в выбранном режиме. Проверьте права папки и разрешения Quorvane "
           u"в настройках macOS."_s;
}

QString PlatformWording::unknownUnitState() const {
    return u"macOS вернула неизвестное состояние фоновой службы"_s;
}

// The service manager is part of the system and cannot be lost; it would see an unknown state.
QString PlatformWording::noServiceManager(const QString&) const {
    return unknownUnitState();
}

QString PlatformWording::unitFileNotWritten(const QString&, const QString&) const {
    return u"macOS не смогла обновить расположение Quorvane. Переместите приложение в "
           u"«Программы» и откройте снова."_s;
}

QString PlatformWording::changeRefused(const QString&) const {
    return u"macOS не разрешила изменить фоновый запуск. Проверьте системные настройки."_s;
}

QString PlatformWording::startTimedOut() const {
    return u"Служба не запустилась. Выключите и включите агент. Если ошибка повторится, откройте "
           u"Quorvane из папки «Программы» и проверьте разрешение фоновой работы в настройках "
           u"macOS."_s;
}

QString PlatformWording::blockedServiceDetail() const {
    return u"Разрешите Quorvane в разделе «Объекты входа» системных настроек"_s;
}

QString PlatformWording::blockedServiceButton() const {
    return u"Открыть системные настройки"_s;
}

}  // namespace quorvane
