// The sentences a user reads: both wordings of those that name the operating system (the
// macOS build keeps the original word for word, the Linux build names what a Linux desktop
// has), and the failures of the configuration file and of the system, in Russian.
#include <QTest>
#include <functional>

#include "config/AgentConfigurationError.h"
#include "config/PlatformWording.h"
#include "system/PosixError.h"

using namespace quorvane;
using namespace Qt::StringLiterals;

using Sentence = std::function<QString(const PlatformWording&)>;
Q_DECLARE_METATYPE(Sentence)

class TestUserMessages : public QObject {
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
            u"Это не означает, что токен удалён. Запрос macOS откроется только по кнопке ниже. "
            u"При отказе повторных окон не будет."_s,
            u"Это не означает, что токен удалён. Запрос на разблокировку откроется только по "
            u"кнопке ниже. При отказе повторных окон не будет."_s);
        row("authorising", &PlatformWording::authorizingToken, u"Ожидание ответа macOS…"_s,
            u"Ожидание ответа хранилища паролей…"_s);
        row(
            "storage error", [](const PlatformWording& w) { return w.tokenStorageError(-25308); },
            u"Не удалось открыть защищённый токен в Связке ключей macOS (код -25308). "
            u"Разблокируйте Связку ключей и разрешите доступ Quorvane."_s,
            u"Не удалось открыть защищённый токен в хранилище паролей (код -25308). "
            u"Разблокируйте хранилище паролей и разрешите доступ Quorvane."_s);
        row("workspace introduction", &PlatformWording::workspaceIntroduction,
            u"Это отдельная настройка: какие папки Mac доступны через кабинет. Работает от "
            u"текущего пользователя macOS; пароль учётной записи для выбора папки не нужен."_s,
            u"Это отдельная настройка: какие папки этого компьютера доступны через кабинет. "
            u"Работает от текущего пользователя; пароль учётной записи для выбора папки не "
            u"нужен."_s);
        row("workspace advice", &PlatformWording::workspaceSaveAdvice,
            u"Включите агент перед сохранением. После сохранения фоновая служба проверит "
            u"чтение, а при разрешённой записи — создаст и удалит временный проверочный файл. "
            u"Подтвердите запрос macOS сейчас, затем проверьте доступ в кабинете перед "
            u"приглашением участников."_s,
            u"Включите агент перед сохранением. После сохранения фоновая служба проверит "
            u"чтение, а при разрешённой записи — создаст и удалит временный проверочный файл. "
            u"Затем проверьте доступ в кабинете перед приглашением участников."_s);
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
            u"Папка сохранена. При включённом агенте служба проверит доступ. Если агент "
            u"выключен — включите его сейчас. Перед приглашением участников откройте папку в "
            u"кабинете."_s);
        row("access denied", &PlatformWording::workspaceAccessDenied,
            u"Нет доступа к папке в выбранном режиме. Проверьте права папки и разрешения "
            u"Quorvane в настройках macOS."_s,
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
            u"macOS не смогла обновить расположение Quorvane. Переместите приложение в "
            u"«Программы» и откройте снова."_s,
            u"Не удалось записать службу агента /u: why"_s);
        row(
            "refused", [](const PlatformWording& w) { return w.changeRefused(u"no"_s); },
            u"macOS не разрешила изменить фоновый запуск. Проверьте системные настройки."_s,
            u"systemd не разрешил изменить фоновый запуск: no"_s);
        row("start time-out", &PlatformWording::startTimedOut,
            u"Служба не запустилась. Выключите и включите агент. Если ошибка повторится, "
            u"откройте Quorvane из папки «Программы» и проверьте разрешение фоновой работы в "
            u"настройках macOS."_s,
            u"Служба не запустилась. Выключите и включите агент. Если ошибка повторится, "
            u"посмотрите журнал службы: journalctl --user -u ru.quorvane.agent.service"_s);
        row("blocked detail", &PlatformWording::blockedServiceDetail,
            u"Разрешите Quorvane в разделе «Объекты входа» системных настроек"_s,
            u"Фоновый запуск Quorvane запрещён: служба замаскирована в systemd"_s);
        row("blocked button", &PlatformWording::blockedServiceButton,
            u"Открыть системные настройки"_s, u"Разрешить фоновый запуск"_s);
        row("update note", &PlatformWording::updateNote,
            u"В beta обновление вручную: завершите Quorvane и замените приложение новой "
            u"версией. Настройки сохранятся."_s,
            u"В beta обновление вручную: завершите Quorvane и установите новый пакет. Настройки "
            u"сохранятся."_s);
    }

    void bothWordings() {
        QFETCH(Sentence, sentence);
        QFETCH(QString, macOS);
        QFETCH(QString, linuxDesktop);
        QCOMPARE(sentence(PlatformWording(PlatformWording::Platform::macOS)), macOS);
        QCOMPARE(sentence(PlatformWording(PlatformWording::Platform::linuxDesktop)), linuxDesktop);
        QCOMPARE(sentence(PlatformWording::current()), linuxDesktop);
    }

    // Each thing found instead of the configuration file, and the errno values a user can act
    // on, read in Russian; other codes keep the platform's text.
    void messages_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        using UnsafeFile = AgentConfigurationError::UnsafeFile;
        const std::pair<UnsafeFile, QString> unsafeFiles[] = {
            {UnsafeFile::symbolicLink,
             u"Файл конфигурации не должен быть символической ссылкой."_s},
            {UnsafeFile::danglingLink,
             u"Файл конфигурации — символическая ссылка на несуществующий файл. Удалите её."_s},
            {UnsafeFile::folder,
             u"Вместо файла конфигурации находится папка. Переименуйте или удалите её."_s},
            {UnsafeFile::fifo,
             u"Вместо файла конфигурации находится именованный канал (FIFO). Удалите его."_s},
            {UnsafeFile::socket, u"Вместо файла конфигурации находится сокет. Удалите его."_s},
            {UnsafeFile::device,
             u"Вместо файла конфигурации находится файл устройства. Удалите его."_s},
            {UnsafeFile::otherFile, u"Файл конфигурации должен быть обычным файлом."_s},
        };
        for (const auto& [found, expected] : unsafeFiles) {
            QTest::addRow("unsafe file %d", int(found))
                << AgentConfigurationError::unsafeConfigurationFile(found).message() << expected;
        }
        QTest::newRow("malformed")
            << AgentConfigurationError::malformedConfiguration(u"деталь"_s).message()
            << u"Некорректная конфигурация: деталь"_s;
        const std::pair<int, QString> posixErrors[] = {
            {ENOSPC, u"На диске не осталось места. Освободите место и повторите."_s},
            {EDQUOT, u"Исчерпана дисковая квота пользователя. Освободите место и повторите."_s},
            {EACCES, u"Нет прав доступа к файлу или папке."_s},
            {EPERM, u"Система не разрешила эту операцию с файлом или папкой."_s},
            {EROFS, u"Диск доступен только для чтения."_s},
            {ENOTDIR, u"Часть пути к файлу не является папкой."_s},
            {EIO, u"Ошибка ввода-вывода при обращении к диску."_s},
            {0, u"Ошибка ввода-вывода при обращении к диску."_s},
            {EXDEV, QString::fromStdString(std::generic_category().message(EXDEV))},
        };
        for (const auto& [code, expected] : posixErrors) {
            QTest::addRow("errno %d", code)
                << QString::fromUtf8(PosixError::fromCode(code).what()) << expected;
        }
    }

    void messages() {
        QFETCH(QString, message);
        QFETCH(QString, expected);
        QCOMPARE(message, expected);
        QVERIFY(PosixError::fromCode(ENOSPC).code() == std::errc::no_space_on_device);
    }
};

QTEST_APPLESS_MAIN(TestUserMessages)
#include "tst_UserMessages.moc"
