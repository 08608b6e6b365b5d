// The input rules for tokens, folder identifiers and folder paths, and the folder access probe.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <cerrno>

#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationStore.h"
#include "config/ConfigurationText.h"
#include "system/FileDescriptor.h"

namespace quorvane {

namespace {

constexpr QStringView tokenPrefix = u"qv_agent_";
constexpr qsizetype tokenLength = 52;
constexpr QStringView tokenAlphabet =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

bool isTokenSyntax(QStringView token) {
    if (token.size() != tokenLength || !token.startsWith(tokenPrefix)) {
        return false;
    }
    const QStringView tail = token.sliced(tokenPrefix.size());
    return std::all_of(tail.begin(), tail.end(),
                       [](QChar character) { return tokenAlphabet.contains(character); });
}

// The path with every symbolic link resolved, or the path itself when it cannot be resolved.
QString resolvedPath(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : ConfigurationText::standardizedPath(canonical);
}

QString resolvedHomePath() {
    return resolvedPath(ConfigurationText::standardizedPath(QDir::homePath()));
}

// Closes the directory stream on every exit of the probe.
class DirectoryStream {
public:
    explicit DirectoryStream(const QString& path) : stream_(opendir(QFile::encodeName(path))) {}
    ~DirectoryStream() {
        if (stream_ != nullptr) {
            closedir(stream_);
        }
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;

    bool isOpen() const { return stream_ != nullptr; }
    bool canReadAnEntry() {
        errno = 0;
        readdir(stream_);
        return errno == 0;
    }
    int descriptor() const { return dirfd(stream_); }

private:
    DIR* stream_;
};

bool canCreateAndRemoveProbeFile(const DirectoryStream& directory) {
    const QByteArray name = QByteArrayLiteral(".quorvane-access-check-") +
                            QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
    const FileDescriptor probe(openat(directory.descriptor(), name.constData(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!probe.isValid()) {
        return false;
    }
    return unlinkat(directory.descriptor(), name.constData(), 0) == 0;
}

}  // namespace

QString AgentConfigurationStore::validateToken(const QString& text) {
    const QStringView token = ConfigurationText::trimmedSpacesAndLineBreaks(text);
    if (!isTokenSyntax(token)) {
        throw AgentConfigurationError::invalidToken();
    }
    return token.toString();
}

QString AgentConfigurationStore::validateWorkspaceID(const QString& text) {
    std::optional<QString> id = ConfigurationText::normalizedWorkspaceID(text);
    if (!id) {
        throw AgentConfigurationError::invalidWorkspaceID();
    }
    return *std::move(id);
}

// The path is taken exactly as chosen: trimming "…/Project " would bind the sibling "…/Project".
QString AgentConfigurationStore::validateWorkspacePath(const QString& path) {
    if (ConfigurationText::isUnusablePath(path)) {
        throw AgentConfigurationError::invalidWorkspacePath();
    }
    const QString standard = ConfigurationText::standardizedPath(path);
    const QString resolved = resolvedPath(standard);
    if (resolved == u"/" || resolved == resolvedHomePath()) {
        throw AgentConfigurationError::rootTooBroad();
    }
    if (!QFileInfo(standard).isDir() || !ConfigurationText::survivesConfigurationFile(standard)) {
        throw AgentConfigurationError::invalidWorkspacePath();
    }
    return standard;
}

void AgentConfigurationStore::probeWorkspaceAccess(const QString& path, bool writeEnabled) {
    DirectoryStream directory(path);
    if (!directory.isOpen() || !directory.canReadAnEntry()) {
        throw AgentConfigurationError::workspaceAccessDenied();
    }
    if (writeEnabled && !canCreateAndRemoveProbeFile(directory)) {
        throw AgentConfigurationError::workspaceAccessDenied();
    }
}

}  // namespace quorvane
