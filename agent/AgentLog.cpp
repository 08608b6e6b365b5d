#include "AgentLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "PrivateFiles.h"
#include "config/LineBreaks.h"

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

AgentLog::~AgentLog() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

void AgentLog::open() {
    PrivateFiles::ensureDirectory(QFileInfo(path_).absolutePath());
    descriptor_ = ::open(QFile::encodeName(path_).constData(),
                         O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor_ < 0) {
        throw std::system_error(errno, std::generic_category(), "не удалось открыть журнал");
    }
}

void AgentLog::write(const QString& message) noexcept {
    const QByteArray line = (QDateTime::currentDateTimeUtc().toString(Qt::ISODate) +
                             QStringLiteral("  ") + asOneLine(message) + QLatin1Char('\n'))
                                .toUtf8();
    try {
        if (descriptor_ < 0) {
            open();
        }
        PrivateFiles::writeAll(descriptor_, line);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quorvane-agent: %s\n%s", error.what(), line.constData());
    }
}

}  // namespace quorvane
