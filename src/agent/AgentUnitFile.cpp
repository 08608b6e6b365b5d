#include "agent/AgentUnitFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

#include "agent/AgentServiceError.h"
#include "config/AgentContract.h"
#include "config/PlatformWording.h"
#include "system/PosixError.h"
#include "system/PrivateFiles.h"
#include "system/ReadOnlyFile.h"

namespace quorvane {

namespace {

const QByteArray execStartKey = QByteArrayLiteral("ExecStart=");
constexpr qint64 templateSizeLimit = 64 * 1024;

[[noreturn]] void fail(int code) {
    throw PosixError::fromCode(code);
}

QString underPrefix(const QString& installPrefix, QLatin1StringView relative) {
    return QDir::cleanPath(QDir(installPrefix).absoluteFilePath(QString(relative)));
}

QByteArray readTemplate(const QString& path) {
    // Only a regular file is read, so a FIFO in place of the template cannot hold the main thread.
    const std::optional<ReadOnlyFile> file = ReadOnlyFile::openRegular(path);
    if (!file) {
        fail(errno);
    }
    if (file->size() > templateSizeLimit) {
        fail(EINVAL);
    }
    std::optional<QByteArray> content = file->readAt(0, file->size());
    if (!content) {
        fail(errno);
    }
    return *content;
}

// The agent's path as the one quoted word of ExecStart=, with '%' doubled so no specifier is
// expanded. systemd refuses a unit whose path holds a quote or a backslash, and a control
// character would end the line, so such a path is refused before anything is written.
QByteArray execStartWord(const QString& agentPath) {
    QByteArray word = "\"";
    for (const char byte : QFile::encodeName(agentPath)) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || code == 0x7f || byte == '"' || byte == '\'' || byte == '\\') {
            fail(EINVAL);
        }
        if (byte == '%') {
            word += '%';
        }
        word += byte;
    }
    return word + '"';
}

// A link to /dev/null or an empty file is the user's mask; replacing it would quietly undo
// their decision, so it stays and the manager reports the unit as masked.
bool isMask(const QString& unitPath) {
    const QByteArray path = QFile::encodeName(unitPath);
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0) {
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        return info.st_size == 0;
    }
    if (!S_ISLNK(info.st_mode)) {
        return false;
    }
    char target[16] = {};
    const ssize_t length = ::readlink(path.constData(), target, sizeof target);
    return QByteArray(target, length > 0 ? length : 0) == "/dev/null";
}

}  // namespace

AgentUnitFile::AgentUnitFile(QString installPrefix, QString userUnitDirectory)
    : installPrefix_(std::move(installPrefix)), userUnitDirectory_(std::move(userUnitDirectory)) {}

bool AgentUnitFile::isBundled(const QString& installPrefix) {
    const QByteArray agent =
        QFile::encodeName(underPrefix(installPrefix, AgentContract::bundledAgentPath));
    struct stat info {};
    if (::stat(agent.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        ::access(agent.constData(), X_OK) != 0) {
        return false;
    }
    return QFileInfo::exists(underPrefix(installPrefix, AgentContract::bundledUnitTemplatePath));
}

QString AgentUnitFile::path() const {
    return userUnitDirectory_ + QLatin1Char('/') + AgentContract::unitName;
}

// The template's one ExecStart= line names the agent where it was installed; the user unit
// names the agent where this panel finds it now, so a moved prefix keeps working.
QByteArray AgentUnitFile::render(const QByteArray& unitTemplate, const QString& agentPath,
                                 const QByteArray& serviceLines) {
    QList<QByteArray> lines = unitTemplate.split('\n');
    int execStartLines = 0;
    for (QByteArray& line : lines) {
        if (line.startsWith(execStartKey)) {
            // The lines joined below end each with '\n': the last one's comes from the join.
            line = execStartKey + execStartWord(agentPath) + '\n' + serviceLines;
            line.chop(1);
            ++execStartLines;
        }
    }
    if (execStartLines != 1) {
        fail(EINVAL);
    }
    return lines.join('\n');
}

void AgentUnitFile::write(const QByteArray& serviceLines) const {
    try {
        const QByteArray unit = render(
            readTemplate(underPrefix(installPrefix_, AgentContract::bundledUnitTemplatePath)),
            underPrefix(installPrefix_, AgentContract::bundledAgentPath), serviceLines);
        // The user's unit folder is shared with other programs: its mode is not ours to change.
        PrivateFiles::createMissingDirectories(userUnitDirectory_);
        if (!isMask(path())) {
            PrivateFiles::replaceAtomically(path(), unit, u".ru.quorvane.agent.service-");
        }
    } catch (const std::system_error& error) {
        const int code = error.code().value();
        throw AgentServiceError(
            AgentServiceError::Kind::locationUpdateFailed,
            PlatformWording::current().unitFileNotWritten(
                path(), QString::fromStdString(PosixError::category().message(code))),
            code);
    }
}

}  // namespace quorvane
