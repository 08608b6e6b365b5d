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
#include <QStandardPaths>
#include <QStringList>
#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

#include "agent/AgentServiceError.h"
#include "config/AgentContract.h"
#include "config/PlatformWording.h"
#include "system/PrivateFiles.h"
#include "system/ReadOnlyFile.h"

namespace quorvane {

namespace {

const QString managerService = QStringLiteral("org.freedesktop.systemd1");
const QString managerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString managerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");

const QByteArray execStartKey = QByteArrayLiteral("ExecStart=");
constexpr qint64 templateSizeLimit = 64 * 1024;

QString unknownStatusText() {
    return PlatformWording::current().unknownUnitState();
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

QByteArray readTemplate(const QString& path) {
    // Only a regular file is read, so a FIFO in place of the template cannot hold the main thread.
    const std::optional<ReadOnlyFile> file = ReadOnlyFile::openRegular(path);
    if (!file) {
        failLocation(errno);
    }
    if (file->size() > templateSizeLimit) {
        failLocation(EINVAL);
    }
    std::optional<QByteArray> content = file->readAt(0, file->size());
    if (!content) {
        failLocation(errno);
    }
    return *content;
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

// The template's one ExecStart= line names the agent where it was installed; the user unit
// names the agent where this panel finds it now, so a moved prefix keeps working.
QByteArray withAgentPath(const QByteArray& unitTemplate, const QString& agentPath) {
    QList<QByteArray> lines = unitTemplate.split('\n');
    int execStartLines = 0;
    for (QByteArray& line : lines) {
        if (line.startsWith(execStartKey)) {
            line = execStartKey + execStartWord(agentPath);
            ++execStartLines;
        }
    }
    if (execStartLines != 1) {
        failLocation(EINVAL);
    }
    return lines.join('\n');
}

// A unit file that is a link to /dev/null is the user's mask; replacing it would quietly
// undo their decision, so it stays and the manager reports the unit as masked.
bool isMask(const QString& unitPath) {
    const QByteArray path = QFile::encodeName(unitPath);
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return false;
    }
    char target[16] = {};
    const ssize_t length = ::readlink(path.constData(), target, sizeof target);
    return QByteArray(target, length > 0 ? length : 0) == "/dev/null";
}

// Replaces the user unit in one step, so a crash leaves the old or the new file.
void replaceUnitFile(const QString& directory, const QByteArray& content) {
    const QString unitPath = directory + QLatin1Char('/') + unitName();
    try {
        // The user's unit folder is shared with other programs: its mode is not ours to change.
        PrivateFiles::createMissingDirectories(directory);
        if (isMask(unitPath)) {
            return;
        }
        PrivateFiles::replaceAtomically(unitPath, content, u".ru.quorvane.agent.service-");
    } catch (const std::system_error& error) {
        failLocation(error.code().value());
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
    const QByteArray unit = withAgentPath(
        readTemplate(underPrefix(installPrefix_, AgentContract::bundledUnitTemplatePath)),
        agentPath);
    replaceUnitFile(userUnitDirectory_, unit);

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
