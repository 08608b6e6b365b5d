// The sentences a user reads: both wordings of those that name the operating system (the macOS
// build keeps the original word for word, the Linux build names what a Linux desktop has), and
// the failures of the configuration file and of the system, in Russian.
#include <QTest>
#include <functional>

#include "config/AgentConfigurationError.h"
#include "config/PlatformWording.h"
#include "system/PosixError.h"

using namespace quorvane;
using namespace Qt::StringLiterals;

using Sentence = std::function<QString(const PlatformWording&)>;
Q_DECLARE_METATYPE(Sentence)

namespace {

// "a{b|c}d" reads "abd" on macOS and "acd" on Linux: the shared text is written once.
QString wording(const QString& both, bool macOS) {
    const qsizetype open = both.indexOf(u'{'), bar = both.indexOf(u'|'), end = both.indexOf(u'}');
    const QString own =
        macOS ? both.sliced(open + 1, bar - open - 1) : both.sliced(bar + 1, end - bar - 1);
    return both.first(open) + own + both.sliced(end + 1);
}

}  // namespace

class TestUserMessages : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bothWordings_data() {
        QTest::addColumn<Sentence>("sentence");
        QTest::addColumn<QString>("both");
        using W = PlatformWording;
        const std::pair<Sentence, QString> rows[] = {
            {&W::headerSubtitle, u"Агент для {macOS|Linux}"_s},
            {&W::headerBadge, u"{macOS 13+|Linux · systemd}"_s},
            {&W::workspaceUserPrefix, u"Пользователь{ macOS|}: "_s},
            {&W::tokenStored, u"Токен сохранён в {Связке ключей macOS|хранилище паролей}."_s},
            {&W::savedTokenProtection,
             u"Защищён {Связкой ключей macOS|хранилищем паролей}. Повторно вводить не нужно."_s},
            {&W::tokenAccessNeededLine,
             u"Токен: нужен доступ к {Связке ключей|хранилищу паролей}"_s},
            {&W::tokenAccessHint,
             u"Это не означает, что токен удалён. Запрос {macOS|на разблокировку} откроется только "
             u"по кнопке ниже. При отказе повторных окон не будет."_s},
            {&W::authorizingToken, u"Ожидание ответа {macOS|хранилища паролей}…"_s},
            {[](const W& w) { return w.tokenStorageError(-25308); },
             u"Не удалось открыть защищённый токен в {Связке ключей macOS (код -25308). "
             u"Разблокируйте Связку ключей|хранилище паролей (код -25308). Разблокируйте хранилище "
             u"паролей} и разрешите доступ Quorvane."_s},
            {&W::workspaceIntroduction,
             u"Это отдельная настройка: какие папки {Mac доступны через кабинет. Работает от "
             u"текущего пользователя macOS|этого компьютера доступны через кабинет. Работает от "
             u"текущего пользователя}; пароль учётной записи для выбора папки не нужен."_s},
            {&W::workspaceSaveAdvice,
             u"Включите агент перед сохранением. После сохранения фоновая служба проверит чтение, "
             u"а при разрешённой записи — создаст и удалит временный проверочный файл. "
             u"{Подтвердите "
             u"запрос macOS сейчас, затем|Затем} проверьте доступ в кабинете перед приглашением "
             u"участников."_s},
            {&W::savedFoldersTitle, u"Сохранено на этом {Mac|компьютере}"_s},
            {&W::saveRefusedWhileOff,
             u"Сначала включите агент и дождитесь подключения. Это нужно, чтобы служба сразу "
             u"{запросила разрешения macOS при сохранении папки|проверила доступ к папке при "
             u"сохранении}."_s},
            {&W::folderSaved,
             u"Папка сохранена. При включённом агенте служба проверит доступ{: подтвердите запрос "
             u"macOS, если он появится|}. Если агент выключен — включите его сейчас. Перед "
             u"приглашением участников откройте папку в кабинете."_s},
            {&W::workspaceAccessDenied,
             u"Нет доступа к папке в выбранном режиме. Проверьте права {папки и разрешения "
             u"Quorvane "
             u"в настройках macOS|на папку}."_s},
            {&W::unknownUnitState,
             u"{macOS вернула|systemd вернул} неизвестное состояние фоновой службы"_s},
            {[](const W& w) { return w.noServiceManager(u"gone"_s); },
             u"{macOS вернула неизвестное состояние фоновой службы|Нет связи с systemd "
             u"пользователя: gone}"_s},
            {[](const W& w) { return w.unitFileNotWritten(u"/u"_s, u"why"_s); },
             u"{macOS не смогла обновить расположение Quorvane. Переместите приложение в "
             u"«Программы» и откройте снова.|Не удалось записать службу агента /u: why}"_s},
            {[](const W& w) { return w.changeRefused(u"no"_s); },
             u"{macOS не разрешила изменить фоновый запуск. Проверьте системные настройки.|systemd "
             u"не разрешил изменить фоновый запуск: no}"_s},
            {&W::startTimedOut,
             u"Служба не запустилась. Выключите и включите агент. Если ошибка повторится, "
             u"{откройте Quorvane из папки «Программы» и проверьте разрешение фоновой работы в "
             u"настройках macOS.|посмотрите журнал службы: journalctl --user -u "
             u"ru.quorvane.agent.service}"_s},
            {&W::blockedServiceDetail,
             u"{Разрешите Quorvane в разделе «Объекты входа» системных настроек|Фоновый запуск "
             u"Quorvane запрещён: служба замаскирована в systemd}"_s},
            {&W::blockedServiceButton, u"{Открыть системные настройки|Разрешить фоновый запуск}"_s},
            {&W::updateNote,
             u"В beta обновление вручную: завершите Quorvane и {замените приложение новой "
             u"версией|установите новый пакет}. Настройки сохранятся."_s},
        };
        for (const auto& [sentence, both] : rows) {
            QTest::newRow(qPrintable(wording(both, false).left(30))) << sentence << both;
        }
    }

    void bothWordings() {
        QFETCH(Sentence, sentence);
        QFETCH(QString, both);
        const QString desktop = sentence(PlatformWording(PlatformWording::Platform::linuxDesktop));
        QCOMPARE(sentence(PlatformWording(PlatformWording::Platform::macOS)), wording(both, true));
        QCOMPARE(desktop, wording(both, false));
        QCOMPARE(sentence(PlatformWording::current()), desktop);
        for (const QString& macOnly :
             {u"macOS"_s, u"Mac "_s, u"Связк"_s, u"«Программы»"_s, u"«Объекты входа»"_s}) {
            QVERIFY2(!desktop.contains(macOnly), qPrintable(macOnly));
        }
    }

    // Each thing found instead of the configuration file, and the errno values a user can act
    // on, read in Russian; other codes keep the platform's text.
    void messages_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        using UnsafeFile = AgentConfigurationError::UnsafeFile;
        const auto unsafe = [](UnsafeFile found, const QString& expected) {
            QTest::addRow("unsafe file %d", int(found))
                << AgentConfigurationError::unsafeConfigurationFile(found).message() << expected;
        };
        const QString file = u"Файл конфигурации "_s, instead = u"Вместо файла конфигурации "_s;
        unsafe(UnsafeFile::symbolicLink, file + u"не должен быть символической ссылкой."_s);
        unsafe(UnsafeFile::danglingLink,
               file + u"— символическая ссылка на несуществующий файл. Удалите её."_s);
        unsafe(UnsafeFile::folder, instead + u"находится папка. Переименуйте или удалите её."_s);
        unsafe(UnsafeFile::fifo, instead + u"находится именованный канал (FIFO). Удалите его."_s);
        unsafe(UnsafeFile::socket, instead + u"находится сокет. Удалите его."_s);
        unsafe(UnsafeFile::device, instead + u"находится файл устройства. Удалите его."_s);
        unsafe(UnsafeFile::otherFile, file + u"должен быть обычным файлом."_s);
        QTest::newRow("malformed")
            << AgentConfigurationError::malformedConfiguration(u"деталь"_s).message()
            << u"Некорректная конфигурация: деталь"_s;
        const auto posix = [](int code, const QString& expected) {
            QTest::addRow("errno %d", code)
                << QString::fromUtf8(PosixError::fromCode(code).what()) << expected;
        };
        posix(ENOSPC, u"На диске не осталось места. Освободите место и повторите."_s);
        posix(EDQUOT, u"Исчерпана дисковая квота пользователя. Освободите место и повторите."_s);
        posix(EACCES, u"Нет прав доступа к файлу или папке."_s);
        posix(EPERM, u"Система не разрешила эту операцию с файлом или папкой."_s);
        posix(EROFS, u"Диск доступен только для чтения."_s);
        posix(ENOTDIR, u"Часть пути к файлу не является папкой."_s);
        posix(EIO, u"Ошибка ввода-вывода при обращении к диску."_s);
        posix(0, u"Ошибка ввода-вывода при обращении к диску."_s);
        posix(EXDEV, QString::fromStdString(std::generic_category().message(EXDEV)));
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
