#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <system_error>

#include "ConfigurationTestSupport.h"
#include "UnprivilegedChild.h"
#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationStore.h"
#include "system/PosixError.h"

using namespace quorvane;
using namespace quorvane::testing;
using Kind = AgentConfigurationError::Kind;

Q_DECLARE_METATYPE(quorvane::AgentConfigurationError::Kind)

namespace {

const QString lowerID = QStringLiteral("3f2b8c1d-4e5a-4b6c-8d7e-9f0a1b2c3d4e");

// "ok:<result>" or the failing case, so one column covers both outcomes.
template <typename Operation>
QString outcome(Operation operation) {
    try {
        return QStringLiteral("ok:") + operation();
    } catch (const AgentConfigurationError& error) {
        return QStringLiteral("error:%1").arg(int(error.kind()));
    }
}

QString failure(Kind kind) {
    return QStringLiteral("error:%1").arg(int(kind));
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

}  // namespace

class TestAgentInputValidation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(scratch_.isValid());
        // The unprivileged child must be able to reach the folders inside.
        QVERIFY(QFile::setPermissions(scratch_.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ExeOwner | QFile::ReadOther |
                                                           QFile::ExeOther));
        home_ = scratch_.filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(home_ + QStringLiteral("/inside/deeper")));
        QVERIFY(QDir().mkpath(home_ + QStringLiteral("/trailing ")));
        QVERIFY(QDir().mkpath(home_ + QStringLiteral("/inside ")));
        QVERIFY(QDir().mkpath(home_ + QStringLiteral("/inside/ ")));
        QVERIFY(QDir().mkpath(home_ + QStringLiteral("/with\nbreak")));
        QVERIFY(QFile::link(home_, scratch_.filePath(QStringLiteral("link-to-home"))));
        QVERIFY(QFile::link(home_ + QStringLiteral("/inside"),
                            scratch_.filePath(QStringLiteral("link-to-inside"))));
        QVERIFY(
            QFile::link(QStringLiteral("/"), scratch_.filePath(QStringLiteral("link-to-root"))));
        QFile file(home_ + QStringLiteral("/file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        qputenv("HOME", QFile::encodeName(home_));
        QVERIFY(QDir::setCurrent(home_));
    }

    void errorMessages_data() {
        QTest::addColumn<AgentConfigurationError>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("malformedConfiguration")
            << AgentConfigurationError::malformedConfiguration(QStringLiteral("деталь"))
            << QStringLiteral("Некорректная конфигурация: деталь");
        QTest::newRow("invalidToken")
            << AgentConfigurationError::invalidToken()
            << QStringLiteral("Введите корректный токен устройства Quorvane.");
        QTest::newRow("invalidWorkspaceID")
            << AgentConfigurationError::invalidWorkspaceID()
            << QStringLiteral("UUID папки не соответствует формату из кабинета Quorvane.");
        QTest::newRow("invalidWorkspacePath")
            << AgentConfigurationError::invalidWorkspacePath()
            << QStringLiteral("Выберите существующую абсолютную папку.");
        QTest::newRow("rootTooBroad")
            << AgentConfigurationError::rootTooBroad()
            << QStringLiteral(
                   "Нельзя предоставить Workspace доступ ко всему диску или домашней папке.");
        QTest::newRow("workspaceAccessDenied")
            << AgentConfigurationError::workspaceAccessDenied()
            << QStringLiteral("Нет доступа к папке в выбранном режиме. Проверьте права на папку.");
        using UnsafeFile = AgentConfigurationError::UnsafeFile;
        const std::pair<UnsafeFile, QString> unsafeFiles[] = {
            {UnsafeFile::symbolicLink,
             QStringLiteral("Файл конфигурации не должен быть символической ссылкой.")},
            {UnsafeFile::danglingLink,
             QStringLiteral(
                 "Файл конфигурации — символическая ссылка на несуществующий файл. Удалите её.")},
            {UnsafeFile::folder,
             QStringLiteral(
                 "Вместо файла конфигурации находится папка. Переименуйте или удалите её.")},
            {UnsafeFile::fifo,
             QStringLiteral(
                 "Вместо файла конфигурации находится именованный канал (FIFO). Удалите его.")},
            {UnsafeFile::socket,
             QStringLiteral("Вместо файла конфигурации находится сокет. Удалите его.")},
            {UnsafeFile::device,
             QStringLiteral("Вместо файла конфигурации находится файл устройства. Удалите его.")},
            {UnsafeFile::otherFile,
             QStringLiteral("Файл конфигурации должен быть обычным файлом.")},
        };
        for (const auto& [found, message] : unsafeFiles) {
            QTest::addRow("unsafeConfigurationFile %d", int(found))
                << AgentConfigurationError::unsafeConfigurationFile(found) << message;
        }
        QTest::newRow("configurationTooLarge")
            << AgentConfigurationError::configurationTooLarge()
            << QStringLiteral("Файл конфигурации превышает допустимый размер.");
    }

    void errorMessages() {
        QFETCH(AgentConfigurationError, error);
        QFETCH(QString, message);
        QCOMPARE(QString::fromUtf8(error.what()), message);
        QCOMPARE(error.message(), message);
    }

    // The causes a user can act on read in Russian; other codes keep the platform's text.
    void posixErrorMessages_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("ENOSPC") << ENOSPC
                                << QStringLiteral(
                                       "На диске не осталось места. Освободите место и повторите.");
        QTest::newRow("EDQUOT") << EDQUOT
                                << QStringLiteral(
                                       "Исчерпана дисковая квота пользователя. "
                                       "Освободите место и повторите.");
        QTest::newRow("EACCES") << EACCES << QStringLiteral("Нет прав доступа к файлу или папке.");
        QTest::newRow("EPERM") << EPERM
                               << QStringLiteral(
                                      "Система не разрешила эту операцию с файлом или папкой.");
        QTest::newRow("EROFS") << EROFS << QStringLiteral("Диск доступен только для чтения.");
        QTest::newRow("ENOTDIR") << ENOTDIR
                                 << QStringLiteral("Часть пути к файлу не является папкой.");
        QTest::newRow("EIO") << EIO << QStringLiteral("Ошибка ввода-вывода при обращении к диску.");
        QTest::newRow("unknown code is EIO")
            << 0 << QStringLiteral("Ошибка ввода-вывода при обращении к диску.");
        QTest::newRow("other codes keep the platform's text")
            << EXDEV << QString::fromStdString(std::generic_category().message(EXDEV));
    }

    void posixErrorMessages() {
        QFETCH(int, code);
        QFETCH(QString, message);
        const std::system_error error = PosixError::fromCode(code);
        QCOMPARE(QString::fromUtf8(error.what()), message);
        QVERIFY(error.code() == std::errc(code != 0 ? code : EIO));
    }

    void validateToken_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString token = QStringLiteral("qv_agent_") + QStringLiteral("AZaz09-_").repeated(5) +
                              QStringLiteral("abc");
        const QString invalid = failure(Kind::invalidToken);
        QTest::newRow("valid") << token << QStringLiteral("ok:") + token;
        QTest::newRow("surrounding spaces and a trailing break")
            << QStringLiteral("  ") + token + QStringLiteral("\t\r\n")
            << QStringLiteral("ok:") + token;
        QTest::newRow("Unicode spaces and separators")
            << QStringLiteral("\u00a0\u2028") + token + QStringLiteral("\u3000\u0085")
            << QStringLiteral("ok:") + token;
        QTest::newRow("51 characters") << token.chopped(1) << invalid;
        QTest::newRow("53 characters") << token + QLatin1Char('A') << invalid;
        QTest::newRow("other prefix") << QStringLiteral("qv_agenT_") + token.sliced(9) << invalid;
        QTest::newRow("plus") << token.chopped(1) + QLatin1Char('+') << invalid;
        QTest::newRow("slash") << token.chopped(1) + QLatin1Char('/') << invalid;
        QTest::newRow("padding") << token.chopped(1) + QLatin1Char('=') << invalid;
        QTest::newRow("Cyrillic letter") << token.chopped(1) + QStringLiteral("А") << invalid;
        QTest::newRow("inner space")
            << token.first(20) + QLatin1Char(' ') + token.sliced(21) << invalid;
        QTest::newRow("empty") << QString() << invalid;
    }

    void validateToken() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(outcome([&] { return AgentConfigurationStore::validateToken(input); }), expected);
    }

    void validateWorkspaceID_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString accepted = QStringLiteral("ok:") + lowerID;
        const QString invalid = failure(Kind::invalidWorkspaceID);
        QTest::newRow("lower case") << lowerID << accepted;
        QTest::newRow("upper case") << lowerID.toUpper() << accepted;
        QTest::newRow("workspace. prefix, upper case")
            << QStringLiteral("workspace.") + lowerID.toUpper() << accepted;
        QTest::newRow("trimmed") << QStringLiteral(" \tworkspace.") + lowerID + QStringLiteral("\n")
                                 << accepted;
        QTest::newRow("prefix removed only once")
            << QStringLiteral("workspace.workspace.") + lowerID << invalid;
        QTest::newRow("prefix is case-sensitive")
            << QStringLiteral("Workspace.") + lowerID << invalid;
        QTest::newRow("without hyphens") << QString(lowerID).remove(QLatin1Char('-')) << invalid;
        QTest::newRow("braces") << QLatin1Char('{') + lowerID + QLatin1Char('}') << invalid;
        QTest::newRow("misplaced hyphen")
            << lowerID.first(7) + QStringLiteral("-") + lowerID.sliced(7).remove(1, 1) << invalid;
        QTest::newRow("not hexadecimal") << QStringLiteral("g") + lowerID.sliced(1) << invalid;
        QTest::newRow("empty") << QString() << invalid;
    }

    void validateWorkspaceID() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(outcome([&] { return AgentConfigurationStore::validateWorkspaceID(input); }),
                 expected);
    }

    // HOME stands for the test's home folder, SCRATCH for its parent.
    void validateWorkspacePath_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString tooBroad = failure(Kind::rootTooBroad);
        const QString invalid = failure(Kind::invalidWorkspacePath);
        QTest::newRow("home") << QStringLiteral("HOME") << tooBroad;
        QTest::newRow("home with a trailing slash") << QStringLiteral("HOME/") << tooBroad;
        QTest::newRow("home through ..") << QStringLiteral("HOME/inside/..") << tooBroad;
        QTest::newRow("link to home") << QStringLiteral("SCRATCH/link-to-home") << tooBroad;
        QTest::newRow("disk root") << QStringLiteral("/") << tooBroad;
        QTest::newRow("disk root through ..") << QStringLiteral("/..") << tooBroad;
        QTest::newRow("link to the disk root")
            << QStringLiteral("SCRATCH/link-to-root/") << tooBroad;
        QTest::newRow("inside home")
            << QStringLiteral("HOME/inside") << QStringLiteral("ok:HOME/inside");
        QTest::newRow("standardised") << QStringLiteral("HOME/./inside/../inside//deeper/")
                                      << QStringLiteral("ok:HOME/inside/deeper");
        QTest::newRow("link kept as chosen") << QStringLiteral("SCRATCH/link-to-inside")
                                             << QStringLiteral("ok:SCRATCH/link-to-inside");
        QTest::newRow("parent of home")
            << QStringLiteral("SCRATCH") << QStringLiteral("ok:SCRATCH");
        QTest::newRow("regular file") << QStringLiteral("HOME/file") << invalid;
        QTest::newRow("nothing there") << QStringLiteral("HOME/missing") << invalid;
        QTest::newRow("relative, though it exists") << QStringLiteral("inside") << invalid;
        QTest::newRow("leading tilde") << QStringLiteral("~/inside") << invalid;
        QTest::newRow("empty") << QString() << invalid;
        // Taken as chosen: trimming would bind the sibling "inside" or the parent instead.
        QTest::newRow("leading space is not trimmed") << QStringLiteral(" HOME/inside") << invalid;
        QTest::newRow("final line break is not trimmed")
            << QStringLiteral("HOME/inside\n") << invalid;
        QTest::newRow("folder name ending in a space") << QStringLiteral("HOME/inside ") << invalid;
        QTest::newRow("folder named by a space") << QStringLiteral("HOME/inside/ ") << invalid;
        QTest::newRow("line break inside") << QStringLiteral("HOME/with\nbreak") << invalid;
        QTest::newRow("NUL inside") << QStringLiteral("HOME/inside") + QChar(u'\0') << invalid;
        // The file trims values, so this folder would come back as "HOME/trailing".
        QTest::newRow("ends with a space once standardised")
            << QStringLiteral("HOME/trailing /.") << invalid;
    }

    void validateWorkspacePath() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const auto expand = [this](QString text) {
            return text.replace(QStringLiteral("HOME"), home_)
                .replace(QStringLiteral("SCRATCH"), scratch_.path());
        };
        QCOMPARE(
            outcome([&] { return AgentConfigurationStore::validateWorkspacePath(expand(input)); }),
            expand(expected));
    }

    void homeIsComparedWithLinksResolved() {
        const QString linkedHome = scratch_.filePath(QStringLiteral("link-to-home"));
        qputenv("HOME", QFile::encodeName(linkedHome));
        const QString result =
            outcome([&] { return AgentConfigurationStore::validateWorkspacePath(home_); });
        qputenv("HOME", QFile::encodeName(home_));
        QCOMPARE(result, failure(Kind::rootTooBroad));
    }

    void probePassesAndLeavesNothingBehind_data() {
        QTest::addColumn<bool>("withEntries");
        QTest::addColumn<bool>("writeEnabled");
        QTest::newRow("empty, read") << false << false;
        QTest::newRow("empty, write") << false << true;
        QTest::newRow("with entries, write") << true << true;
    }

    void probePassesAndLeavesNothingBehind() {
        QFETCH(bool, withEntries);
        QFETCH(bool, writeEnabled);
        QTemporaryDir folder;
        if (withEntries) {
            QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("child")));
        }
        const QStringList before = entriesOf(folder.path());
        AgentConfigurationStore::probeWorkspaceAccess(folder.path(), writeEnabled);
        QCOMPARE(entriesOf(folder.path()), before);
    }

    void probeRefusesWhatIsNoFolder_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << QStringLiteral("HOME/missing");
        QTest::newRow("regular file") << QStringLiteral("HOME/file");
    }

    void probeRefusesWhatIsNoFolder() {
        QFETCH(QString, path);
        path.replace(QStringLiteral("HOME"), home_);
        QVERIFY_THROWS_EXCEPTION(AgentConfigurationError,
                                 AgentConfigurationStore::probeWorkspaceAccess(path, false));
    }

    // Permission bits bind only an unprivileged user: see UnprivilegedChild.h.
    void probeHonoursPermissions_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("writeEnabled");
        QTest::addColumn<int>("expected");
        const int denied = ChildOutcome::of(Kind::workspaceAccessDenied);
        QTest::newRow("listable, read") << 0555 << false << ChildOutcome::succeeded;
        QTest::newRow("listable, write") << 0555 << true << denied;
        QTest::newRow("writable, write") << 0777 << true << ChildOutcome::succeeded;
        QTest::newRow("not listable, read") << 0111 << false << denied;
    }

    void probeHonoursPermissions() {
        QFETCH(int, mode);
        QFETCH(bool, writeEnabled);
        QFETCH(int, expected);
        const QString folder = scratch_.filePath(QStringLiteral("probe ") +
                                                 QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/entry")));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(mode)), 0);
        const QStringList before = entriesOf(folder);
        QCOMPARE(runUnprivileged(
                     [&] { AgentConfigurationStore::probeWorkspaceAccess(folder, writeEnabled); }),
                 expected);
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
        QCOMPARE(entriesOf(folder), before);
    }

    void maskedToken_data() {
        QTest::addColumn<std::optional<QString>>("token");
        QTest::addColumn<QString>("text");
        QTest::newRow("absent") << std::optional<QString>() << QStringLiteral("Не настроен");
        QTest::newRow("empty") << std::optional<QString>(QString())
                               << QStringLiteral("Не настроен");
        QTest::newRow("any text") << std::optional<QString>(QStringLiteral("x"))
                                  << QStringLiteral("Настроен · ••••••••");
        QTest::newRow("a token") << std::optional<QString>(validToken())
                                 << QStringLiteral("Настроен · ••••••••");
    }

    void maskedToken() {
        QFETCH(std::optional<QString>, token);
        QFETCH(QString, text);
        QCOMPARE(AgentConfigurationStore::maskedToken(token), text);
    }

private:
    QTemporaryDir scratch_;
    QString home_;
};

QTEST_APPLESS_MAIN(TestAgentInputValidation)
#include "tst_AgentInputValidation.moc"
