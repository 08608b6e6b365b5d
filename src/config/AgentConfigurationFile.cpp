#include "config/AgentConfigurationFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>
#include <QStringDecoder>
#include <cerrno>

#include "config/AgentConfigurationError.h"
#include "config/AgentConfigurationStore.h"
#include "config/ConfigLogging.h"
#include "config/ConfigurationText.h"
#include "system/FileDescriptor.h"
#include "system/PosixError.h"
#include "system/PrivateFiles.h"

namespace quorvane {

namespace {

constexpr qsizetype maximumFileSize = 1024 * 1024;
constexpr QStringView temporaryFilePrefix = u".quorvane-agent-conf-";
// Each attempt of an update lasts a read and a flushed write; an editor saving by hand is done
// long before these run out.
constexpr int updateAttempts = 20;

// O_NONBLOCK: a FIFO put at the path must not stall the open; O_NOCTTY: nor may a terminal
// device become the panel's controlling terminal before fstat refuses it.
FileDescriptor openForReading(const QString& fileURL) {
    return FileDescriptor(::open(QFile::encodeName(fileURL).constData(),
                                 O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}

using UnsafeFile = AgentConfigurationError::UnsafeFile;

UnsafeFile unsafeFileOfType(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFLNK:
            return UnsafeFile::symbolicLink;
        case S_IFDIR:
            return UnsafeFile::folder;
        case S_IFIFO:
            return UnsafeFile::fifo;
        case S_IFSOCK:
            return UnsafeFile::socket;
        case S_IFCHR:
        case S_IFBLK:
            return UnsafeFile::device;
        default:
            return UnsafeFile::otherFile;
    }
}

// What is at the path instead of a regular file, or nothing when it is one or there is none.
std::optional<UnsafeFile> unsafeFileAt(const QByteArray& path) {
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    if (S_ISLNK(status.st_mode)) {
        return ::stat(path.constData(), &status) == 0 ? UnsafeFile::symbolicLink
                                                      : UnsafeFile::danglingLink;
    }
    return unsafeFileOfType(status.st_mode);
}

// ELOOP: the last component is a symbolic link. ENXIO: a socket or a device without a driver,
// which cannot be opened at all. Either is told apart by looking at the path itself.
std::optional<UnsafeFile> refusedSpecialFile(const QString& fileURL, int openError) {
    if (openError != ELOOP && openError != ENXIO) {
        return std::nullopt;
    }
    return unsafeFileAt(QFile::encodeName(fileURL))
        .value_or(openError == ELOOP ? UnsafeFile::symbolicLink : UnsafeFile::otherFile);
}

QString decodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) {
        throw AgentConfigurationError::malformedConfiguration(
            QStringLiteral("файл не является UTF-8"));
    }
    return text;
}

// A dangling link is simply replaced by the rename; anything else that is no regular file is
// refused rather than replaced or written through.
void rejectUnsafeFile(const QString& fileURL) {
    const std::optional<UnsafeFile> found = unsafeFileAt(QFile::encodeName(fileURL));
    if (found && found != UnsafeFile::danglingLink) {
        throw AgentConfigurationError::unsafeConfigurationFile(*found);
    }
}

// A path the file could not give back unchanged is never written.
void rejectUnwritableRoots(const AgentConfiguration& configuration) {
    for (const WorkspaceRootConfiguration& root : configuration.workspaceRoots) {
        if (!ConfigurationText::survivesConfigurationFile(root.path)) {
            throw AgentConfigurationError::invalidWorkspacePath();
        }
    }
}

}  // namespace

AgentConfigurationFile::AgentConfigurationFile(QString fileURL) : fileURL_(std::move(fileURL)) {}

AgentConfiguration AgentConfigurationFile::loadFile() const {
    return read().configuration;
}

AgentConfigurationFile::Version AgentConfigurationFile::read() const {
    FileDescriptor file = openForReading(fileURL_);
    if (!file.isValid()) {
        const int openError = errno;
        if (openError == ENOENT) {
            return {AgentConfiguration::empty(), std::nullopt};
        }
        if (const auto found = refusedSpecialFile(fileURL_, openError)) {
            throw AgentConfigurationError::unsafeConfigurationFile(*found);
        }
        throw PosixError::fromCode(openError);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        PosixError::throwErrno();
    }
    if (!S_ISREG(status.st_mode)) {
        throw AgentConfigurationError::unsafeConfigurationFile(unsafeFileOfType(status.st_mode));
    }
    if (status.st_size > maximumFileSize) {
        throw AgentConfigurationError::configurationTooLarge();
    }
    // The file may grow after fstat; reading one byte past the cap tells.
    const QByteArray bytes = file.readAtMost(maximumFileSize + 1);
    if (bytes.size() > maximumFileSize) {
        throw AgentConfigurationError::configurationTooLarge();
    }
    file.close();
    return {AgentConfigurationStore::parse(decodeUtf8(bytes)), FileIdentity::of(status)};
}

// Checked before anything is created, so a refused configuration leaves no trace.
QByteArray AgentConfigurationFile::writableBytes(const AgentConfiguration& configuration) const {
    rejectUnwritableRoots(configuration);
    QByteArray bytes = AgentConfigurationStore::serialize(configuration).toUtf8();
    if (bytes.size() > maximumFileSize) {
        throw AgentConfigurationError::configurationTooLarge();
    }
    PrivateFiles::createPrivateDirectory(PrivateFiles::directoryOf(fileURL_));
    rejectUnsafeFile(fileURL_);
    return bytes;
}

void AgentConfigurationFile::save(const AgentConfiguration& configuration) const {
    PrivateFiles::replaceAtomically(fileURL_, writableBytes(configuration), temporaryFilePrefix);
}

void AgentConfigurationFile::update(const std::function<void(AgentConfiguration&)>& change) const {
    for (int attempt = 0; attempt < updateAttempts; ++attempt) {
        Version version = read();
        change(version.configuration);
        if (PrivateFiles::replaceIfUnchanged(fileURL_, writableBytes(version.configuration),
                                             temporaryFilePrefix, version.identity)) {
            return;
        }
        qCDebug(lcConfig, "the configuration file changed while it was saved; reading it again");
    }
    qCWarning(lcConfig, "the configuration file kept changing; %d saves given up", updateAttempts);
    throw AgentConfigurationError::configurationChangedDuringSave();
}

}  // namespace quorvane
