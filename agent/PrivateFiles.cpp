#include "PrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <system_error>

namespace quorvane::PrivateFiles {

namespace {

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void createDirectory(const QByteArray& path) {
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        throwErrno("не удалось создать папку");
    }
}

void flushDirectory(const QString& path) {
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

void writeTemporaryFile(const QByteArray& path, const QByteArray& bytes) {
    const int descriptor =
        ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        throwErrno("не удалось создать временный файл");
    }
    try {
        writeAll(descriptor, bytes);
        if (::fsync(descriptor) != 0) {
            throwErrno("не удалось сохранить временный файл");
        }
    } catch (...) {
        ::close(descriptor);
        throw;
    }
    if (::close(descriptor) != 0) {
        throwErrno("не удалось закрыть временный файл");
    }
}

}  // namespace

void ensureDirectory(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    for (qsizetype slash = encoded.indexOf('/', 1); slash > 0;
         slash = encoded.indexOf('/', slash + 1)) {
        createDirectory(encoded.first(slash));
    }
    createDirectory(encoded);
    if (::chmod(encoded.constData(), 0700) != 0) {
        throwErrno("не удалось закрыть доступ к папке");
    }
}

void replaceAtomically(const QString& path, const QByteArray& bytes) {
    const QString folder = QFileInfo(path).absolutePath();
    const QByteArray temporary = QFile::encodeName(
        folder + QStringLiteral("/.") + QFileInfo(path).fileName() + QLatin1Char('-') +
        QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".tmp"));
    try {
        writeTemporaryFile(temporary, bytes);
        if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
            throwErrno("не удалось заменить файл");
        }
    } catch (...) {
        ::unlink(temporary.constData());
        throw;
    }
    flushDirectory(folder);
}

void writeAll(int descriptor, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            ::write(descriptor, bytes.constData() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            throwErrno("не удалось записать файл");
        }
        written += count;
    }
}

}  // namespace quorvane::PrivateFiles
