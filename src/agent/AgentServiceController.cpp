#include "agent/AgentServiceController.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringList>
#include <cerrno>
#include <utility>

#include "agent/AgentServiceError.h"
#include "config/AgentContract.h"

namespace quorvane {

namespace {

const QString managerService = QStringLiteral("org.freedesktop.systemd1");
const QString managerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString managerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");

const QByteArray agentPlaceholder = QByteArrayLiteral("@QUORVANE_AGENT@");
constexpr qint64 templateSizeLimit = 64 * 1024;

QString unknownStatusText() {
    return QStringLiteral("macOS вернула неизвестное состояние фоновой службы");
}

QString locationFailureText() {
    return QStringLiteral(
        "macOS не смогла обновить расположение Quorvane. Переместите приложение в «Программы» и "
        "откройте снова.");
}

QString unitName() {
    return QString(AgentContract::unitName);
}

QString underPrefix(const QString& installPrefix, QLatin1StringView relative) {
    return QDir::cleanPath(QDir(installPrefix).absoluteFilePath(QString(relative)));
}

[[noreturn]] void failLocation(int code) {
    throw AgentServiceError(AgentServiceError::Kind::locationUpdateFailed, locationFailureText(),
                            code != 0 ? code : EIO);
}

AgentServiceError managerError(const QDBusError& error) {
    static const QStringList refusals{
        QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
        QStringLiteral("org.freedesktop.systemd1.UnitMasked"),
        QStringLiteral("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"),
    };
    const auto kind = refusals.contains(error.name()) ? AgentServiceError::Kind::refused
                                                      : AgentServiceError::Kind::other;
    const QString description = error.message().isEmpty() ? error.name() : error.message();
    return AgentServiceError(kind, description, int(error.type()));
}

bool isUnknownUnit(const QDBusError& error) {
    return error.name() == QLatin1String("org.freedesktop.DBus.Error.FileNotFound") ||
           error.name() == QLatin1String("org.freedesktop.systemd1.NoSuchUnit") ||
           error.message() == QLatin1String("No such file or directory");
}

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~FileDescriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return descriptor_; }
    // Closes now so that a failing close is seen (it can report a lost write).
    int close() { return ::close(std::exchange(descriptor_, -1)); }

private:
    int descriptor_;
};

QByteArray readTemplate(const QString& path) {
    // Non-blocking so that a FIFO in place of the template cannot hold the main thread.
    FileDescriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0) {
        failLocation(errno);
    }
    if (!S_ISREG(info.st_mode) || info.st_size > templateSizeLimit) {
        failLocation(EINVAL);
    }
    QByteArray content(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < content.size()) {
        const ssize_t count = ::read(file.get(), content.data() + filled, content.size() - filled);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            failLocation(errno);
        }
        if (count == 0) {
            break;
        }
        filled += count;
    }
    content.truncate(filled);
    return content;
}

// The agent's path as the one word of ExecStart=: quoted for the spaces, with the quoting
// characters escaped and '%' doubled so no specifier is expanded. A control character would
// end the line or the word inside the unit file, so such a path cannot be written at all.
QByteArray execStartWord(const QString& agentPath) {
    QByteArray word = "\"";
    for (const char byte : QFile::encodeName(agentPath)) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || code == 0x7f) {
            failLocation(EINVAL);
        }
        if (byte == '"' || byte == '\\') {
            word += '\\';
        } else if (byte == '%') {
            word += '%';
        }
        word += byte;
    }
    return word + '"';
}

void writeAll(int descriptor, const QByteArray& content) {
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t count =
            ::write(descriptor, content.constData() + written, content.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            failLocation(errno);
        }
        written += count;
    }
}

void makeDirectories(const QString& directory) {
    QString path;
    for (const QString& part : QDir::cleanPath(directory).split(QLatin1Char('/'))) {
        path += part + QLatin1Char('/');
        if (part.isEmpty()) {
            continue;
        }
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) {
            failLocation(errno);
        }
    }
}

