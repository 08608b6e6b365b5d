// The configuration file on disk: where it lives, private folders and files, what stands at
// its path instead, the token's move into the keychain, folder edits, and killed saves.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

#include "ConfigurationTestSupport.h"
#include "config/AgentConfigurationStore.h"
#include "config/AgentContract.h"
#include "system/PrivateFiles.h"
#include "tests/support/FakeTokenStore.h"

using namespace quorvane;
using namespace quorvane::testing;
using namespace Qt::StringLiterals;
using Kind = AgentConfigurationError::Kind;
using UnsafeFile = AgentConfigurationError::UnsafeFile;

namespace {

const QString idA = u"1b9d6bcd-bbfd-4b2d-9b5d-ab8dfbbd4bed"_s;
const QString idB = u"6ec0bd7f-11c0-43da-975e-2a8ad9ebae0b"_s;

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes, time_t ageSeconds = 0) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) >= 0);
    file.close();
    const timespec times[2] = {{::time(nullptr) - ageSeconds, 0},
                               {::time(nullptr) - ageSeconds, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

mode_t typeAt(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

int modeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : -1;
}

QByteArray rootsText(const QList<WorkspaceRootConfiguration>& roots, const QString& token = {}) {
    const QString tokenLine = token.isEmpty() ? QString() : u"token="_s + token + u"\n"_s;
    return (tokenLine + AgentConfigurationStore::serialize({std::nullopt, roots})).toUtf8();
}

bool bindSocket(const QByteArray& path) {
    sockaddr_un address{AF_UNIX, {}};
    std::memcpy(address.sun_path, path.constData(), qMin(path.size(), 107));
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound =
        ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(descriptor);
    return bound;
}

}  // namespace

class TestAgentConfigurationStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        scratch_ = std::make_unique<QTemporaryDir>();
        // The unprivileged child must reach the folders inside.
        QCOMPARE(::chmod(QFile::encodeName(scratch_->path()).constData(), 0755), 0);
        home_ = scratch_->filePath(u"home"_s);
        QVERIFY(QDir().mkpath(home_ + u"/work/a"_s));
        qputenv("HOME", QFile::encodeName(home_));
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
            qunsetenv(variable);
        }
        directory_ = home_ + u"/.config/quorvane"_s;
        fileURL_ = directory_ + u"/quorvane-agent.conf"_s;
        tokens_ = std::make_shared<FakeTokenStore>();
    }

    // Where panel and agent meet; relative base folders count as unset.
    void locationsFollowTheBaseFolders() {
        const auto locations = [](const QByteArray& base) {
            for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
                qputenv(variable, base);
            }
            return QStringList{AgentConfigurationStore::defaultURL(),
                               AgentContract::healthFilePath(), AgentContract::logFilePath(),
                               AgentContract::guiSocketPath()};
        };
        QCOMPARE(
            locations("/b/"),
            (QStringList{u"/b/quorvane/quorvane-agent.conf"_s, u"/b/quorvane/agent-health.json"_s,
                         u"/b/quorvane/logs/agent.log"_s, u"/b/quorvane/agent-gui.sock"_s}));
        const QString state = home_ + u"/.local/state/quorvane"_s;
        QCOMPARE(locations("b"),
                 (QStringList{fileURL_, state + u"/agent-health.json"_s,
                              state + u"/logs/agent.log"_s, state + u"/agent-gui.sock"_s}));
    }

    void firstEditCreatesPrivateFoldersAndFile() {
        QCOMPARE(store().load(), AgentConfiguration::empty());
        QVERIFY(!QFile::exists(directory_));
        store().upsertWorkspace(idA.toUpper(), home_ + u"/work/a/"_s, true);
        QCOMPARE((QList<int>{modeOf(home_ + u"/.config"_s), modeOf(directory_), modeOf(fileURL_)}),
                 (QList<int>{0700, 0700, 0600}));
        QCOMPARE(readFile(fileURL_), rootsText({{idA, home_ + u"/work/a"_s, true}}));
        QCOMPARE(QDir(directory_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"quorvane-agent.conf"_s});
    }

    // Only the program's own real folder is made private: not one it only passes through,
    // nor a link's target.
    void privateFolderModes_data() {
        QTest::addColumn<QString>("existing");  // what stands at "target" before the call
        QTest::addColumn<bool>("ownFolder");    // createPrivateDirectory, else createMissing…
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("targetMode");  // of "target", followed, afterwards
        QTest::newRow("missing, passed through") << QString() << false << 0 << 0700;
        QTest::newRow("own folder made private") << u"folder"_s << true << 0 << 0700;
        QTest::newRow("passed through, left alone") << u"folder"_s << false << 0 << 0755;
        QTest::newRow("file named like the folder") << u"file"_s << true << int(ENOTDIR) << 0755;
        QTest::newRow("link keeps its target's mode") << u"link"_s << true << 0 << 0755;
    }

    void privateFolderModes() {
        QFETCH(QString, existing);
        QFETCH(bool, ownFolder);
        QFETCH(int, error);
        QFETCH(int, targetMode);
        const QString target = home_ + u"/target"_s;
        if (existing == u"folder") {
            QVERIFY(QDir().mkdir(target));
        } else if (existing == u"file") {
            writeFile(target, "x");
        } else if (existing == u"link") {
            QVERIFY(QFile::link(home_ + u"/work"_s, target));
        }
        for (const QString& path : {home_, target}) {
            ::chmod(QFile::encodeName(path).constData(), 0755);
        }
        int thrown = 0;
        try {
            ownFolder ? PrivateFiles::createPrivateDirectory(target)
                      : PrivateFiles::createMissingDirectories(target);
        } catch (const std::system_error& failure) {
            thrown = failure.code().value();
        }
        QCOMPARE(thrown, error);
        QCOMPARE(modeOf(target), targetMode);
        QCOMPARE(modeOf(home_), 0755);
    }

    // Owned by root and entered as nobody: chmod reports EPERM, the store reports EACCES.
    void saveFailsWithEACCESWhenTheFolderModeCannotBeSet() {
        if (geteuid() != 0) {
            QSKIP("needs a folder owned by another user; run the suite as root");
        }
        QVERIFY(QDir().mkpath(directory_));
        for (const QString& folder : {home_, home_ + u"/.config"_s, directory_}) {
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        }
        const AgentConfigurationStore subject = store();
        QCOMPARE(runUnprivileged([&] { subject.save(AgentConfiguration::empty()); }), 100 + EACCES);
        QVERIFY(!QFile::exists(fileURL_));
    }

    // Run unprivileged; the probe leaves nothing behind.
    void probeHonoursPermissions_data() {
        QTest::addColumn<int>("mode");  // 0: a regular file, -1: nothing there
        QTest::addColumn<bool>("writeEnabled");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("listable, read") << 0555 << false << true;
        QTest::newRow("listable, write") << 0555 << true << false;
        QTest::newRow("writable, write") << 0777 << true << true;
        QTest::newRow("not listable, read") << 0111 << false << false;
        QTest::newRow("regular file") << 0 << false << false;
        QTest::newRow("missing") << -1 << false << false;
    }

    void probeHonoursPermissions() {
        QFETCH(int, mode);
        QFETCH(bool, writeEnabled);
        QFETCH(bool, allowed);
        const QString folder = home_ + u"/probe"_s;
        if (mode > 0) {
            QVERIFY(QDir().mkpath(folder + u"/entry"_s));
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(mode)), 0);
        } else if (mode == 0) {
            writeFile(folder, "");
        }
        QCOMPARE(runUnprivileged(
                     [&] { AgentConfigurationStore::probeWorkspaceAccess(folder, writeEnabled); }),
                 allowed ? 0 : configurationErrorExit(Kind::workspaceAccessDenied));
        if (mode > 0) {
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
            QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList{u"entry"_s});
        }
    }

    // Neither read nor written through; only a dangling link is replaced, by the rename.
    void refusesWhatIsNoRegularFile_data() {
        QTest::addColumn<UnsafeFile>("found");
        QTest::newRow("link to a file") << UnsafeFile::symbolicLink;
        QTest::newRow("dangling link") << UnsafeFile::danglingLink;
        QTest::newRow("folder") << UnsafeFile::folder;
        QTest::newRow("FIFO") << UnsafeFile::fifo;
        QTest::newRow("socket") << UnsafeFile::socket;
        QTest::newRow("character device") << UnsafeFile::device;
    }

    void refusesWhatIsNoRegularFile() {
        QFETCH(UnsafeFile, found);
        QVERIFY(QDir().mkpath(directory_));
        const QString target = home_ + u"/target.conf"_s;
        writeFile(target, "# kept\n");
        const QByteArray path = QFile::encodeName(fileURL_);
        const bool created = found == UnsafeFile::symbolicLink ? QFile::link(target, fileURL_)
                             : found == UnsafeFile::danglingLink
                                 ? QFile::link(target + u"-"_s, fileURL_)
                             : found == UnsafeFile::folder ? QDir().mkdir(fileURL_)
                             : found == UnsafeFile::fifo   ? ::mkfifo(path.constData(), 0600) == 0
                             : found == UnsafeFile::socket
                                 ? bindSocket(path)
                                 : ::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 3)) == 0;
        QVERIFY(created);
        const mode_t type = typeAt(fileURL_);
        const auto error = AgentConfigurationError::unsafeConfigurationFile(found);
        QCOMPARE(configurationErrorOf([this] { store().loadFile(); }), error);
        if (found == UnsafeFile::danglingLink) {
            store().save(AgentConfiguration::empty());
            QVERIFY(typeAt(fileURL_) == S_IFREG && !QFile::exists(target + u"-"_s));
        } else {
            QCOMPARE(configurationErrorOf([this] { store().save(AgentConfiguration::empty()); }),
                     error);
            QCOMPARE(typeAt(fileURL_), type);
        }
        QCOMPARE(readFile(target), QByteArray("# kept\n"));
    }

    // A folder name carrying a line break would be cut into two lines by the file.
    void refusesAFolderNameWithALineBreak_data() {
        QTest::addColumn<QString>("name");
        for (const char16_t lineBreak :
             {u'\n', u'\r', u'\v', u'\f', u'\u0085', u'\u2028', u'\u2029'}) {
            QTest::addRow("U+%04X inside", unsigned(lineBreak))
                << u"a"_s + QChar(lineBreak) + u"b"_s;
            QTest::addRow("U+%04X at the end", unsigned(lineBreak)) << u"a"_s + QChar(lineBreak);
        }
    }

    void refusesAFolderNameWithALineBreak() {
        QFETCH(QString, name);
        const QString folder = home_ + u"/work/"_s + name;
        QVERIFY(QDir().mkpath(folder));
        const auto invalid = AgentConfigurationError::invalidWorkspacePath();
        QCOMPARE(configurationErrorOf([&] { store().upsertWorkspace(idA, folder, false); }),
                 invalid);
        QCOMPARE(configurationErrorOf([&] {
                     store().save({std::nullopt, {{idA, folder, false}}});
                 }),
                 invalid);
        QVERIFY(!QFile::exists(fileURL_));
    }

    void refusesOversizedOrNonUtf8Files() {
        QVERIFY(QDir().mkpath(directory_));
        const QByteArray roots = rootsText({{idA, u"/srv"_s, true}});
        writeFile(fileURL_, roots + "#" + QByteArray(1048576 - roots.size() - 2, 'x') + "\n");
        QCOMPARE(store().loadFile().workspaceRoots.size(), 1);
        writeFile(fileURL_, readFile(fileURL_) + " ");
        QCOMPARE(configurationErrorOf([this] { store().loadFile(); }),
                 AgentConfigurationError::configurationTooLarge());
        writeFile(fileURL_, "# caf\xe9\n");
        QCOMPARE(configurationErrorOf([this] { store().loadFile(); }),
                 AgentConfigurationError::malformedConfiguration(u"файл не является UTF-8"_s));
    }

    // A token line moves into an empty keychain; a keychain token wins; while the keychain
    // fails the line stays.
    void movesTheTokenLineIntoTheKeychain_data() {
        QTest::addColumn<std::optional<QString>>("keychain");
        QTest::addColumn<bool>("keychainFails");
        QTest::addColumn<int>("keychainSaves");
        QTest::newRow("empty keychain") << std::optional<QString>() << false << 1;
        QTest::newRow("keychain token wins") << std::optional(validToken(u'K')) << false << 0;
        QTest::newRow("keychain fails") << std::optional<QString>() << true << 0;
    }

    void movesTheTokenLineIntoTheKeychain() {
        QFETCH(std::optional<QString>, keychain);
        QFETCH(bool, keychainFails);
        QFETCH(int, keychainSaves);
        tokens_ = std::make_shared<FakeTokenStore>(keychain);
        tokens_->refusesSave = keychainFails;
        QVERIFY(QDir().mkpath(directory_));
        const QList<WorkspaceRootConfiguration> roots{{idA, u"/srv/a"_s, true}};
        writeFile(fileURL_, rootsText(roots, validToken(u'F')));
        if (keychainFails) {
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, store().load());
            QCOMPARE(readFile(fileURL_), rootsText(roots, validToken(u'F')));
            return;
        }
        for (int load = 0; load < 2; ++load) {
            QCOMPARE(store().load(),
                     (AgentConfiguration{keychain.value_or(validToken(u'F')), roots}));
            QCOMPARE(readFile(fileURL_), rootsText(roots));
        }
        QCOMPARE(tokens_->saveCount.load(), keychainSaves);
    }

    void storeTokenSavesTheTrimmedTokenAndDropsTheTokenLine() {
        QVERIFY(QDir().mkpath(directory_));
        writeFile(fileURL_, rootsText({{idB, u"/srv/b"_s, true}}, validToken(u'F')));
        QVERIFY(configurationErrorOf([this] { store().storeToken(u"qv_agent_short"_s); }));
        store().storeToken(u"  "_s + validToken(u'N') + u"\n"_s);
        QCOMPARE(tokens_->token, validToken(u'N'));
        QCOMPARE(readFile(fileURL_), rootsText({{idB, u"/srv/b"_s, true}}));
        writeFile(fileURL_, "nonsense\n");
        QVERIFY(configurationErrorOf([this] { store().storeToken(validToken()); }));
        QCOMPARE(tokens_->saveCount.load(), 1);
    }

    void editsKeepIdOrderAndMoveTheTokenLine() {
        const QString a = home_ + u"/work/a"_s;
        QVERIFY(QDir().mkpath(directory_));
        writeFile(
            fileURL_,
            u"token=%1\n# by hand\n workspace.%2 = /srv/b/ \n"_s.arg(validToken(), idB).toUtf8());
        store().upsertWorkspace(u"workspace."_s + idA, a, false);
        QCOMPARE(tokens_->token, validToken());
        QCOMPARE(readFile(fileURL_), rootsText({{idA, a, false}, {idB, u"/srv/b"_s, false}}));
        store().upsertWorkspace(idA, a, true);
        store().removeWorkspace(idB.toUpper());
        QCOMPARE(readFile(fileURL_), rootsText({{idA, a, true}}));
    }

    // Leftovers of a killed save go; a file a writer still holds, a fresh one and anything
    // not named like ours stay.
    void staleTemporaryFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("removed");
        const QString uuid = u"0D1B2E3F-4A5B-4C6D-8E7F-8091A2B3C4D5"_s;
        const QString ours = u".quorvane-agent-conf-"_s + uuid + u".tmp"_s;
        QTest::newRow("ours, old, unlocked") << ours << 600 << false << true;
        QTest::newRow("ours, old, locked by a writer") << ours << 600 << true << false;
        QTest::newRow("ours, just created") << ours << 0 << false << false;
        QTest::newRow("another prefix") << u".other-"_s + uuid + u".tmp"_s << 600 << false << false;
        QTest::newRow("lower-case UUID")
            << QString(ours).replace(uuid, uuid.toLower()) << 600 << false << false;
        QTest::newRow("no UUID") << u".quorvane-agent-conf-notes.tmp"_s << 600 << false << false;
    }

    void staleTemporaryFiles() {
        QFETCH(QString, name);
        QFETCH(int, ageSeconds);
        QFETCH(bool, locked);
        QFETCH(bool, removed);
        QVERIFY(QDir().mkpath(directory_));
        const QString leftover = directory_ + u"/"_s + name;
        writeFile(leftover, "", ageSeconds);
        const int writer = ::open(QFile::encodeName(leftover).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(writer >= 0 && (!locked || ::flock(writer, LOCK_EX) == 0));
        store().save(AgentConfiguration::empty());
        ::close(writer);
        QCOMPARE(!QFile::exists(leftover), removed);
    }

    // Two writers saving in turn, SIGKILLed at random moments: every read finds one whole
    // configuration.
    void killedAndConcurrentSavesLeaveAWholeFile() {
        const auto current = [this] { return store().loadFile(); };
        const auto isWhole = [](const AgentConfiguration& found) {
            return found == saveLoopConfiguration(0) || found == saveLoopConfiguration(1);
        };
        store().save(saveLoopConfiguration(0));
        QRandomGenerator random(4242);
        int changes = 0;
        for (int round = 0; round < 40; ++round) {
            QProcess savers[2];
            for (int i = 0; i < 2; ++i) {
                savers[i].start(QStringLiteral(SAVE_LOOP_EXECUTABLE),
                                {fileURL_, QString::number(round + i)});
                QVERIFY2(savers[i].waitForReadyRead(10000), "the save loop did not start");
            }
            const AgentConfiguration before = current();
            std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(8000)));
            QVERIFY(isWhole(before) && isWhole(current()));
            for (QProcess& saver : savers) {
                QCOMPARE(saver.state(), QProcess::Running);
                saver.kill();
                QVERIFY(saver.waitForFinished(10000));
            }
            const AgentConfiguration after = current();
            QVERIFY2(isWhole(after), qPrintable(u"round %1"_s.arg(round)));
            changes += after != before;
        }
        QVERIFY(changes > 0);
    }

private:
    AgentConfigurationStore store() const { return AgentConfigurationStore(fileURL_, tokens_); }

    std::unique_ptr<QTemporaryDir> scratch_;
    QString home_;
    QString directory_;
    QString fileURL_;
    std::shared_ptr<FakeTokenStore> tokens_;
};

QTEST_APPLESS_MAIN(TestAgentConfigurationStore)
#include "tst_AgentConfigurationStore.moc"
