#include "system/PrivateFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "system/FileDescriptor.h"
#include "system/PosixError.h"
#include "system/QuorvaneError.h"
#include "system/SystemLogging.h"

namespace quorvane::PrivateFiles {

namespace {

constexpr mode_t privateDirectoryMode = 0700;
constexpr mode_t privateFileMode = 0600;
// A temporary file this old and unlocked was left by a save that never finished. The age
// covers the moment between its exclusive creation and the writer taking the lock.
constexpr time_t staleTemporaryAge = 60;
constexpr QStringView temporarySuffix = u".tmp";

void createDirectoryIfMissing(const QByteArray& path) {
    if (::mkdir(path.constData(), privateDirectoryMode) != 0 && errno != EEXIST) {
        PosixError::throwErrno();
    }
}

// The folder at the path as lstat saw it must be a real folder of this user.
void rejectUnsafeDirectory(const QString& directory, const struct stat& status) {
    if (S_ISLNK(status.st_mode)) {
        throw QuorvaneError(QStringLiteral("Вместо папки %1 стоит символическая ссылка. "
                                           "Удалите ссылку: программа создаст папку сама.")
                                .arg(directory));
    }
    if (!S_ISDIR(status.st_mode)) {
        throw QuorvaneError(QStringLiteral("На месте папки %1 стоит файл. Удалите или "
                                           "переименуйте его: программа создаст папку сама.")
                                .arg(directory));
    }
    if (status.st_uid != ::geteuid()) {
        throw QuorvaneError(QStringLiteral("Папка %1 принадлежит другому пользователю. Удалите "
                                           "её: программа создаст свою.")
                                .arg(directory));
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

QString temporaryName(QStringView temporaryPrefix) {
    return temporaryPrefix.toString() +
           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
           temporarySuffix.toString();
}

bool isTemporaryName(QStringView name, QStringView temporaryPrefix) {
    if (!name.startsWith(temporaryPrefix) || !name.endsWith(temporarySuffix)) {
        return false;
    }
    const QStringView uuid = name.sliced(temporaryPrefix.size()).chopped(temporarySuffix.size());
    return uuid.size() == 36 && !QUuid::fromString(uuid).isNull() &&
           uuid == QUuid::fromString(uuid).toString(QUuid::WithoutBraces).toUpper();
}

// A leftover is ours (name, owner), a regular file, old, and no writer holds its lock.
bool isAbandoned(int directory, const char* name) {
    const FileDescriptor file(
        ::openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (!file.isValid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid() || std::time(nullptr) - status.st_mtime < staleTemporaryAge) {
        return false;
    }
    return ::flock(file.get(), LOCK_EX | LOCK_NB) == 0;
}

void removeAbandonedTemporaryFiles(const QString& directory, QStringView temporaryPrefix) {
    DIR* stream = ::opendir(QFile::encodeName(directory).constData());
    if (stream == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(stream)) {
        if (isTemporaryName(QFile::decodeName(entry->d_name), temporaryPrefix) &&
            isAbandoned(::dirfd(stream), entry->d_name)) {
            qCInfo(lcSystem, "removing %s/%s, left by a save that never finished",
                   qPrintable(directory), entry->d_name);
            ::unlinkat(::dirfd(stream), entry->d_name, 0);
        }
    }
    ::closedir(stream);
}

// Created exclusively and locked at once; the lock lasts until the caller closes the file.
FileDescriptor createLockedPrivateFile(const QByteArray& path) {
    FileDescriptor file(::open(
        path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, privateFileMode));
    if (!file.isValid()) {
        PosixError::throwErrno();
    }
    if (::flock(file.get(), LOCK_EX) != 0) {
        PosixError::throwErrno();
    }
    // The process umask may have narrowed the mode given to open.
    if (::fchmod(file.get(), privateFileMode) != 0) {
        PosixError::throwErrno();
    }
    return file;
}

// Makes the rename durable; a directory that cannot be flushed still holds the new file.
void synchronizeDirectory(const QString& directory) {
    const FileDescriptor handle(
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle.isValid() || ::fsync(handle.get()) != 0) {
        qCDebug(lcSystem, "%s not flushed: %s", qPrintable(directory), std::strerror(errno));
    }
}

// Written under its lock and flushed to disk, ready to be renamed into place.
FileDescriptor writtenTemporaryFile(const QByteArray& path, QByteArrayView bytes) {
    FileDescriptor file = createLockedPrivateFile(path);
    file.writeAll(bytes);
    file.synchronize();
    return file;
}

void renameOrThrow(const QByteArray& from, const QByteArray& to) {
    if (::rename(from.constData(), to.constData()) != 0) {
        PosixError::throwErrno();
    }
}

std::optional<FileIdentity> identityAt(const QByteArray& path) {
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity::of(status);
}

// A file system without the exchange (or a kernel without renameat2) is only checked before
// the rename, which leaves a moment for another writer.
bool isUnsupportedRename(int error) {
    return error == EINVAL || error == ENOSYS;
}

// The temporary file takes the target's place only while the target is still the version
// `expected` (nothing: no file). Looking just before the exchange catches nearly every change
// without ever showing our version: once it is in place, an editor may read it and base its
// own save on it. The exchange swaps both names in one step, so a version that another program
// renamed into place in that last moment is caught under the temporary name and put back.
bool moveIntoPlaceIfUnchanged(const QByteArray& temporary, const QByteArray& target,
                              const std::optional<FileIdentity>& expected) {
    if (expected && identityAt(target) != expected) {
        return false;
    }
    const unsigned flags = expected ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), flags) != 0) {
        const int error = errno;
        if (error == EEXIST || error == ENOENT) {
            return false;
        }
        if (!isUnsupportedRename(error)) {
            throw PosixError::fromCode(error);
        }
        if (identityAt(target) != expected) {
            return false;
        }
        renameOrThrow(temporary, target);
        return true;
    }
    if (!expected || identityAt(temporary) == expected) {
        return true;
    }
    // Another version came in between: it goes back into place, and ours is dropped.
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(),
                    RENAME_EXCHANGE) != 0) {
        renameOrThrow(temporary, target);
    }
    return false;
}

