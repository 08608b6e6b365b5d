#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <functional>
#include <memory>
#include <system_error>

#include "system/PrivateFiles.h"

using namespace quorvane;

namespace {

const QString ourPrefix = QStringLiteral(".quorvane-agent-conf-");
const QString someUuid = QStringLiteral("0D1B2E3F-4A5B-4C6D-8E7F-8091A2B3C4D5");

QByteArray bytesOf(const QString& path) {
    return QFile::encodeName(path);
}

int modeOf(const QString& path) {
    struct stat status {};
    return ::stat(bytesOf(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

int errnoOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

void makeFile(const QString& path, int ageSeconds) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const timespec times[2] = {{::time(nullptr) - ageSeconds, 0},
                               {::time(nullptr) - ageSeconds, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, bytesOf(path).constData(), times, 0), 0);
}

}  // namespace

class TestPrivateFiles : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> scratch_;

    QString at(const QString& relative) const { return scratch_->filePath(relative); }

private Q_SLOTS:
    void init() {
        scratch_ = std::make_unique<QTemporaryDir>();
        QVERIFY(scratch_->isValid());
    }

    // Only a folder this code created, or the program's own real folder, is made private.
    void directoryModes_data() {
        QTest::addColumn<QString>("existing");  // what stands at "target" before the call
        QTest::addColumn<bool>("ownFolder");    // createPrivateDirectory, else createMissing…
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("targetMode");  // mode of "target" (followed) afterwards
        QTest::newRow("missing, own") << QString() << true << 0 << 0700;
        QTest::newRow("missing, shared") << QString() << false << 0 << 0700;
        QTest::newRow("own folder made private") << QStringLiteral("folder") << true << 0 << 0700;
        QTest::newRow("shared folder left alone") << QStringLiteral("folder") << false << 0 << 0755;
        QTest::newRow("file named like the folder")
            << QStringLiteral("file") << true << int(ENOTDIR) << 0644;
        QTest::newRow("link to a folder keeps its target's mode")
            << QStringLiteral("link") << true << 0 << 0755;
    }

    void directoryModes() {
        QFETCH(QString, existing);
        QFETCH(bool, ownFolder);
        QFETCH(int, error);
        QFETCH(int, targetMode);
        const QString target = at(QStringLiteral("parent/target"));
        QVERIFY(QDir().mkpath(at(QStringLiteral("parent"))));
        QCOMPARE(::chmod(bytesOf(at(QStringLiteral("parent"))).constData(), 0755), 0);
        if (existing == u"folder") {
            QVERIFY(QDir().mkdir(target));
        } else if (existing == u"file") {
            makeFile(target, 0);
        } else if (existing == u"link") {
            QVERIFY(QDir().mkdir(at(QStringLiteral("elsewhere"))));
            QVERIFY(QFile::link(at(QStringLiteral("elsewhere")), target));
        }
        if (!existing.isEmpty()) {
            QCOMPARE(::chmod(bytesOf(target).constData(), existing == u"file" ? 0644 : 0755), 0);
        }

        QCOMPARE(errnoOf([&] {
                     ownFolder ? PrivateFiles::createPrivateDirectory(target)
                               : PrivateFiles::createMissingDirectories(target);
                 }),
                 error);
        QCOMPARE(modeOf(target), targetMode);
        QCOMPARE(modeOf(at(QStringLiteral("parent"))), 0755);
    }

    // Leftovers of a killed save go; a file another writer still holds, a fresh one and
    // anything not named like ours stay.
    void abandonedTemporaryFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<bool>("removed");
        const QString ours = ourPrefix + someUuid + QStringLiteral(".tmp");
        QTest::newRow("ours, old, unlocked") << ours << 600 << false << true;
        QTest::newRow("ours, old, locked by a writer") << ours << 600 << true << false;
        QTest::newRow("ours, just created") << ours << 0 << false << false;
        QTest::newRow("another prefix")
            << QStringLiteral(".other-") + someUuid + QStringLiteral(".tmp") << 600 << false
            << false;
        QTest::newRow("lower-case UUID")
            << ourPrefix + someUuid.toLower() + QStringLiteral(".tmp") << 600 << false << false;
        QTest::newRow("no UUID") << ourPrefix + QStringLiteral("notes.tmp") << 600 << false
                                 << false;
    }

    void abandonedTemporaryFiles() {
        QFETCH(QString, name);
        QFETCH(int, ageSeconds);
        QFETCH(bool, locked);
        QFETCH(bool, removed);
        const QString leftover = at(name);
        makeFile(leftover, ageSeconds);
        const int writer = ::open(bytesOf(leftover).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(writer >= 0);
        if (locked) {
            QCOMPARE(::flock(writer, LOCK_EX), 0);
        }

        PrivateFiles::replaceAtomically(at(QStringLiteral("quorvane-agent.conf")), "text",
                                        ourPrefix);
        ::close(writer);
        QCOMPARE(!QFile::exists(leftover), removed);
        QCOMPARE(modeOf(at(QStringLiteral("quorvane-agent.conf"))), 0600);
    }
};

QTEST_APPLESS_MAIN(TestPrivateFiles)
#include "tst_PrivateFiles.moc"
