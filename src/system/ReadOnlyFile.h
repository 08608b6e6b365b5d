#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace quorvane {

// A regular file opened for reading by the readers of the agent's files. Anything else at the
// path (a symbolic link, a FIFO, a device, a folder) is refused before a byte is read, so a
// reader on the main thread can never wait on it nor be led to another file.
class ReadOnlyFile {
public:
    static std::optional<ReadOnlyFile> openRegular(const QString& path);

    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&&) = delete;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile();

    // The size when the file was opened.
    qint64 size() const { return size_; }

    // Up to `length` bytes from `offset`, fewer at the end of the file; nothing on a read error.
    std::optional<QByteArray> readAt(qint64 offset, qint64 length) const;

private:
    ReadOnlyFile(int descriptor, qint64 size) : descriptor_(descriptor), size_(size) {}

    int descriptor_;
    qint64 size_;
};

}  // namespace quorvane
