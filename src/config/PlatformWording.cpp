#include "config/PlatformWording.h"

namespace quorvane {

using namespace Qt::StringLiterals;

PlatformWording PlatformWording::current() {
#ifdef Q_OS_MACOS
    return PlatformWording(Platform::macOS);
#else
    return PlatformWording(Platform::linuxDesktop);
#endif
}

QString PlatformWording::headerSubtitle() const {
    return isMac() ? u"Агент для macOS"_s : u"Агент для Linux"_s;
}

QString PlatformWording::headerBadge() const {
    return isMac() ? u"macOS 13+"_s : u"Linux · systemd"_s;
}

QString PlatformWording::workspaceUserPrefix() const {
    return isMac() ? u"Пользователь macOS: "_s : u"Пользователь: "_s;
}

QString PlatformWording::tokenAccessNeededLine() const {
    return isMac() ? u"Токен: нужен доступ к Связке ключей"_s
                   : u"Токен: нужен доступ к хранилищу паролей"_s;
}

QString PlatformWording::updateNote() const {
    return isMac() ? u"В beta обновление вручную: завершите Quorvane и замените приложение новой "
                     u"версией. Настройки сохранятся."_s
                   : u"В beta обновление вручную: завершите Quorvane и установите новый пакет. "
                     u"Настройки сохранятся."_s;
}

QString PlatformWording::tokenStored() const {
    return isMac() ? u"Токен сохранён в Связке ключей macOS."_s
                   : u"Токен сохранён в хранилище паролей."_s;
}

QString PlatformWording::savedTokenProtection() const {
    return isMac() ? u"Защищён Связкой ключей macOS. Повторно вводить не нужно."_s
                   : u"Защищён хранилищем паролей. Повторно вводить не нужно."_s;
}

QString PlatformWording::tokenAccessHint() const {
    return isMac() ? u"Это не означает, что токен удалён. Запрос macOS откроется только по кнопке "
                     u"ниже. При отказе повторных окон не будет."_s
                   : u"Это не означает, что токен удалён. Запрос на разблокировку откроется только "
                     u"по кнопке ниже. При отказе повторных окон не будет."_s;
}

QString PlatformWording::authorizingToken() const {
    return isMac() ? u"Ожидание ответа macOS…"_s : u"Ожидание ответа хранилища паролей…"_s;
}

QString PlatformWording::tokenStorageError(std::int32_t status) const {
    const QString code = QString::number(status);
    return isMac() ? u"Не удалось открыть защищённый токен в Связке ключей macOS (код "_s + code +
                         u"). Разблокируйте Связку ключей и разрешите доступ Quorvane."_s
                   : u"Не удалось открыть защищённый токен в хранилище паролей (код "_s + code +
                         u"). Разблокируйте хранилище паролей и разрешите доступ Quorvane."_s;
}

QString PlatformWording::workspaceIntroduction() const {
    return isMac() ? u"Это отдельная настройка: какие папки Mac доступны через кабинет. Работает "
                     u"от текущего пользователя macOS; пароль учётной записи для выбора папки не "
                     u"нужен."_s
                   : u"Это отдельная настройка: какие папки этого компьютера доступны через "
                     u"кабинет. Работает от текущего пользователя; пароль учётной записи для "
                     u"выбора папки не нужен."_s;
}

QString PlatformWording::workspaceSaveAdvice() const {
    const QString checks =
        u"Включите агент перед сохранением. После сохранения фоновая служба проверит чтение, а "
        u"при разрешённой записи — создаст и удалит временный проверочный файл. "_s;
    return checks +
           (isMac() ? u"Подтвердите запрос macOS сейчас, затем проверьте"_s
                    : u"Затем проверьте"_s) +
           u" доступ в кабинете перед приглашением участников."_s;
}

QString PlatformWording::savedFoldersTitle() const {
    return isMac() ? u"Сохранено на этом Mac"_s : u"Сохранено на этом компьютере"_s;
}

QString PlatformWording::saveRefusedWhileOff() const {
    return u"Сначала включите агент и дождитесь подключения. Это нужно, чтобы служба сразу "_s +
           (isMac() ? u"запросила разрешения macOS при сохранении папки."_s
                    : u"проверила доступ к папке при сохранении."_s);
}

QString PlatformWording::folderSaved() const {
    return (isMac() ? u"Папка сохранена. При включённом агенте служба проверит доступ: подтвердите "
                      u"запрос macOS, если он появится."_s
                    : u"Папка сохранена. При включённом агенте служба проверит доступ."_s) +
           u" Если агент выключен — включите его сейчас. Перед приглашением участников откройте "
           u"папку в кабинете."_s;
}

QString PlatformWording::workspaceAccessDenied() const {
    return isMac() ? u"Нет доступа к папке в выбранном режиме. Проверьте права папки и разрешения "
                     u"Quorvane в настройках macOS."_s
                   : u"Нет доступа к папке в выбранном режиме. Проверьте права на папку."_s;
}

QString PlatformWording::unknownUnitState() const {
    return isMac() ? u"macOS вернула неизвестное состояние фоновой службы"_s
                   : u"systemd вернул неизвестное состояние фоновой службы"_s;
}

// The macOS application cannot lose its service manager; it would see an unknown state.
QString PlatformWording::noServiceManager(const QString& busMessage) const {
    return isMac() ? unknownUnitState() : u"Нет связи с systemd пользователя: "_s + busMessage;
}

QString PlatformWording::unitFileNotWritten(const QString& unitPath, const QString& reason) const {
    return isMac() ? u"macOS не смогла обновить расположение Quorvane. Переместите приложение в "
                     u"«Программы» и откройте снова."_s
                   : u"Не удалось записать службу агента "_s + unitPath + u": "_s + reason;
}

QString PlatformWording::changeRefused(const QString& managerMessage) const {
    return isMac() ? u"macOS не разрешила изменить фоновый запуск. Проверьте системные настройки."_s
                   : u"systemd не разрешил изменить фоновый запуск: "_s + managerMessage;
}

QString PlatformWording::startTimedOut() const {
    return u"Служба не запустилась. Выключите и включите агент. Если ошибка повторится, "_s +
           (isMac()
                ? u"откройте Quorvane из папки «Программы» и проверьте разрешение фоновой "
                  u"работы в настройках macOS."_s
                : u"посмотрите журнал службы: journalctl --user -u ru.quorvane.agent.service"_s);
}

QString PlatformWording::blockedServiceDetail() const {
    return isMac() ? u"Разрешите Quorvane в разделе «Объекты входа» системных настроек"_s
                   : u"Фоновый запуск Quorvane запрещён: служба замаскирована в systemd"_s;
}

QString PlatformWording::blockedServiceButton() const {
    return isMac() ? u"Открыть системные настройки"_s : u"Разрешить фоновый запуск"_s;
}

}  // namespace quorvane