// A unit file that is a link to /dev/null is the user's mask; replacing it would quietly
// undo their decision, so it stays and the manager reports the unit as masked.
bool isMask(int directory, const QByteArray& name) {
    struct stat info {};
    if (::fstatat(directory, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(info.st_mode)) {
        return false;
    }
    char target[16] = {};
    const ssize_t length = ::readlinkat(directory, name.constData(), target, sizeof target);
    return QByteArray(target, length > 0 ? length : 0) == "/dev/null";
}

// Replaces directory/name with content: a fresh 0600 file in the same directory, flushed,
// renamed over the old one, and the directory flushed, so a crash leaves old or new.
void replaceFile(const QString& directory, const QString& name, const QByteArray& content) {
    makeDirectories(directory);
    FileDescriptor folder(
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        failLocation(errno);
    }
    const QByteArray finalName = QFile::encodeName(name);
    if (isMask(folder.get(), finalName)) {
        return;
    }
    const QByteArray temporaryName =
        '.' + finalName + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    FileDescriptor file(::openat(folder.get(), temporaryName.constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0) {
        failLocation(errno);
    }
    try {
        if (::fchmod(file.get(), 0600) != 0) {
            failLocation(errno);
        }
        writeAll(file.get(), content);
        if (::fsync(file.get()) != 0 || file.close() != 0 ||
            ::renameat(folder.get(), temporaryName.constData(), folder.get(),
                       finalName.constData()) != 0) {
            failLocation(errno);
        }
    } catch (...) {
        ::unlinkat(folder.get(), temporaryName.constData(), 0);
        throw;
    }
    if (::fsync(folder.get()) != 0) {
        failLocation(errno);
    }
}

}  // namespace

AgentServiceController::AgentServiceController(QString installPrefix, QDBusConnection bus,
                                               QString userUnitDirectory, int callTimeoutMs)
    : installPrefix_(std::move(installPrefix)),
      bus_(std::move(bus)),
      userUnitDirectory_(std::move(userUnitDirectory)),
      callTimeoutMs_(callTimeoutMs) {}

QString AgentServiceController::defaultUserUnitDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/systemd/user");
}

bool AgentServiceController::hasBundledService(const QString& installPrefix) {
    const QByteArray agent =
        QFile::encodeName(underPrefix(installPrefix, AgentContract::bundledAgentPath));
    struct stat info {};
    if (::stat(agent.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        ::access(agent.constData(), X_OK) != 0) {
        return false;
    }
    return QFileInfo::exists(underPrefix(installPrefix, AgentContract::bundledUnitTemplatePath));
}

void AgentServiceController::refresh() {
    const RegistrationStatus status = readStatus();
    switch (status) {
        case RegistrationStatus::notRegistered:
            state_ = AgentServiceState::stopped();
            break;
        case RegistrationStatus::enabled:
            state_ = launchRequested_ ? AgentServiceState::running() : AgentServiceState::stopped();
            break;
        case RegistrationStatus::requiresApproval:
            state_ = AgentServiceState::requiresApproval();
            break;
        case RegistrationStatus::notFound:
            state_ = hasBundledService(installPrefix_) ? AgentServiceState::stopped()
                                                       : AgentServiceState::unavailable();
            break;
        case RegistrationStatus::unknown:
            state_ = AgentServiceState::failed(unknownStatusText());
            break;
    }
}

void AgentServiceController::setEnabled(bool enabled) {
    if (enabled) {
        writeUserUnit();
        registerUnit();
        launchRequested_ = true;
    } else {
        callManager(QStringLiteral("StopUnit"), {unitName(), QStringLiteral("replace")});
        callManager(QStringLiteral("DisableUnitFiles"), {QStringList{unitName()}, false});
        launchRequested_ = false;
    }
    refresh();
}

void AgentServiceController::start(StartCompletion completion) {
    const RegistrationStatus status = readStatus();
    if (status == RegistrationStatus::enabled || status == RegistrationStatus::requiresApproval) {
        unregisterThenRegister(std::move(completion));
    } else {
        registerAnew(completion);
    }
}

AgentServiceController::RegistrationStatus AgentServiceController::readStatus() const {
    const QDBusMessage reply = sendToManager(QStringLiteral("GetUnitFileState"), {unitName()});
    if (reply.type() == QDBusMessage::ErrorMessage) {
        return isUnknownUnit(QDBusError(reply)) ? RegistrationStatus::notFound
                                                : RegistrationStatus::unknown;
    }
    const QVariantList arguments = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || arguments.size() != 1 ||
        arguments.first().metaType() != QMetaType::fromType<QString>()) {
        return RegistrationStatus::unknown;
    }
    const QString unitFileState = arguments.first().toString();
    if (unitFileState == QLatin1String("enabled") ||
        unitFileState == QLatin1String("enabled-runtime")) {
        return RegistrationStatus::enabled;
    }
    if (unitFileState == QLatin1String("masked") ||
        unitFileState == QLatin1String("masked-runtime")) {
        return RegistrationStatus::requiresApproval;
    }
    return RegistrationStatus::notRegistered;
}

