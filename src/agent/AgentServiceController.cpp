#include "agent/AgentServiceController.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantMap>
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

using namespace Qt::StringLiterals;

namespace {

const QString managerService = u"org.freedesktop.systemd1"_s;
const QString managerPath = u"/org/freedesktop/systemd1"_s;
const QString managerInterface = u"org.freedesktop.systemd1.Manager"_s;
const QString unitInterface = u"org.freedesktop.systemd1.Unit"_s;
const QString propertiesInterface = u"org.freedesktop.DBus.Properties"_s;

const QByteArray execStartKey = QByteArrayLiteral("ExecStart=");
constexpr qint64 templateSizeLimit = 64 * 1024;

QString unknownStatusText() {
    return PlatformWording::current().unknownUnitState();
}

QString noManagerText(const QDBusError& error) {
    return PlatformWording::current().noServiceManager(error.message().isEmpty() ? error.name()
                                                                                 : error.message());
}

QString agentFailedText() {
    return u"Агент завершился с ошибкой. Выключите и включите агент. Если ошибка повторится, "
           u"посмотрите журнал службы: journalctl --user -u ru.quorvane.agent.service"_s;
}

QString agentRestartingText() {
    return u"Агент аварийно завершается, и systemd перезапускает его. Выключите агент и "
           u"посмотрите журнал службы: journalctl --user -u ru.quorvane.agent.service"_s;
}

QString stoppedButEnabledText() {
    return u"Агент остановлен, но остаётся в автозапуске systemd. Выключите агент ещё раз, "
           u"чтобы убрать его из автозапуска."_s;
}

QString runtimeMaskText() {
    return u"Фоновый запуск Quorvane запрещён временной маской systemd, которую панель не "
           u"снимает. Снимите её командой: systemctl --user unmask --runtime "
           u"ru.quorvane.agent.service"_s;
}

QString persistentMaskText() {
    return u"Фоновый запуск Quorvane запрещён маской systemd, которую панель снять не может. "
           u"Снимите её командой: systemctl --user unmask ru.quorvane.agent.service"_s;
}

QString unitName() {
    return QString(AgentContract::unitName);
}

QString underPrefix(const QString& installPrefix, QLatin1StringView relative) {
    return QDir::cleanPath(QDir(installPrefix).absoluteFilePath(QString(relative)));
}

QString userUnitPath(const QString& userUnitDirectory) {
    return userUnitDirectory + QLatin1Char('/') + unitName();
}

AgentServiceError unitNotWritten(const QString& unitPath, const QString& reason, int code) {
    return AgentServiceError(AgentServiceError::Kind::locationUpdateFailed,
                             PlatformWording::current().unitFileNotWritten(unitPath, reason), code);
}

// Raised while the unit is being made; writeUserUnit names the unit file it was meant for.
[[noreturn]] void failLocation(int code) {
    throw PosixError::fromCode(code);
}

AgentServiceError managerError(const QDBusError& error) {
    static const QStringList refusals{
        u"org.freedesktop.DBus.Error.AccessDenied"_s,
        u"org.freedesktop.systemd1.UnitMasked"_s,
        u"org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"_s,
    };
    const auto kind = refusals.contains(error.name()) ? AgentServiceError::Kind::refused
                                                      : AgentServiceError::Kind::other;
    const QString description = error.message().isEmpty() ? error.name() : error.message();
    return AgentServiceError(kind, description, int(error.type()));
}

std::exception_ptr managerFailure(const QDBusError& error) {
    return std::make_exception_ptr(managerError(error));
}

bool isUnknownUnit(const QDBusError& error) {
    return error.name() == "org.freedesktop.DBus.Error.FileNotFound"_L1 ||
           error.name() == "org.freedesktop.systemd1.NoSuchUnit"_L1 ||
           error.message() == "No such file or directory"_L1;
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

// The agent's path as the one quoted word of ExecStart=, with '%' doubled so no specifier is
// expanded. systemd refuses a unit whose path holds a quote or a backslash, and a control
// character would end the line, so such a path is refused before anything is written.
QByteArray execStartWord(const QString& agentPath) {
    QByteArray word = "\"";
    for (const char byte : QFile::encodeName(agentPath)) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || code == 0x7f || byte == '"' || byte == '\'' || byte == '\\') {
            failLocation(EINVAL);
        }
        if (byte == '%') {
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

// Replaces the user unit in one step, so a crash leaves the old or the new file.
void replaceUnitFile(const QString& directory, const QByteArray& content) {
    // The user's unit folder is shared with other programs: its mode is not ours to change.
    PrivateFiles::createMissingDirectories(directory);
    const QString unitPath = userUnitPath(directory);
    if (!isMask(unitPath)) {
        PrivateFiles::replaceAtomically(unitPath, content, u".ru.quorvane.agent.service-");
    }
}

void writeUserUnit(const QString& installPrefix, const QString& userUnitDirectory) {
    try {
        const QString agentPath = underPrefix(installPrefix, AgentContract::bundledAgentPath);
        const QByteArray unit = withAgentPath(
            readTemplate(underPrefix(installPrefix, AgentContract::bundledUnitTemplatePath)),
            agentPath);
        replaceUnitFile(userUnitDirectory, unit);
    } catch (const std::system_error& error) {
        const int code = error.code().value();
        throw unitNotWritten(userUnitPath(userUnitDirectory),
                             QString::fromStdString(PosixError::category().message(code)), code);
    }
}

QString firstString(const QDBusMessage& reply) {
    const QVariantList arguments = reply.arguments();
    if (arguments.size() != 1 || arguments.first().metaType() != QMetaType::fromType<QString>()) {
        return {};
    }
    return arguments.first().toString();
}

bool isMasked(const QString& unitFileState) {
    return unitFileState == "masked"_L1 || unitFileState == "masked-runtime"_L1;
}

bool isEnabled(const QString& unitFileState) {
    return unitFileState == "enabled"_L1 || unitFileState == "enabled-runtime"_L1;
}

bool startsSessionBus(const QDBusConnection& bus) {
    return bus.name() == QDBusConnection::sessionBus().name();
}

}  // namespace

// What one refresh found out from the manager.
struct AgentServiceController::UnitReading {
    enum class Outcome { read, unknownUnit, malformed, unreachable } outcome = Outcome::read;
    QString unitFileState;
    QString activeState;
    QString subState;
    bool hasJob = false;
    QDBusError error;
};

AgentServiceController::AgentServiceController(QString installPrefix, QDBusConnection bus,
                                               QString userUnitDirectory, int callTimeoutMs)
    : installPrefix_(std::move(installPrefix)),
      bus_(std::move(bus)),
      userUnitDirectory_(std::move(userUnitDirectory)),
      callTimeoutMs_(callTimeoutMs) {}

AgentServiceController::~AgentServiceController() {
    if (ownsBus_) {
        QDBusConnection::disconnectFromBus(bus_.name());
    }
}

QString AgentServiceController::defaultUserUnitDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/systemd/user"_s;
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

// Refresh.

void AgentServiceController::refresh(std::function<void()> done) {
    reconnectIfLost();
    const quint64 generation = generation_;
    readUnit([this, generation, done = std::move(done)](const UnitReading& reading) {
        // A reading begun before a change of the registration would show the old state.
        if (generation == generation_) {
            state_ = stateFrom(reading);
        }
        done();
    });
}

void AgentServiceController::readUnit(std::function<void(const UnitReading&)> done) {
    callManager(
        u"GetUnitFileState"_s, {unitName()},
        [this, done](const QDBusMessage& reply) {
            UnitReading reading;
            reading.unitFileState = firstString(reply);
            if (reading.unitFileState.isEmpty()) {
                reading.outcome = UnitReading::Outcome::malformed;
                done(reading);
                return;
            }
            readRunState(std::move(reading), done);
        },
        [done](const QDBusError& error) {
            UnitReading reading;
            reading.outcome = isUnknownUnit(error) ? UnitReading::Outcome::unknownUnit
                                                   : UnitReading::Outcome::unreachable;
            reading.error = error;
            done(reading);
        });
}

void AgentServiceController::readRunState(UnitReading reading,
                                          std::function<void(const UnitReading&)> done) {
    auto failed = [done, reading](const QDBusError& error) mutable {
        reading.outcome = UnitReading::Outcome::unreachable;
        reading.error = error;
        done(reading);
    };
    callManager(
        u"LoadUnit"_s, {unitName()},
        [this, reading, done, failed](const QDBusMessage& loaded) {
            const QVariantList path = loaded.arguments();
            if (path.size() != 1 || !path.first().canConvert<QDBusObjectPath>()) {
                UnitReading malformed = reading;
                malformed.outcome = UnitReading::Outcome::malformed;
                done(malformed);
                return;
            }
            call(
                path.first().value<QDBusObjectPath>().path(), propertiesInterface, u"GetAll"_s,
                {unitInterface},
                [reading, done](const QDBusMessage& reply) mutable {
                    QVariantMap properties;
                    if (reply.arguments().size() == 1) {
                        reply.arguments().first().value<QDBusArgument>() >> properties;
                    }
                    reading.activeState = properties.value(u"ActiveState"_s).toString();
                    reading.subState = properties.value(u"SubState"_s).toString();
                    // Job is (id, path); id 0 means no job is queued for the unit.
                    const QDBusArgument job = properties.value(u"Job"_s).value<QDBusArgument>();
                    uint jobID = 0;
                    QDBusObjectPath jobPath;
                    if (job.currentType() == QDBusArgument::StructureType) {
                        job.beginStructure();
                        job >> jobID >> jobPath;
                        job.endStructure();
                    }
                    reading.hasJob = jobID != 0;
                    done(reading);
                },
                failed);
        },
        failed);
}

AgentServiceState AgentServiceController::stateFrom(const UnitReading& reading) {
    hasLeftoverRegistration_ = false;
    switch (reading.outcome) {
        case UnitReading::Outcome::unknownUnit:
            return hasBundledService(installPrefix_) ? AgentServiceState::stopped()
                                                     : AgentServiceState::unavailable();
        case UnitReading::Outcome::malformed:
            return AgentServiceState::failed(unknownStatusText());
        case UnitReading::Outcome::unreachable:
            return AgentServiceState::failed(noManagerText(reading.error));
        case UnitReading::Outcome::read:
            break;
    }
    if (!isMasked(reading.unitFileState)) {
        maskOutOfReach_ = false;
    }
    if (reading.unitFileState == "masked-runtime"_L1) {
        return AgentServiceState::failed(runtimeMaskText());
    }
    if (isMasked(reading.unitFileState)) {
        return maskOutOfReach_ ? AgentServiceState::failed(persistentMaskText())
                               : AgentServiceState::requiresApproval();
    }
    const bool agentRuns = reading.activeState == "active"_L1 ||
                           reading.activeState == "activating"_L1 ||
                           reading.activeState == "reloading"_L1;
    if (!launchRequested_) {
        hasLeftoverRegistration_ = isEnabled(reading.unitFileState) || agentRuns;
        return AgentServiceState::stopped();
    }
    if (reading.activeState == "failed"_L1) {
        return AgentServiceState::serviceError(agentFailedText());
    }
    if (reading.subState == "auto-restart"_L1) {
        return AgentServiceState::serviceError(agentRestartingText());
    }
    if (!isEnabled(reading.unitFileState)) {
        return AgentServiceState::stopped();
    }
    if (!agentRuns && !reading.hasJob) {
        return AgentServiceState::serviceError(stoppedButEnabledText());
    }
    return AgentServiceState::running();
}

// Changes of the registration.

void AgentServiceController::start(Completion completion) {
    ++generation_;
    reconnectIfLost();
    // The file is written first: a path systemd would refuse fails here, before anything of
    // an existing registration is undone. The manager reads it at the Reload below.
    try {
        writeUserUnit(installPrefix_, userUnitDirectory_);
    } catch (...) {
        completion(std::current_exception());
        return;
    }
    callManager(
        u"GetUnitFileState"_s, {unitName()},
        [this, completion](const QDBusMessage& reply) {
            const QString unitFileState = firstString(reply);
            if (isEnabled(unitFileState) || isMasked(unitFileState)) {
                unregisterThenRegister(completion);
            } else {
                registerAnew(completion);
            }
        },
        [this, completion](const QDBusError& error) {
            if (isUnknownUnit(error)) {
                registerAnew(completion);
            } else {
                completion(managerFailure(error));
            }
        });
}

void AgentServiceController::unregisterThenRegister(Completion completion) {
    callManager(
        u"StopUnit"_s, {unitName(), u"replace"_s},
        [this, completion] {
            disableUnit([this, completion] { registerAnew(completion); }, completion);
        },
        completion);
}

void AgentServiceController::registerAnew(Completion completion) {
    launchRequested_ = false;
    callManager(
        u"Reload"_s, {},
        [this, completion](const QDBusMessage&) {
            launchRequested_ = true;
            callManager(
                u"EnableUnitFiles"_s, {QStringList{unitName()}, false, true},
                [this, completion] { startRegistered(completion); }, completion);
        },
        [this, completion](const QDBusError& error) {
            completion(std::make_exception_ptr(unitNotWritten(
                userUnitPath(userUnitDirectory_),
                error.message().isEmpty() ? error.name() : error.message(), int(error.type()))));
        });
}

void AgentServiceController::startRegistered(Completion completion) {
    callManager(
        u"StartUnit"_s, {unitName(), u"replace"_s},
        [this, completion] { refreshThenComplete(completion); },
        [this, completion](std::exception_ptr failure) {
            auto report = [this, completion, failure] {
                refreshThenComplete(
                    [completion, failure](std::exception_ptr) { completion(failure); });
            };
            // A unit left enabled but not started would start at the next login although
            // switching on was reported as failed.
            disableUnit(report, [report](std::exception_ptr) { report(); });
        });
}

void AgentServiceController::stop(Completion completion) {
    ++generation_;
    reconnectIfLost();
    callManager(
        u"StopUnit"_s, {unitName(), u"replace"_s},
        [this, completion](const QDBusMessage&) {
            disableUnit([this, completion] { refreshThenComplete(completion); },
                        [this, completion](std::exception_ptr failure) {
                            // The agent is stopped but would start again at the next login.
                            std::exception_ptr partial;
                            try {
                                std::rethrow_exception(failure);
                            } catch (const AgentServiceError& error) {
                                partial = std::make_exception_ptr(AgentServiceError(
                                    AgentServiceError::Kind::other,
                                    u"агент остановлен, но остался в автозапуске systemd: "_s +
                                        error.description(),
                                    error.code()));
                            }
                            refreshThenComplete(
                                [completion, partial](std::exception_ptr) { completion(partial); });
                        });
        },
        [this, completion](const QDBusError& error) {
            // Nothing is loaded, so nothing runs; the unit file may still be enabled.
            if (error.name() == "org.freedesktop.systemd1.NoSuchUnit"_L1) {
                disableUnit([this, completion] { refreshThenComplete(completion); }, completion);
                return;
            }
            refreshThenComplete([completion, failure = managerFailure(error)](std::exception_ptr) {
                completion(failure);
            });
        });
}

void AgentServiceController::disableUnit(std::function<void()> next, Completion onFailure) {
    callManager(
        u"DisableUnitFiles"_s, {QStringList{unitName()}, false},
        [this, next = std::move(next)] {
            launchRequested_ = false;
            next();
        },
        std::move(onFailure));
}

void AgentServiceController::stopBeforeExit() {
    // Answers still due would continue an operation after the agent was stopped.
    qDeleteAll(pendingCalls_.children());
    ++generation_;
    if (!launchRequested_ && !hasLeftoverRegistration_ && !state_.isSwitchedOn()) {
        return;
    }
    for (const auto& [method, arguments] :
         {std::pair{u"StopUnit"_s, QVariantList{unitName(), u"replace"_s}},
          std::pair{u"DisableUnitFiles"_s, QVariantList{QStringList{unitName()}, false}}}) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(managerService, managerPath, managerInterface, method);
        message.setArguments(arguments);
        bus_.call(message, QDBus::Block, callTimeoutMs_);
    }
    launchRequested_ = false;
}

void AgentServiceController::allowBackgroundStart(Completion completion) {
    ++generation_;
    reconnectIfLost();
    callManager(
        u"UnmaskUnitFiles"_s, {QStringList{unitName()}, false},
        [this, completion] {
            callManager(
                u"Reload"_s, {}, [this, completion] { confirmUnmasked(completion); }, completion);
        },
        completion);
}

void AgentServiceController::confirmUnmasked(Completion completion) {
    callManager(
        u"GetUnitFileState"_s, {unitName()},
        [this, completion](const QDBusMessage& reply) {
            const QString unitFileState = firstString(reply);
            maskOutOfReach_ = unitFileState == "masked"_L1;
            if (isMasked(unitFileState)) {
                const QString text = maskOutOfReach_ ? persistentMaskText() : runtimeMaskText();
                refreshThenComplete([completion, text](std::exception_ptr) {
                    completion(std::make_exception_ptr(
                        AgentServiceError(AgentServiceError::Kind::other, text)));
                });
                return;
            }
            refreshThenComplete(completion);
        },
        [this, completion](const QDBusError&) { refreshThenComplete(completion); });
}

void AgentServiceController::refreshThenComplete(Completion completion) {
    ++generation_;
    refresh([completion] { completion(nullptr); });
}

// Calls.

void AgentServiceController::call(const QString& path, const QString& interface,
                                  const QString& method, const QVariantList& arguments,
                                  ReplyHandler onReply, ErrorHandler onError) {
    if (!bus_.isConnected()) {
        // Reported from the event loop like any answer, so callers see one order of events.
        const QString reason = bus_.lastError().isValid() ? bus_.lastError().message()
                                                          : u"Not connected to D-Bus server"_s;
        const QDBusError error(QDBusError::Disconnected, reason);
        auto* carrier = new QObject(&pendingCalls_);
        QMetaObject::invokeMethod(
            carrier,
            [carrier, error, onError = std::move(onError)] {
                carrier->deleteLater();
                onError(error);
            },
            Qt::QueuedConnection);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(managerService, path, interface, method);
    message.setArguments(arguments);
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(message, callTimeoutMs_), &pendingCalls_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &pendingCalls_,
                     [onReply = std::move(onReply),
                      onError = std::move(onError)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (finished->isError()) {
                             onError(finished->error());
                         } else {
                             onReply(finished->reply());
                         }
                     });
}

void AgentServiceController::callManager(const QString& method, const QVariantList& arguments,
                                         ReplyHandler onReply, ErrorHandler onError) {
    call(managerPath, managerInterface, method, arguments, std::move(onReply), std::move(onError));
}

void AgentServiceController::callManager(const QString& method, const QVariantList& arguments,
                                         std::function<void()> onReply, Completion onFailure) {
    callManager(
        method, arguments, [onReply = std::move(onReply)](const QDBusMessage&) { onReply(); },
        [onFailure = std::move(onFailure)](const QDBusError& error) {
            onFailure(managerFailure(error));
        });
}

// The session bus.

void AgentServiceController::reconnectIfLost() {
    if (bus_.isConnected() || !(ownsBus_ || startsSessionBus(bus_))) {
        return;
    }
    // A lost connection never comes back under its name; a new name gets a new connection.
    const QString name = u"quorvane-session-"_s + QString::number(++reconnections_);
    QDBusConnection fresh = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    if (!fresh.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return;
    }
    if (ownsBus_) {
        QDBusConnection::disconnectFromBus(bus_.name());
    }
    bus_ = fresh;
    ownsBus_ = true;
}

}  // namespace quorvane
