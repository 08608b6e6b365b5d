// The configuration file on disk: where it lives, private folders and files, what stands at
// its path instead, the token's move into the keychain, folder edits, and killed saves.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationStore.h"
#include "config/AgentContract.h"
#include "tests/support/FakeTokenStore.h"

using namespace quorvane;
using namespace Qt::StringLiterals;
using Error = AgentConfigurationError;
using Store = AgentConfigurationStore;
using UnsafeFile = Error::UnsafeFile;
using quorvane::testing::FakeTokenStore;

namespace {

const QString idA = u"1b9d6bcd-bbfd-4b2d-9b5d-ab8dfbbd4bed"_s;
const QString idB = u"6ec0bd7f-11c0-43da-975e-2a8ad9ebae0b"_s;

QString token(char filler) {
    return u"qv_agent_"_s + QString(43, QLatin1Char(filler));
}

QByteArray rootsText(const QList<WorkspaceRootConfiguration>& roots) {
    return Store::serialize({std::nullopt, roots}).toUtf8();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) >= 0);
}

// Dates the entry itself (not a link's target) the given seconds back.
void age(const QString& path, time_t seconds) {
    const timespec times[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path), times, AT_SYMLINK_NOFOLLOW), 0);
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// The entry's st_mode (a link's own with follow false), 0 when there is none.
mode_t statusOf(const QString& path, bool follow = true) {
    struct stat status {};
    const QByteArray name = QFile::encodeName(path);
    return (follow ? ::stat(name, &status) : ::lstat(name, &status)) == 0 ? status.st_mode : 0;
}

// How the action ends: empty, or its failure's message. Root ignores permission bits, so
// "asNobody" runs it with nobody's effective user id.
QString failureOf(const std::function<void()>& action, bool asNobody = false) {
    const passwd* nobody = asNobody && geteuid() == 0 ? getpwnam("nobody") : nullptr;
    QString failure = nobody && seteuid(nobody->pw_uid) != 0 ? u"not nobody"_s : QString();
    try {
        action();
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    }
    return nobody && seteuid(0) != 0 ? u"not root again"_s : failure;
}

// What the save loop writes on each turn: tens of KiB, so a kill often lands in the middle of
// writing one; even and odd turns differ.
AgentConfiguration saveLoopConfiguration(int turn) {
    AgentConfiguration configuration;
    for (int i = 0; i < 400 - turn % 2 * 100; ++i) {
        configuration.workspaceRoots.append(
            {u"%1-0000-4000-8000-000000000000"_s.arg(i, 8, 10, QLatin1Char('0')),
             u"/srv/%1/папка номер %2"_s.arg(turn % 2).arg(i), i % 2 == 0});
    }
    return configuration;
}

}  // namespace

class TestAgentConfigurationStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        scratch_ = std::make_unique<QTemporaryDir>();
        // "nobody" must reach the folders inside.
        QCOMPARE(::chmod(QFile::encodeName(scratch_->path()), 0755), 0);
        home_ = scratch_->filePath(u"home"_s);
        QVERIFY(QDir().mkpath(home_ + u"/work/a"_s));
        qputenv("HOME", QFile::encodeName(home_));
        directory_ = home_ + u"/.config/quorvane"_s;
        fileURL_ = directory_ + u"/quorvane-agent.conf"_s;
        tokens_ = std::make_shared<FakeTokenStore>();
    }

    // Where panel and agent meet; relative base folders are ignored and give the XDG defaults.
    void locations_data() {
        QTest::addColumn<QByteArray>("base");      // of all three variables
        QTest::addColumn<QStringList>("folders");  // config, state, runtime; {C}, {S}: the defaults
        QTest::newRow("relative") << QByteArray("b") << QStringList{u"{C}"_s, u"{S}"_s, u"{S}"_s};
        QTest::newRow("absolute") << QByteArray("/b/") << QStringList(3, u"/b/quorvane"_s);
    }

    void locations() {
        QFETCH(QByteArray, base);
        QFETCH(QStringList, folders);
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
            qputenv(variable, base);
        }
        folders.replaceInStrings(u"{C}"_s, directory_)
            .replaceInStrings(u"{S}"_s, home_ + u"/.local/state/quorvane"_s);
        QCOMPARE(Store::defaultURL(), folders[0] + u"/quorvane-agent.conf"_s);
        QCOMPARE(AgentContract::healthFilePath(), folders[1] + u"/agent-health.json"_s);
        QCOMPARE(AgentContract::guiSocketPath(), folders[2] + u"/agent-gui.sock"_s);
    }

    // The first save makes the folders it creates and its own folder private, and the file
    // 0600; a folder it only passes through keeps its mode. Its own folder must be a real
    // folder of the user ({D}): nothing is written through anything else.
    void firstSave_data() {
        QTest::addColumn<QString>("existing");  // what stands there before, all 0755; or a root
        QTest::addColumn<QString>("expected");  // modes of ~/.config, the folder, the file; failure
        QTest::newRow("~/.config") << u".config"_s << u"755 700 600 "_s;
        QTest::newRow("own folder") << u"folder"_s << u"755 700 600 "_s;
        QTest::newRow("link to a folder")
            << u"link"_s
            << u"755 755 0 Вместо папки {D} стоит символическая ссылка. Удалите ссылку: "
               u"программа создаст папку сама."_s;
        QTest::newRow("a file") << u"file"_s
                                << u"755 755 0 На месте папки {D} стоит файл. Удалите или "
                                   u"переименуйте его: программа создаст папку сама."_s;
        // Owned by root and saved as nobody.
        QTest::newRow("another user's folder")
            << u"folder as nobody"_s
            << u"755 755 0 Папка {D} принадлежит другому пользователю. Удалите её: программа "
               u"создаст свою."_s;
        // A folder name carrying a line break would be cut into two lines; a file over the
        // 1 MiB the reader accepts would not be read back: nothing is made.
        QTest::newRow("line break in a root")
            << u"/a\u2028b"_s << u"0 0 0 "_s + Error::invalidWorkspacePath().message();
        const qsizetype room = 1048576 - rootsText({{idA, u"/"_s, false}}).size();
        QTest::newRow("file of 1 MiB") << u"/"_s + QString(room, u'x') << u"700 700 600 "_s;
        QTest::newRow("a byte more") << u"/"_s + QString(room + 1, u'x')
                                     << u"0 0 0 "_s + Error::configurationTooLarge().message();
    }

    void firstSave() {
        QFETCH(QString, existing);
        QFETCH(QString, expected);
        const bool asNobody = existing.endsWith(u"nobody");
        if (asNobody && geteuid() != 0) {
            QSKIP("needs a folder owned by another user; run the suite as root");
        }
        const bool fromNothing = existing.startsWith(u'/');
        if (fromNothing) {
            QVERIFY(store().load() == AgentConfiguration{} &&
                    !QFile::exists(home_ + u"/.config"_s));
        } else {
            QVERIFY(QDir().mkpath(home_ + u"/.config"_s) && QDir().mkpath(home_ + u"/linked"_s));
        }
        QVERIFY(!existing.startsWith(u"folder") || QDir().mkdir(directory_));
        QVERIFY(existing != u"link" || QFile::link(home_ + u"/linked"_s, directory_));
        QVERIFY(existing != u"file" || QFile(directory_).open(QIODevice::WriteOnly));
        for (const QString& path : {home_, home_ + u"/.config"_s, directory_}) {
            ::chmod(QFile::encodeName(path), 0755);
        }
        const AgentConfiguration saved{{}, {{idA, fromNothing ? existing : u"/"_s, false}}};
        const QString failure = failureOf([&] { store().save(saved); }, asNobody);
        QString modes;
        for (const QString& path : {home_ + u"/.config"_s, directory_, fileURL_}) {
            modes += QString::number(statusOf(path) & 0777, 8) + u' ';
        }
        QCOMPARE(modes + failure, expected.replace(u"{D}"_s, directory_));
        QVERIFY(!failure.isEmpty() ||
                entriesOf(directory_) == QStringList{u"quorvane-agent.conf"_s});
    }

    // Run as nobody; the probe leaves nothing behind.
    void probe_data() {
        QTest::addColumn<int>("mode");  // 0: a regular file instead of the folder
        QTest::addColumn<bool>("writeEnabled");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("listable, read") << 0555 << false << true;
        QTest::newRow("listable, write") << 0555 << true << false;
        QTest::newRow("writable, write") << 0777 << true << true;
        QTest::newRow("not listable, read") << 0111 << false << false;
        QTest::newRow("regular file") << 0 << false << false;
    }

    void probe() {
        QFETCH(int, mode);
        QFETCH(bool, writeEnabled);
        QFETCH(bool, allowed);
        const QString folder = home_ + u"/probe"_s;
        QVERIFY(mode == 0 ? QFile(folder).open(QIODevice::WriteOnly)
                          : QDir().mkpath(folder + u"/entry"_s) &&
                                ::chmod(QFile::encodeName(folder), mode_t(mode)) == 0);
        QCOMPARE(failureOf([&] { Store::probeWorkspaceAccess(folder, writeEnabled); }, true),
                 allowed ? QString() : Error::workspaceAccessDenied().message());
        ::chmod(QFile::encodeName(folder), 0700);
        QVERIFY(mode == 0 || entriesOf(folder) == QStringList{u"entry"_s});
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
        const dev_t null = makedev(1, 3);  // a device as harmless to open as /dev/null
        QVERIFY(found == UnsafeFile::symbolicLink   ? QFile::link(target, fileURL_)
                : found == UnsafeFile::danglingLink ? QFile::link(target + u"-"_s, fileURL_)
                : found == UnsafeFile::folder       ? QDir().mkdir(fileURL_)
                : found == UnsafeFile::fifo         ? ::mkfifo(path, 0600) == 0
                : found == UnsafeFile::socket       ? ::mknod(path, S_IFSOCK | 0600, 0) == 0
                                                    : ::mknod(path, S_IFCHR | 0600, null) == 0);
        const mode_t type = statusOf(fileURL_, false) & S_IFMT;
        const QString refused = Error::unsafeConfigurationFile(found).message();
        QCOMPARE(failureOf([this] { store().loadFile(); }), refused);
        const bool dangling = found == UnsafeFile::danglingLink;
        QCOMPARE(failureOf([this] { store().save(AgentConfiguration::empty()); }),
                 dangling ? QString() : refused);
        QCOMPARE(statusOf(fileURL_, false) & S_IFMT, dangling ? S_IFREG : type);
        QVERIFY(readFile(target) == "# kept\n" && !QFile::exists(target + u"-"_s));
    }

    // A token line stays while the keychain fails, moves into an empty one, and yields to a
    // token already there. Edits move it first and keep the identifier order; a token is
    // saved trimmed, and not at all when it is refused.
    void tokensAndEdits() {
        const QString a = home_ + u"/work/a"_s;
        const QByteArray rootA = rootsText({{idA, a, true}});
        const QByteArray withToken = "token=" + token('F').toUtf8() + "\n" + rootA;
        QVERIFY(QDir().mkpath(directory_));
        writeFile(fileURL_, withToken);
        tokens_->refusesSave = true;
        QVERIFY(!failureOf([this] { store().load(); }).isEmpty());
        QCOMPARE(readFile(fileURL_), withToken);
        tokens_->refusesSave = false;
        for (int load = 0; load < 3; ++load) {  // the second finds no line, the third another
            QCOMPARE(store().load(), (AgentConfiguration{token('F'), {{idA, a, true}}}));
            QCOMPARE(readFile(fileURL_), rootA);
            if (load == 1) {
                writeFile(fileURL_, "token=" + token('G').toUtf8() + "\n" + rootA);
            }
        }
        writeFile(fileURL_, "token=" + token('H').toUtf8() + "\n# by hand\n workspace." +
                                idB.toUtf8() + " = /srv/b/ \n");
        tokens_->token.reset();
        store().upsertWorkspace(u"workspace."_s + idA, a + u"/."_s, false);
        QCOMPARE(tokens_->token, token('H'));
        QCOMPARE(readFile(fileURL_), rootsText({{idA, a, false}, {idB, u"/srv/b"_s, false}}));
        store().upsertWorkspace(idA, a, true);
        store().removeWorkspace(idB.toUpper());
        QCOMPARE(readFile(fileURL_), rootA);
        QVERIFY(!failureOf([this] { store().storeToken(u"qv_agent_short"_s); }).isEmpty());
        store().storeToken(u"  "_s + token('N') + u"\n"_s);
        QCOMPARE(tokens_->token, token('N'));
        QCOMPARE(tokens_->saveCount.load(), 3);
    }

    // What a file is read as, up to the size cap; the token's state and its saving depend on
    // the secret store alone: a file that cannot be read is left as it is, one that still
    // carries a token line loses it.
    void filesBesideTheToken_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("readFailure");
        QTest::addColumn<QByteArray>("afterTokenSave");  // empty: as it was
        const auto malformed = [](const QString& detail) {
            return Error::malformedConfiguration(detail).message();
        };
        const QByteArray roots = rootsText({{idA, u"/srv"_s, true}});
        // It ends without a line break, so a byte lost at the cap breaks the last line.
        const QByteArray full =
            "#" + QByteArray(1048576 - roots.size() - 1, 'x') + "\n" + roots.chopped(1);
        QTest::newRow("of 1 MiB") << full << QString() << QByteArray();
        QTest::newRow("too large")
            << full + " " << Error::configurationTooLarge().message() << QByteArray();
        QTest::newRow("not UTF-8") << roots + "# caf\xe9\n"
                                   << malformed(u"файл не является UTF-8"_s) << QByteArray();
        QTest::newRow("NUL in a path")
            << QByteArray("workspace.") + idA.toUtf8() + QByteArray("=/a\0b\n", 6)
            << malformed(u"путь workspace."_s + idA + u" некорректен"_s) << QByteArray();
        QTest::newRow("token line")
            << "token=" + token('F').toUtf8() + "\n" + roots << QString() << roots;
    }

    void filesBesideTheToken() {
        QFETCH(QByteArray, content);
        QFETCH(QString, readFailure);
        QFETCH(QByteArray, afterTokenSave);
        QVERIFY(QDir().mkpath(directory_));
        writeFile(fileURL_, content);
        QCOMPARE(failureOf([this] { store().loadFile(); }), readFailure);
        tokens_->token = token('K');
        QCOMPARE(store().storedToken(), tokens_->token);
        QCOMPARE(failureOf([this] { store().storeToken(token('N')); }), QString());
        QCOMPARE(tokens_->token, token('N'));
        QCOMPARE(readFile(fileURL_), afterTokenSave.isEmpty() ? content : afterTokenSave);
    }

    // An editor replacing the file by rename, as "sed -i" does, while the store keeps saving:
    // every edit stays.
    void handEditsDuringSavesStay() {
        const QString a = home_ + u"/work/a"_s;
        store().upsertWorkspace(idA, a, false);
        QProcess editor;
        const QString script =
            u"for i in $(seq 1000 1199); do sed -i \"\\$a workspace.0000$i-"
            u"0000-4000-8000-000000000000=/srv/$i\" \"$0\" || exit 1; done"_s;
        editor.start(u"/bin/sh"_s, {u"-c"_s, script, fileURL_});
        QVERIFY(editor.waitForStarted());
        const QString gaveUp = Error::configurationChangedDuringSave().message();
        int saves = 0;
        for (int attempt = 0; !editor.waitForFinished(0); ++attempt) {
            const QString failure =
                failureOf([&] { store().upsertWorkspace(idA, a, attempt % 2 == 0); });
            QVERIFY2(failure.isEmpty() || failure == gaveUp, qPrintable(failure));
            saves += failure.isEmpty();
        }
        QCOMPARE(editor.exitCode(), 0);
        QCOMPARE(store().loadFile().workspaceRoots.size(), 201);
        QVERIFY(saves >= 5);
    }

    // Leftovers of a killed save go: regular files, ours, unlocked and a minute old. Anything
    // else named like ours stays, and so does whatever is named otherwise.
    void staleTemporaryFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("removed");
        const QString uuid = u"0D1B2E3F-4A5B-4C6D-8E7F-8091A2B3C4D5"_s;
        const QString ours = u".quorvane-agent-conf-"_s + uuid + u".tmp"_s;
        QTest::newRow("ours, old, unlocked") << ours << u"old"_s << true;
        QTest::newRow("locked by a writer") << ours << u"locked"_s << false;
        QTest::newRow("just created") << ours << u"fresh"_s << false;
        QTest::newRow("another user's") << ours << u"nobody's"_s << false;
        QTest::newRow("a FIFO") << ours << u"FIFO"_s << false;
        QTest::newRow("a link to an old file") << ours << u"link"_s << false;
        // As long as ours, so that only the prefix itself tells them apart.
        QTest::newRow("another prefix")
            << QString(ours).replace(u"conf"_s, u"temp"_s) << u"old"_s << false;
        QTest::newRow("lower-case UUID")
            << QString(ours).replace(uuid, uuid.toLower()) << u"old"_s << false;
    }

    void staleTemporaryFiles() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, removed);
        QVERIFY(QDir().mkpath(directory_));
        const QString leftover = directory_ + u"/"_s + name;
        const QByteArray path = QFile::encodeName(leftover);
        writeFile(home_ + u"/old"_s, "");
        age(home_ + u"/old"_s, 600);
        QVERIFY(kind == u"FIFO"   ? ::mkfifo(path, 0600) == 0
                : kind == u"link" ? QFile::link(home_ + u"/old"_s, leftover)
                                  : QFile(leftover).open(QIODevice::WriteOnly));
        age(leftover, kind == u"fresh" ? 0 : 600);
        const passwd* nobody = getpwnam("nobody");
        if (kind == u"nobody's" &&
            (nobody == nullptr || ::chown(path, nobody->pw_uid, gid_t(-1)) != 0)) {
            QSKIP("needs to give a file to \"nobody\"; run the suite as root");
        }
        const int writer = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(writer >= 0 && (kind != u"locked" || ::flock(writer, LOCK_EX) == 0));
        store().save(AgentConfiguration::empty());
        ::close(writer);
        QCOMPARE(statusOf(leftover, false) == 0, removed);
    }

    // Two writers saving in turn, SIGKILLed at random moments: every read finds one whole
    // configuration, and a temporary file with content is always locked by its live writer.
    void killedAndConcurrentSavesLeaveAWholeFile() {
        const auto isWhole = [](const AgentConfiguration& found) {
            return found == saveLoopConfiguration(0) || found == saveLoopConfiguration(1);
        };
        store().save(saveLoopConfiguration(0));
        QRandomGenerator random(4242);
        QStringList leftovers;  // of killed writers
        int changes = 0, lockedSeen = 0;
        for (int round = 0; round < 40; ++round) {
            QProcess savers[2];
            for (int i = 0; i < 2; ++i) {
                savers[i].start(u"/proc/self/exe"_s,
                                {u"--save-loop"_s, fileURL_, QString::number(round + i)});
                QVERIFY2(savers[i].waitForReadyRead(10000), "the save loop did not start");
            }
            const AgentConfiguration before = store().loadFile();
            const QDeadlineTimer killTime(std::chrono::microseconds(random.bounded(8000)));
            do {
                for (const QString& name :
                     QDir(directory_).entryList({u"*.tmp"_s}, QDir::Files | QDir::Hidden)) {
                    const QByteArray path = QFile::encodeName(directory_ + u"/"_s + name);
                    const int file =
                        leftovers.contains(name) ? -1 : ::open(path, O_RDONLY | O_CLOEXEC);
                    const bool locked = file >= 0 && ::flock(file, LOCK_EX | LOCK_NB) != 0;
                    lockedSeen += locked;
                    // Unlocked with content and not yet renamed: written without the lock.
                    struct stat opened {};
                    struct stat named {};
                    QVERIFY(file < 0 || locked || ::fstat(file, &opened) != 0 ||
                            opened.st_size == 0 || ::stat(path, &named) != 0 ||
                            named.st_ino != opened.st_ino);
                    ::close(file);
                }
            } while (!killTime.hasExpired());
            QVERIFY(isWhole(before) && isWhole(store().loadFile()));
            for (QProcess& saver : savers) {
                QCOMPARE(saver.state(), QProcess::Running);
                saver.kill();
                QVERIFY(saver.waitForFinished(10000));
            }
            const AgentConfiguration after = store().loadFile();
            QVERIFY2(isWhole(after), qPrintable(u"round %1"_s.arg(round)));
            changes += after != before;
            leftovers = QDir(directory_).entryList({u"*.tmp"_s}, QDir::Files | QDir::Hidden);
        }
        QVERIFY(changes > 0 && lockedSeen > 0);
    }

private:
    Store store() const { return Store(fileURL_, tokens_); }

    std::unique_ptr<QTemporaryDir> scratch_;
    QString home_;
    QString directory_;
    QString fileURL_;
    std::shared_ptr<FakeTokenStore> tokens_;
};

// The binary is also the writer that the killed-save test runs:  --save-loop FILE FIRST-TURN
int main(int argc, char** argv) {
    if (argc == 4 && qstrcmp(argv[1], "--save-loop") == 0) {
        const Store store(QFile::decodeName(argv[2]), std::make_shared<FakeTokenStore>());
        std::puts("saving");
        std::fflush(stdout);
        for (int turn = std::atoi(argv[3]);; ++turn) {
            store.save(saveLoopConfiguration(turn));
        }
    }
    TestAgentConfigurationStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_AgentConfigurationStore.moc"
