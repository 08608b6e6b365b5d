// The sentences that name the operating system: the macOS build keeps the original wording
// word for word, and the Linux build names what a Linux desktop has.
#include <QTest>
#include <functional>

#include "config/PlatformWording.h"

using namespace quorvane;
using namespace Qt::StringLiterals;

using Sentence = std::function<QString(const PlatformWording&)>;
Q_DECLARE_METATYPE(Sentence)

class TestPlatformWording : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bothWordings_data() {
        QTest::addColumn<Sentence>("sentence");
        QTest::addColumn<QString>("macOS");
        QTest::addColumn<QString>("linuxDesktop");
        const auto row = [](const char* name, Sentence sentence, const QString& macOS,
                            const QString& linuxDesktop) {
            QTest::newRow(name) << sentence << macOS << linuxDesktop;
        };
        row("header subtitle", &PlatformWording::headerSubtitle, u"Агент для macOS"_s,
            u"Агент для Linux"_s);
        row("header badge", &PlatformWording::headerBadge, u"macOS 13+"_s, u"Linux · systemd"_s);
        row("user line", &PlatformWording::workspaceUserPrefix, u"Пользователь macOS: "_s,
            u"Пользователь: "_s);
        row("token stored", &PlatformWording::tokenStored,
            u"Токен сохранён в Связке ключей macOS."_s, u"Токен сохранён в хранилище паролей."_s);
        row("saved-token card", &PlatformWording::savedTokenProtection,
            u"Защищён Связкой ключей macOS. Повторно вводить не нужно."_s,
            u"Защищён хранилищем паролей. Повторно вводить не нужно."_s);
        row("token line", &PlatformWording::tokenAccessNeededLine,
            u"Токен: нужен доступ к Связке ключей"_s, u"Токен: нужен доступ к хранилищу паролей"_s);
        row("access hint", &PlatformWording::tokenAccessHint,
            u"Это не означает, что токен удалён. Запрос macOS откроется только по кнопке ниже. При "
            u"отказе повторных окон не будет."_s,
            u"Это не означает, что токен удалён. Запрос на разблокировку откроется только по "
            u"кнопке "
            u"ниже. При отказе повторных окон не будет."_s);
        row("authorising", &PlatformWording::authorizingToken, u"Ожидание ответа macOS…"_s,
            u"Ожидание ответа хранилища паролей…"_s);
        row(
            "storage error", [](const PlatformWording& w) { return w.tokenStorageError(-25308); },
            u"Не удалось открыть защищённый токен в Связке ключей macOS (код -25308). "
            u"Разблокируйте "
            u"Связку ключей и разрешите доступ Quorvane."_s,
            u"Не удалось открыть защищённый токен в хранилище паролей (код -25308). Разблокируйте "
            u"хранилище паролей и разрешите доступ Quorvane."_s);
        row("workspace introduction", &PlatformWording::workspaceIntroduction,
            u"Это отдельная настройка: какие папки Mac доступны через кабинет. Работает от "
            u"текущего "
            u"пользователя macOS; пароль учётной записи для выбора папки не нужен."_s,
            u"Это отдельная настройка: какие папки этого компьютера доступны через кабинет. "
            u"Работает от текущего пользователя; пароль учётной записи для выбора папки не нужен."_s);
        row("workspace advice", &PlatformWording::workspaceSaveAdvice,
            u"Включите агент перед сохранением. После сохранения фоновая служба проверит чтение, а "
            u"при разрешённой записи — создаст и удалит временный проверочный файл. Подтвердите "
            u"запрос macOS сейчас, затем проверьте доступ в кабинете перед приглашением участников."_s,
            u"Включите агент перед сохранением. После сохранения фоновая служба проверит чтение, а "
            u"при разрешённой записи — создаст и удалит временный проверочный файл. Затем "
            u"проверьте "
            u"доступ в кабинете перед приглашением участников."_s);
        row("saved folders", &PlatformWording::savedFoldersTitle, u"Сохранено на этом Mac"_s,
            u"Сохранено на этом компьютере"_s);
        row("save refused", &PlatformWording::saveRefusedWhileOff,
            u"Сначала включите агент и дождитесь подключения. Это нужно, чтобы служба сразу "
            u"запросила разрешения macOS при сохранении папки."_s,
            u"Сначала включите агент и дождитесь подключения. Это нужно, чтобы служба сразу "
            u"проверила доступ к папке при сохранении."_s);
        row("folder saved", &PlatformWording::folderSaved,
            u"Папка сохранена. При включённом агенте служба проверит доступ: подтвердите запрос "
            u"macOS, если он появится. Если агент выключен — включите его сейчас. Перед "
            u"приглашением участников откройте папку в кабинете."_s,
            u"Папка сохранена. При включённом агенте служба проверит доступ. Если агент выключен — "
            u"включите его сейчас. Перед приглашением участников откройте папку в кабинете."_s);
        row("access denied", &PlatformWording::workspaceAccessDenied,
            u"Нет доступа к папке в выбранном режиме. Проверьте права папки и разрешения Quorvane "
            u"в настройках macOS."_s,
            u"Нет доступа к папке в выбранном режиме. Проверьте права на папку."_s);
        row("unknown state", &PlatformWording::unknownUnitState,
            u"macOS вернула неизвестное состояние фоновой службы"_s,
            u"systemd вернул неизвестное состояние фоновой службы"_s);
        row(
            "no manager", [](const PlatformWording& w) { return w.noServiceManager(u"gone"_s); },
            u"macOS вернула неизвестное состояние фоновой службы"_s,
            u"Нет связи с systemd пользователя: gone"_s);
        row(
            "unit file",
            [](const PlatformWording& w) { return w.unitFileNotWritten(u"/u"_s, u"why"_s); },
            u"macOS не смогла обновить расположение Quorvane. Переместите приложение в «Программы» "
            u"и откройте снова."_s,
            u"Не удалось записать службу агента /u: why"_s);
        row(
            "refused", [](const PlatformWording& w) { return w.changeRefused(u"no"_s); },
            u"macOS не разрешила изменить фоновый запуск. Проверьте системные настройки."_s,
            u"systemd не разрешил изменить фоновый запуск: no"_s);
        row("start time-out", &PlatformWording::startTimedOut,
            u"Служба не запустилась. Выключите и включите агент. Если ошибка повторится, откройте "
            u"Quorvane из папки «Программы» и проверьте разрешение фоновой работы в настройках "
            u"macOS."_s,
            u"Служба не запустилась. Выключите и включите агент. Если ошибка повторится, "
            u"посмотрите "
            u"журнал службы: journalctl --user -u ru.quorvane.agent.service"_s);
        row("blocked detail", &PlatformWording::blockedServiceDetail,
            u"Разрешите Quorvane в разделе «Объекты входа» системных настроек"_s,
            u"Фоновый запуск Quorvane запрещён: служба замаскирована в systemd"_s);
        row("blocked button", &PlatformWording::blockedServiceButton,
            u"Открыть системные настройки"_s, u"Разрешить фоновый запуск"_s);
        row("update note", &PlatformWording::updateNote,
            u"В beta обновление вручную: завершите Quorvane и замените приложение новой версией. "
            u"Настройки сохранятся."_s,
            u"В beta обновление вручную: завершите Quorvane и установите новый пакет. Настройки "
            u"сохранятся."_s);
    }

    void bothWordings() {
        QFETCH(Sentence, sentence);
        QFETCH(QString, macOS);
        QFETCH(QString, linuxDesktop);
        QCOMPARE(sentence(PlatformWording(PlatformWording::Platform::macOS)), macOS);
        QCOMPARE(sentence(PlatformWording(PlatformWording::Platform::linuxDesktop)), linuxDesktop);
    }

    void thisBuildSpeaksLinux() {
        QCOMPARE(PlatformWording::current().headerSubtitle(), u"Агент для Linux"_s);
    }
};

QTEST_APPLESS_MAIN(TestPlatformWording)
#include "tst_PlatformWording.moc"