// Writes the temporary file, then `moveIntoPlace` puts it at the path or declines; the
// temporary path is removed whatever happens.
template <typename MoveIntoPlace>
bool replaceThrough(const QString& filePath, QByteArrayView bytes, QStringView temporaryPrefix,
                    MoveIntoPlace moveIntoPlace) {
    const QString directory = directoryOf(filePath);
    removeAbandonedTemporaryFiles(directory, temporaryPrefix);
    const QByteArray temporaryPath =
        QFile::encodeName(directory + QLatin1Char('/') + temporaryName(temporaryPrefix));
    const TemporaryPathRemover remover(temporaryPath);
    FileDescriptor file = writtenTemporaryFile(temporaryPath, bytes);
    if (!moveIntoPlace(temporaryPath, QFile::encodeName(filePath))) {
        return false;
    }
    file.close();
    synchronizeDirectory(directory);
    return true;
}

}  // namespace

QString directoryOf(const QString& filePath) {
    const qsizetype slash = filePath.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) {
        return QStringLiteral(".");
    }
    return slash == 0 ? QStringLiteral("/") : filePath.first(slash);
}

void createMissingDirectories(const QString& directory) {
    const QByteArray path = QFile::encodeName(directory);
    for (qsizetype slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1)) {
        createDirectoryIfMissing(path.first(slash));
    }
    createDirectoryIfMissing(path);
    struct stat status {};
    if (::stat(path.constData(), &status) != 0) {
        PosixError::throwErrno();
    }
    if (!S_ISDIR(status.st_mode)) {
        throw PosixError::fromCode(ENOTDIR);
    }
}

void createPrivateDirectory(const QString& directory) {
    const QString parent = directoryOf(directory);
    if (parent != directory) {
        createMissingDirectories(parent);
    }
    const QByteArray path = QFile::encodeName(directory);
    createDirectoryIfMissing(path);
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0) {
        PosixError::throwErrno();
    }
    rejectUnsafeDirectory(directory, status);
    // Nobody else can swap the checked folder before the chmod: another user may plant a name
    // in a shared sticky folder, but not rename or remove this user's entry there.
    if (::chmod(path.constData(), privateDirectoryMode) != 0) {
        throw PosixError::fromCode(EACCES);
    }
}

void replaceAtomically(const QString& filePath, QByteArrayView bytes, QStringView temporaryPrefix) {
    replaceThrough(filePath, bytes, temporaryPrefix,
                   [](const QByteArray& temporary, const QByteArray& target) {
                       renameOrThrow(temporary, target);
                       return true;
                   });
}

bool replaceIfUnchanged(const QString& filePath, QByteArrayView bytes, QStringView temporaryPrefix,
                        const std::optional<FileIdentity>& expected) {
    const bool replaced =
        replaceThrough(filePath, bytes, temporaryPrefix,
                       [&expected](const QByteArray& temporary, const QByteArray& target) {
                           return moveIntoPlaceIfUnchanged(temporary, target, expected);
                       });
    if (!replaced) {
        qCDebug(lcSystem, "%s changed while it was replaced", qPrintable(filePath));
    }
    return replaced;
}

}  // namespace quorvane::PrivateFiles
