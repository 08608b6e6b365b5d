#include "AgentLog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QFile>

#include "AgentProcessLogging.h"
#include "config/LineBreaks.h"
#include "system/PosixError.h"
#include "system/PrivateFiles.h"
#include "system/QuorvaneError.h"

namespace quorvane {

namespace {

// A message that carries a line break (a path, a nested error text) must still be one line.
QString asOneLine(QString message) {
    for (QChar& character : message) {
        if (LineBreaks::isLineBreak(character)) {
            character = QLatin1Char(' ');
        }
    }
    return message;
}

[[noreturn]] void refuseNonRegularFile(const QString& path) {
    throw QuorvaneError(QStringLiteral("Журнал агента должен быть обычным файлом: ") + path);
}

// Only a regular file is written. O_NONBLOCK: a FIFO put at the path must not stall the
// agent (without a reader the open fails at once, with one the file type refuses it).
FileDescriptor openRegularForAppending(const QString& path) {
    FileDescriptor file(::open(
        QFile::encodeName(path).constData(),
        O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    struct stat status {};
    if (!file.isValid()) {
        const int openError = errno;
        if (::lstat(QFile::encodeName(path).constData(), &status) == 0 &&
            !S_ISREG(status.st_mode)) {
            refuseNonRegularFile(path);
        }
        throw PosixError::fromCode(openError);
    }
    if (::fstat(file.get(), &status) != 0) {
        PosixError::throwErrno();
    }
    if (!S_ISREG(status.st_mode)) {
        refuseNonRegularFile(path);
    }
    return file;
}

}  // namespace

AgentLog::AgentLog(QString path) : path_(std::move(path)) {}

// Opened on the first event and kept open; a failed open is tried again with the next event.
const FileDescriptor& AgentLog::file() {
    if (!file_) {
        // The log's folder lies in the state folder, which must be just as private.
        const QString folder = PrivateFiles::directoryOf(path_);
        PrivateFiles::createPrivateDirectory(PrivateFiles::directoryOf(folder));
        PrivateFiles::createPrivateDirectory(folder);
        file_.emplace(openRegularForAppending(path_));
    }
    return *file_;
}

void AgentLog::write(const QString& message) noexcept {
    const QByteArray line = (QDateTime::currentDateTimeUtc().toString(Qt::ISODate) +
                             QStringLiteral("  ") + asOneLine(message) + QLatin1Char('\n'))
                                .toUtf8();
    try {
        file().writeAll(line);
    } catch (const std::exception& error) {
        qCWarning(lcAgentProcess, "cannot write the log: %s; the event was: %s", error.what(),
                  line.trimmed().constData());
    }
}

}  // namespace quorvane
