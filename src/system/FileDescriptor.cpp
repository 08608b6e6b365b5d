#include "system/FileDescriptor.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "system/PosixError.h"

namespace quorvane {

FileDescriptor::~FileDescriptor() {
    if (isValid()) {
        ::close(descriptor_);
    }
}

QByteArray FileDescriptor::readAtMost(qsizetype limit) const {
    constexpr qsizetype chunkSize = 64 * 1024;
    QByteArray bytes;
    while (bytes.size() < limit) {
        const qsizetype offset = bytes.size();
        bytes.resize(offset + std::min(chunkSize, limit - offset));
        const ssize_t count = ::read(descriptor_, bytes.data() + offset, bytes.size() - offset);
        if (count < 0 && errno == EINTR) {
            bytes.resize(offset);
            continue;
        }
        if (count < 0) {
            PosixError::throwErrno();
        }
        bytes.resize(offset + count);
        if (count == 0) {
            break;
        }
    }
    return bytes;
}

void FileDescriptor::writeAll(QByteArrayView bytes) const {
    while (!bytes.isEmpty()) {
        const ssize_t count = ::write(descriptor_, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            PosixError::throwErrno();
        }
        bytes = bytes.sliced(count);
    }
}

void FileDescriptor::synchronize() const {
    if (::fsync(descriptor_) != 0) {
        PosixError::throwErrno();
    }
}

void FileDescriptor::close() {
    const int descriptor = std::exchange(descriptor_, -1);
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    if (::close(descriptor) != 0) {
        PosixError::throwErrno();
    }
}

}  // namespace quorvane
