#include "config/PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QUuid>
#include <cerrno>

#include "config/FileDescriptor.h"
#include "config/PosixError.h"

namespace quorvane::PrivateFiles {

namespace {

constexpr mode_t privateDirectoryMode = 0700;
constexpr mode_t privateFileMode = 0600;

void createDirectoryIfMissing(const QByteArray& path) {
    if (::mkdir(path.constData(), privateDirectoryMode) != 0 && errno != EEXIST) {
        PosixError::throwErrno();
    }
}

// Removes the temporary file on every way out of a replacement, ignoring the outcome: after
// a successful rename the name no longer exists.
class TemporaryPathRemover {
public:
    explicit TemporaryPathRemover(QByteArray path) : path_(std::move(path)) {}
    ~TemporaryPathRemover() { ::unlink(path_.constData()); }
    TemporaryPathRemover(const TemporaryPathRemover&) = delete;
    TemporaryPathRemover& operator=(const TemporaryPathRemover&) = delete;

private:
    QByteArray path_;
};

QByteArray temporaryPathBeside(const QString& filePath, QStringView temporaryPrefix) {
    const QString name = temporaryPrefix.toString() +
                         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                         QStringLiteral(".tmp");
    return QFile::encodeName(directoryOf(filePath) + QLatin1Char('/') + name);
}

void writePrivateFile(const QByteArray& path, QByteArrayView bytes) {
    FileDescriptor file(::open(
        path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, privateFileMode));
    if (!file.isValid()) {
        PosixError::throwErrno();
    }
    // The process umask may have narrowed the mode given to open.
    if (::fchmod(file.get(), privateFileMode) != 0) {
        PosixError::throwErrno();
    }
    file.writeAll(bytes);
    file.synchronize();
    file.close();
}

// Makes the rename durable; a directory that cannot be flushed still holds the new file.
void synchronizeDirectory(const QString& directory) {
    const FileDescriptor handle(
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.isValid()) {
        ::fsync(handle.get());
    }
}

}  // namespace

QString directoryOf(const QString& filePath) {
    const qsizetype slash = filePath.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) {
        return QStringLiteral(".");
    }
    return slash == 0 ? QStringLiteral("/") : filePath.first(slash);
}

void createPrivateDirectory(const QString& directory) {
    const QByteArray path = QFile::encodeName(directory);
    for (qsizetype slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1)) {
        createDirectoryIfMissing(path.first(slash));
    }
    createDirectoryIfMissing(path);
    if (::chmod(path.constData(), privateDirectoryMode) != 0) {
        throw PosixError::fromCode(EACCES);
    }
}

void replaceAtomically(const QString& filePath, QByteArrayView bytes, QStringView temporaryPrefix) {
    const QByteArray temporaryPath = temporaryPathBeside(filePath, temporaryPrefix);
    const TemporaryPathRemover remover(temporaryPath);
    writePrivateFile(temporaryPath, bytes);
    if (::rename(temporaryPath.constData(), QFile::encodeName(filePath).constData()) != 0) {
        PosixError::throwErrno();
    }
    synchronizeDirectory(directoryOf(filePath));
}

}  // namespace quorvane::PrivateFiles
