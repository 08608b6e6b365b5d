#include "system/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "system/SystemLogging.h"

namespace quorvane {

std::optional<ReadOnlyFile> ReadOnlyFile::openRegular(const QString& path) {
    // O_NONBLOCK: opening a FIFO without a writer must not wait; it is refused below anyway.
    // O_NOFOLLOW: a link put in the agent's place must not show another file (/etc/shadow to
    // a panel run as root); O_NOCTTY: nor may a terminal become the controlling one.
    const int descriptor = ::open(QFile::encodeName(path).constData(),
                                  O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (descriptor < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        qCDebug(lcSystem, "%s is not a regular file; not read", qPrintable(path));
        ::close(descriptor);
        return std::nullopt;
    }
    return ReadOnlyFile(descriptor, status.st_size);
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : descriptor_(other.descriptor_), size_(other.size_) {
    other.descriptor_ = -1;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

std::optional<QByteArray> ReadOnlyFile::readAt(qint64 offset, qint64 length) const {
    QByteArray bytes(length, Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < length) {
        const ssize_t count =
            ::pread(descriptor_, bytes.data() + filled, length - filled, offset + filled);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            qCDebug(lcSystem, "read failed: %s", std::strerror(errno));
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        filled += count;
    }
    bytes.truncate(filled);
    return bytes;
}

}  // namespace quorvane
