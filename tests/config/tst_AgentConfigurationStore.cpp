#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "ConfigurationTestSupport.h"
#include "UnprivilegedChild.h"
#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationStore.h"

using namespace quorvane;
using namespace quorvane::testing;
using Kind = AgentConfigurationError::Kind;
using UnsafeFile = AgentConfigurationError::UnsafeFile;
Q_DECLARE_METATYPE(UnsafeFile)

namespace {

const QString idA = QStringLiteral("1b9d6bcd-bbfd-4b2d-9b5d-ab8dfbbd4bed");
const QString idB = QStringLiteral("6ec0bd7f-11c0-43da-975e-2a8ad9ebae0b");
const QString idC = QStringLiteral("3f333df6-90a4-4fda-8dd3-9485d27cee36");
const QString header = QStringLiteral("# Quorvane Agent — управляется приложением Quorvane\n");

QByteArray pathBytes(const QString& path) {
    return QFile::encodeName(path);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct stat linkStatus(const QString& path) {
    struct stat status {};
    if (::lstat(pathBytes(path).constData(), &status) != 0) {
        status.st_mode = 0;
    }
    return status;
}

int modeOf(const QString& path) {
    return int(linkStatus(path).st_mode & 07777);
}

template <typename Operation>
std::optional<AgentConfigurationError> configurationErrorOf(Operation operation) {
    try {
        operation();
    } catch (const AgentConfigurationError& error) {
        return error;
    }
    return std::nullopt;
}

QString rootsText(const QList<WorkspaceRootConfiguration>& roots) {
    return AgentConfigurationStore::serialize({std::nullopt, roots});
}

}  // namespace

class TestAgentConfigurationStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        scratch_ = std::make_unique<QTemporaryDir>();
        QVERIFY(scratch_->isValid());
        home_ = scratch_->filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(home_ + QStringLiteral("/work/a")));
        QVERIFY(QDir().mkpath(home_ + QStringLiteral("/work/b")));
        qputenv("HOME", pathBytes(home_));
        qunsetenv("XDG_CONFIG_HOME");
        directory_ = home_ + QStringLiteral("/.config/quorvane");
        fileURL_ = directory_ + QStringLiteral("/quorvane-agent.conf");
        tokens_ = std::make_shared<FakeTokenStore>();
    }

    void defaultURLFollowsHome() { QCOMPARE(AgentConfigurationStore::defaultURL(), fileURL_); }

    void missingFileLoadsTheKeychainTokenAlone_data() {
        QTest::addColumn<std::optional<QString>>("stored");
        QTest::newRow("no token") << std::optional<QString>();
        QTest::newRow("token") << std::optional<QString>(validToken());
    }

    void missingFileLoadsTheKeychainTokenAlone() {
        QFETCH(std::optional<QString>, stored);
        tokens_ = std::make_shared<FakeTokenStore>(stored);
        QCOMPARE(store().load(), (AgentConfiguration{stored, {}}));
        QVERIFY(!QFile::exists(directory_));
    }

    void firstUpsertCreatesPrivateDirectoriesAndFile() {
        store().upsertWorkspace(idA.toUpper(), home_ + QStringLiteral("/work/a/"), true);
        for (const QString& created : {home_ + QStringLiteral("/.config"), directory_}) {
            QCOMPARE(modeOf(created), 0700);
        }
        QCOMPARE(modeOf(fileURL_), 0600);
        QCOMPARE(QString::fromUtf8(readFile(fileURL_)),
                 header + QStringLiteral("workspace.%1=%2/work/a\nworkspace.%1.write=true\n")
                              .arg(idA, home_));
        QCOMPARE(QDir(directory_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("quorvane-agent.conf")});
    }

    void saveMakesExistingDirectoryAndFilePrivate() {
        QVERIFY(QDir().mkpath(directory_));
        QCOMPARE(::chmod(pathBytes(directory_).constData(), 0755), 0);
        writeFile(fileURL_, header.toUtf8());
        QCOMPARE(::chmod(pathBytes(fileURL_).constData(), 0644), 0);
        store().save(AgentConfiguration::empty());
        QCOMPARE(modeOf(directory_), 0700);
        QCOMPARE(modeOf(fileURL_), 0600);
    }

    void loadFileRefusesWhatIsNoRegularFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<UnsafeFile>("found");
        QTest::newRow("link to a valid file")
            << QStringLiteral("link to a valid file") << UnsafeFile::symbolicLink;
        QTest::newRow("dangling link")
            << QStringLiteral("dangling link") << UnsafeFile::danglingLink;
        QTest::newRow("directory") << QStringLiteral("directory") << UnsafeFile::folder;
        QTest::newRow("FIFO") << QStringLiteral("FIFO") << UnsafeFile::fifo;
        QTest::newRow("socket") << QStringLiteral("socket") << UnsafeFile::socket;
        QTest::newRow("character device")
            << QStringLiteral("character device") << UnsafeFile::device;
    }

    void loadFileRefusesWhatIsNoRegularFile() {
        QFETCH(QString, kind);
        QFETCH(UnsafeFile, found);
        QVERIFY(QDir().mkpath(directory_));
        const QString target = directory_ + QStringLiteral("/target.conf");
        const QByteArray targetText = rootsText({{idA, QStringLiteral("/srv"), false}}).toUtf8();
        writeFile(target, targetText);
        createSpecialFile(kind, target);
        const mode_t type = linkStatus(fileURL_).st_mode & S_IFMT;

        const auto error = configurationErrorOf([this] { store().loadFile(); });
        QVERIFY(error);
        QCOMPARE(*error, AgentConfigurationError::unsafeConfigurationFile(found));
        QCOMPARE(linkStatus(fileURL_).st_mode & S_IFMT, type);
        if (found != UnsafeFile::danglingLink) {  // a save replaces only a dangling link
            QCOMPARE(configurationErrorOf([this] { store().save(AgentConfiguration::empty()); }),
                     error);
        }
        QCOMPARE(readFile(target), targetText);
    }

    void saveRefusesALinkToAFile() {
        QVERIFY(QDir().mkpath(directory_));
        const QString target = home_ + QStringLiteral("/elsewhere.conf");
        writeFile(target, "kept");
        QVERIFY(QFile::link(target, fileURL_));
        const auto error =
            configurationErrorOf([this] { store().save(AgentConfiguration::empty()); });
        QVERIFY(error);
        QCOMPARE(error->kind(), Kind::unsafeConfigurationFile);
        QCOMPARE(readFile(target), QByteArray("kept"));
        QVERIFY(S_ISLNK(linkStatus(fileURL_).st_mode));
    }

    // A dangling link is replaced by the rename; its target is never created.
    void saveReplacesADanglingLinkWithoutWritingThroughIt() {
        QVERIFY(QDir().mkpath(directory_));
        const QString target = home_ + QStringLiteral("/never-created.conf");
        QVERIFY(QFile::link(target, fileURL_));
        store().save(AgentConfiguration::empty());
        QVERIFY(S_ISREG(linkStatus(fileURL_).st_mode));
        QVERIFY(!QFile::exists(target));
    }

    // A folder name carrying a line break would be cut into two lines by the file.
    void upsertRefusesAFolderNameWithALineBreak_data() {
        QTest::addColumn<QString>("name");
        const char16_t breaks[] = {u'\n', u'\r', u'\v', u'\f', u'\u0085', u'\u2028', u'\u2029'};
        for (const char16_t lineBreak : breaks) {
            QTest::addRow("U+%04X inside", unsigned(lineBreak))
                << QStringLiteral("a") + QChar(lineBreak) + QStringLiteral("b");
            QTest::addRow("U+%04X at the end", unsigned(lineBreak))
                << QStringLiteral("a") + QChar(lineBreak);
        }
    }

    void upsertRefusesAFolderNameWithALineBreak() {
        QFETCH(QString, name);
        const QString folder = home_ + QStringLiteral("/work/") + name;
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(configurationErrorOf([&] { store().upsertWorkspace(idA, folder, false); }),
                 AgentConfigurationError::invalidWorkspacePath());
        QCOMPARE(configurationErrorOf([&] {
                     store().save({std::nullopt, {{idA, folder, false}}});
                 }),
                 AgentConfigurationError::invalidWorkspacePath());
        QVERIFY(!QFile::exists(fileURL_));
    }

    void saveFailsWithEACCESWhenTheDirectoryModeCannotBeSet() {
        if (geteuid() != 0) {
            QSKIP("needs a directory owned by another user; run the suite as root");
        }
        // Owned by root and entered as nobody: chmod reports EPERM, the store reports EACCES.
        QVERIFY(QDir().mkpath(directory_));
        for (const QString& folder :
             {scratch_->path(), home_, home_ + QStringLiteral("/.config"), directory_}) {
            QCOMPARE(::chmod(pathBytes(folder).constData(), 0755), 0);
        }
        const AgentConfigurationStore subject = store();
        QCOMPARE(runUnprivileged([&] { subject.save(AgentConfiguration::empty()); }),
                 ChildOutcome::ofErrno(EACCES));
        QVERIFY(!QFile::exists(fileURL_));
    }

    void sizeCap_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("exactly 1 MiB") << 1048576 << true;
        QTest::newRow("one byte more") << 1048577 << false;
    }

    void sizeCap() {
        QFETCH(int, size);
        QFETCH(bool, accepted);
        QVERIFY(QDir().mkpath(directory_));
        const QByteArray roots = rootsText({{idA, QStringLiteral("/srv"), true}}).toUtf8();
        writeFile(fileURL_, roots + "#" + QByteArray(size - roots.size() - 2, 'x') + "\n");
        QCOMPARE(QFileInfo(fileURL_).size(), size);
        const auto error =
            configurationErrorOf([this] { QCOMPARE(store().loadFile().workspaceRoots.size(), 1); });
        QCOMPARE(error.has_value(), !accepted);
        if (error) {
            QCOMPARE(error->kind(), Kind::configurationTooLarge);
        }
    }

    void invalidUtf8IsMalformed() {
        QVERIFY(QDir().mkpath(directory_));
        writeFile(fileURL_, "# caf\xe9\nworkspace.x=/srv\n");
        const auto error = configurationErrorOf([this] { store().loadFile(); });
        QVERIFY(error);
        QCOMPARE(*error, AgentConfigurationError::malformedConfiguration(
                             QStringLiteral("файл не является UTF-8")));
        QCOMPARE(error->message(),
                 QStringLiteral("Некорректная конфигурация: файл не является UTF-8"));
    }

    void loadMovesATokenLineIntoAnEmptyKeychain() {
        const QList<WorkspaceRootConfiguration> roots{{idA, QStringLiteral("/srv/a"), true}};
        writeTokenFile(validToken(), roots);
        QCOMPARE(store().load(), (AgentConfiguration{validToken(), roots}));
        QCOMPARE(tokens_->token, validToken());
        QCOMPARE(QString::fromUtf8(readFile(fileURL_)), rootsText(roots));
        QCOMPARE(modeOf(fileURL_), 0600);
        QCOMPARE(store().load(), (AgentConfiguration{validToken(), roots}));
        QCOMPARE(tokens_->saveCount.load(), 1);
    }

    void keychainTokenWinsOverTheFilesToken() {
        const QString keychainToken = validToken(QLatin1Char('K'));
        tokens_ = std::make_shared<FakeTokenStore>(keychainToken);
        const QList<WorkspaceRootConfiguration> roots{{idA, QStringLiteral("/srv/a"), false}};
        writeTokenFile(validToken(QLatin1Char('F')), roots);
        QCOMPARE(store().load(), (AgentConfiguration{keychainToken, roots}));
        QCOMPARE(tokens_->token, keychainToken);
        QCOMPARE(tokens_->saveCount.load(), 0);
        QCOMPARE(QString::fromUtf8(readFile(fileURL_)), rootsText(roots));
    }

    void keychainFailureKeepsTheTokenLine_data() {
        QTest::addColumn<bool>("readFails");
        QTest::newRow("read fails") << true;
        QTest::newRow("save fails") << false;
    }

    void keychainFailureKeepsTheTokenLine() {
        QFETCH(bool, readFails);
        tokens_->refusesRead = readFails;
        tokens_->refusesSave = !readFails;
        writeTokenFile(validToken(), {{idA, QStringLiteral("/srv/a"), false}});
        const QByteArray before = readFile(fileURL_);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, store().load());
        QCOMPARE(readFile(fileURL_), before);
    }

    void storeTokenSavesTheTrimmedTokenAndDropsTheTokenLine() {
        const QList<WorkspaceRootConfiguration> roots{{idB, QStringLiteral("/srv/b"), true}};
        writeTokenFile(validToken(QLatin1Char('F')), roots);
        store().storeToken(QStringLiteral("  ") + validToken(QLatin1Char('N')) +
                           QStringLiteral("\n"));
        QCOMPARE(tokens_->token, validToken(QLatin1Char('N')));
        QCOMPARE(QString::fromUtf8(readFile(fileURL_)), rootsText(roots));
    }

    void storeTokenStopsBeforeTheKeychain_data() {
        QTest::addColumn<QString>("draft");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("kind");
        QTest::newRow("invalid draft")
            << QStringLiteral("qv_agent_short") << QByteArray() << int(Kind::invalidToken);
        QTest::newRow("broken file")
            << validToken() << QByteArray("nonsense\n") << int(Kind::malformedConfiguration);
    }

    void storeTokenStopsBeforeTheKeychain() {
        QFETCH(QString, draft);
        QFETCH(QByteArray, file);
        QFETCH(int, kind);
        if (!file.isEmpty()) {
            QVERIFY(QDir().mkpath(directory_));
            writeFile(fileURL_, file);
        }
        const auto error = configurationErrorOf([&] { store().storeToken(draft); });
        QVERIFY(error);
        QCOMPARE(int(error->kind()), kind);
        QCOMPARE(tokens_->saveCount.load(), 0);
        QCOMPARE(readFile(fileURL_), file);
    }

    void upsertReplacesInPlaceAndInsertsInIdOrder() {
        const QString a = home_ + QStringLiteral("/work/a");
        const QString b = home_ + QStringLiteral("/work/b");
        store().save({std::nullopt, {{idA, a, false}, {idB, b, true}}});
        store().upsertWorkspace(QStringLiteral("workspace.") + idA, b, true);
        QCOMPARE(QString::fromUtf8(readFile(fileURL_)),
                 rootsText({{idA, b, true}, {idB, b, true}}));
        store().upsertWorkspace(idC, a, false);
        QCOMPARE(QString::fromUtf8(readFile(fileURL_)),
                 header + QStringLiteral("workspace.%1=%4\nworkspace.%1.write=true\n"
                                         "workspace.%2=%5\nworkspace.%2.write=false\n"
                                         "workspace.%3=%4\nworkspace.%3.write=true\n")
                              .arg(idA, idC, idB, b, a));
    }

    void upsertMovesATokenLineIntoTheKeychain() {
        writeTokenFile(validToken(), {});
        store().upsertWorkspace(idA, home_ + QStringLiteral("/work/a"), false);
        QCOMPARE(tokens_->token, validToken());
        QCOMPARE(
            store().loadFile(),
            (AgentConfiguration{std::nullopt, {{idA, home_ + QStringLiteral("/work/a"), false}}}));
    }

    void upsertRefusesBeforeTouchingAnything_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("kind");
        QTest::newRow("identifier") << QStringLiteral("folder-1") << QStringLiteral("HOME/work/a")
                                    << int(Kind::invalidWorkspaceID);
        QTest::newRow("relative path")
            << idA << QStringLiteral("work/a") << int(Kind::invalidWorkspacePath);
        QTest::newRow("missing folder")
            << idA << QStringLiteral("HOME/work/missing") << int(Kind::invalidWorkspacePath);
        QTest::newRow("home folder") << idA << QStringLiteral("HOME") << int(Kind::rootTooBroad);
    }

    void upsertRefusesBeforeTouchingAnything() {
        QFETCH(QString, id);
        QFETCH(QString, path);
        QFETCH(int, kind);
        const auto error = configurationErrorOf([&] {
            store().upsertWorkspace(id, path.replace(QStringLiteral("HOME"), home_), true);
        });
        QVERIFY(error);
        QCOMPARE(int(error->kind()), kind);
        QVERIFY(!QFile::exists(directory_));
    }

    void removeDropsTheFolder() {
        store().save(
            {std::nullopt,
             {{idA, QStringLiteral("/srv/a"), false}, {idB, QStringLiteral("/srv/b"), true}}});
        store().removeWorkspace(idA.toUpper());
        QCOMPARE(QString::fromUtf8(readFile(fileURL_)),
                 rootsText({{idB, QStringLiteral("/srv/b"), true}}));
    }

    void removeOfAnAbsentFolderRewritesTheFile() {
        QVERIFY(QDir().mkpath(directory_));
        writeFile(
            fileURL_,
            QStringLiteral("# hand-written\n\n  workspace.%1 = /srv/a/ \n").arg(idA).toUtf8());
        const ino_t before = linkStatus(fileURL_).st_ino;
        store().removeWorkspace(idB);
        QVERIFY(linkStatus(fileURL_).st_ino != before);
        QCOMPARE(QString::fromUtf8(readFile(fileURL_)),
                 rootsText({{idA, QStringLiteral("/srv/a"), false}}));
    }

    void removeRefusesAnInvalidIdentifier() {
        const auto error =
            configurationErrorOf([this] { store().removeWorkspace(QStringLiteral("nonsense")); });
        QVERIFY(error);
        QCOMPARE(error->kind(), Kind::invalidWorkspaceID);
        QVERIFY(!QFile::exists(directory_));
    }