QDBusMessage AgentServiceController::sendToManager(const QString& method,
                                                   const QVariantList& arguments) const {
    QDBusMessage message =
        QDBusMessage::createMethodCall(managerService, managerPath, managerInterface, method);
    message.setArguments(arguments);
    return bus_.call(message, QDBus::Block, callTimeoutMs_);
}

void AgentServiceController::callManager(const QString& method,
                                         const QVariantList& arguments) const {
    const QDBusMessage reply = sendToManager(method, arguments);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        throw managerError(QDBusError(reply));
    }
}

void AgentServiceController::writeUserUnit() const {
    const QString agentPath = underPrefix(installPrefix_, AgentContract::bundledAgentPath);
    QByteArray unit =
        readTemplate(underPrefix(installPrefix_, AgentContract::bundledUnitTemplatePath));
    if (!unit.contains(agentPlaceholder)) {
        failLocation(EINVAL);
    }
    unit.replace(agentPlaceholder, execStartWord(agentPath));
    replaceFile(userUnitDirectory_, unitName(), unit);

    const QDBusMessage reply = sendToManager(QStringLiteral("Reload"), {});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        failLocation(int(QDBusError(reply).type()));
    }
}

void AgentServiceController::registerUnit() const {
    callManager(QStringLiteral("EnableUnitFiles"), {QStringList{unitName()}, false, true});
    try {
        callManager(QStringLiteral("StartUnit"), {unitName(), QStringLiteral("replace")});
    } catch (const AgentServiceError&) {
        // A unit left enabled but not started would start at the next login although
        // switching on was reported as failed.
        sendToManager(QStringLiteral("DisableUnitFiles"), {QStringList{unitName()}, false});
        throw;
    }
}

void AgentServiceController::registerAnew(const StartCompletion& completion) {
    launchRequested_ = false;
    try {
        setEnabled(true);
    } catch (...) {
        completion(std::current_exception());
        return;
    }
    completion(nullptr);
}

void AgentServiceController::unregisterThenRegister(StartCompletion completion) {
    whenAnswered(
        QStringLiteral("StopUnit"), {unitName(), QStringLiteral("replace")},
        [this, completion] {
            whenAnswered(
                QStringLiteral("DisableUnitFiles"), {QStringList{unitName()}, false},
                [this, completion] { registerAnew(completion); }, completion);
        },
        completion);
}

void AgentServiceController::whenAnswered(const QString& method, const QVariantList& arguments,
                                          std::function<void()> next, StartCompletion completion) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(managerService, managerPath, managerInterface, method);
    message.setArguments(arguments);
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(message, callTimeoutMs_), &pendingCalls_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &pendingCalls_,
                     [next = std::move(next),
                      completion = std::move(completion)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (finished->isError()) {
                             completion(std::make_exception_ptr(managerError(finished->error())));
                         } else {
                             next();
                         }
                     });
}

}  // namespace quorvane
