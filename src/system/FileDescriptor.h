#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace quorvane {

// Owns a POSIX file descriptor. Releasing it closes the descriptor and ignores the outcome;
// close() reports it. Operations throw std::system_error with errno.
class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : descriptor_(other.descriptor_) {
        other.descriptor_ = -1;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    bool isValid() const { return descriptor_ >= 0; }
    int get() const { return descriptor_; }

    // Reads until the end of the file, but never more than `limit` bytes.
    QByteArray readAtMost(qsizetype limit) const;
    void writeAll(QByteArrayView bytes) const;
    void synchronize() const;
    void close();

private:
    int descriptor_;
};

}  // namespace quorvane