private:
    AgentConfigurationStore store() const { return AgentConfigurationStore(fileURL_, tokens_); }

    void writeTokenFile(const QString& token, const QList<WorkspaceRootConfiguration>& roots) {
        QVERIFY(QDir().mkpath(directory_));
        writeFile(
            fileURL_,
            (QStringLiteral("token=") + token + QLatin1Char('\n') + rootsText(roots)).toUtf8());
    }

    void createSpecialFile(const QString& kind, const QString& target) {
        const QByteArray path = pathBytes(fileURL_);
        if (kind == u"link to a valid file") {
            QVERIFY(QFile::link(target, fileURL_));
        } else if (kind == u"dangling link") {
            QVERIFY(QFile::link(target + QStringLiteral(".missing"), fileURL_));
        } else if (kind == u"directory") {
            QVERIFY(QDir().mkdir(fileURL_));
        } else if (kind == u"FIFO") {
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        } else if (kind == u"socket") {
            bindSocket(path);
        } else if (::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
            QSKIP("this system does not allow creating device nodes");
        }
    }

    void bindSocket(const QByteArray& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (size_t(path.size()) >= sizeof(address.sun_path)) {
            QSKIP("the temporary folder's path is too long for a socket");
        }
        std::memcpy(address.sun_path, path.constData(), path.size());
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(descriptor >= 0);
        const int bound =
            ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        ::close(descriptor);
        QCOMPARE(bound, 0);
    }

    std::unique_ptr<QTemporaryDir> scratch_;
    QString home_;
    QString directory_;
    QString fileURL_;
    std::shared_ptr<FakeTokenStore> tokens_;
};

QTEST_APPLESS_MAIN(TestAgentConfigurationStore)
#include "tst_AgentConfigurationStore.moc"
