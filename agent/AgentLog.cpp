#include "AgentLog.h"

#include <fcntl.h>

#include <QDateTime>
#include <QFile>
#include <cstdio>

#include "config/LineBreaks.h"
#include "config/PosixError.h"
#include "config/PrivateFiles.h"

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

}  // namespace

AgentLog::AgentLog(QString path) : path_(std::move(path)) {}

// Opened on the first event and kept open; a failed open is tried again with the next event.
const FileDescriptor& AgentLog::file() {
    if (!file_) {
        PrivateFiles::createPrivateDirectory(PrivateFiles::directoryOf(path_));
        const int descriptor = ::open(QFile::encodeName(path_).constData(),
                                      O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (descriptor < 0) {
            PosixError::throwErrno();
        }
        file_.emplace(descriptor);
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
        std::fprintf(stderr, "quorvane-agent: %s\n%s", error.what(), line.constData());
    }
}

}  // namespace quorvane
