#include "agent/AgentViewModel.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QPromise>
#include <QVariantMap>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "agent/AgentServiceError.h"
#include "config/AgentTokenStorageError.h"
#include "config/PlatformWording.h"
#include "keychain/KeychainAgentTokenStore.h"

namespace quorvane {

using namespace Qt::StringLiterals;

namespace {

constexpr int ownLogLimit = 100;
constexpr int agentLogLimit = 300;
constexpr double startUpLimitSeconds = 20.0;

QString descriptionOf(const std::exception_ptr& failure) {
    if (!failure) {
        return QString();
    }
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {  // a QuorvaneError's what() is its message
        return QString::fromUtf8(error.what());
    } catch (...) {
        return QString();
    }
}

bool isTokenStorageFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const AgentTokenStorageError&) {
        return true;
    } catch (...) {
        return false;
    }
}

bool isRefusal(const std::exception_ptr& failure) {
    if (!failure) {
        return false;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const AgentServiceError& error) {
        return error.kind() == AgentServiceError::Kind::refused;
    } catch (...) {
        return false;
    }
}

bool isRunning(const AgentServiceState& state) {
    return state.kind() == AgentServiceState::Kind::running;
}

// Runs on the detached thread; touches nothing of the view model.
// Lets the secret store prompt for as long as it lives.
class UserInteractionAllowance {
public:
    UserInteractionAllowance() { KeychainAgentTokenStore::setUserInteractionAllowed(true); }
    ~UserInteractionAllowance() { KeychainAgentTokenStore::setUserInteractionAllowed(false); }
    UserInteractionAllowance(const UserInteractionAllowance&) = delete;
    UserInteractionAllowance& operator=(const UserInteractionAllowance&) = delete;
};

QString orDash(const QString& text) {
    return text.isEmpty() ? u"—"_s : text;
}

}  // namespace

AgentViewModel::AgentViewModel(std::unique_ptr<AgentServiceControlling> serviceController,
                               std::unique_ptr<AgentGUILease> guiLease,
                               std::unique_ptr<AgentHealthReading> healthReader,
                               std::unique_ptr<AgentLogReading> logReader,
                               AgentConfigurationStore configurationStore,
                               AuthorizeToken authorizeToken, AgentViewModelEnvironment environment,
                               QObject* parent)
    : QObject(parent),
      serviceState_(serviceController->state()),
      tokenStatus_(u"Не настроен"_s),
      serviceController_(std::move(serviceController)),
      guiLease_(std::move(guiLease)),
      healthReader_(std::move(healthReader)),
      logReader_(std::move(logReader)),
      configurationStore_(std::move(configurationStore)),
      authorizeToken_(std::move(authorizeToken)),
      environment_(std::move(environment)),
      timestampLocale_(QLocale::Russian, QLocale::Russia) {
    appendLog(u"Интерфейс Quorvane Agent запущен"_s);
    appendLog(u"Состояние службы: "_s + serviceState_.title().toLower());
    loadConfiguration();
}

AgentViewModel::~AgentViewModel() = default;

AgentViewModel::AuthorizeToken AgentViewModel::defaultAuthorizeToken() {
    return [] {
        const UserInteractionAllowance allowance;
        static_cast<void>(KeychainAgentTokenStore(true).read());
    };
}

// Two-way properties and the footer's status.

void AgentViewModel::setLogExpanded(bool expanded) {
    isLogExpanded_ = expanded;
    Q_EMIT isLogExpandedChanged();
}

void AgentViewModel::setWorkspaceSheetPresented(bool presented) {
    isWorkspaceSheetPresented_ = presented;
    Q_EMIT isWorkspaceSheetPresentedChanged();
}

void AgentViewModel::setWorkspaceRootIDDraft(const QString& draft) {
    workspaceRootIDDraft_ = draft;
    Q_EMIT workspaceRootIDDraftChanged();
}

void AgentViewModel::setWorkspaceWriteEnabled(bool enabled) {
    workspaceWriteEnabled_ = enabled;
    Q_EMIT workspaceWriteEnabledChanged();
}

void AgentViewModel::setTokenDraft(const QString& draft) {
    tokenDraft_ = draft;
    Q_EMIT tokenDraftChanged();
}

void AgentViewModel::setUpdateStatus(const QString& status) {
    updateStatus_ = status;
    Q_EMIT updateStatusChanged();
}

// Read-only published properties.

void AgentViewModel::setServiceState(AgentServiceState state) {
    serviceState_ = std::move(state);
    Q_EMIT serviceStateChanged();
}

void AgentViewModel::setChangingState(bool changing) {
    isChangingState_ = changing;
    Q_EMIT isChangingStateChanged();
}

void AgentViewModel::setLogEntries(QStringList entries) {
    logEntries_ = std::move(entries);
    Q_EMIT logEntriesChanged();
}

void AgentViewModel::setWorkspacePath(std::optional<QString> path) {
    workspacePath_ = std::move(path);
    Q_EMIT workspacePathChanged();
    Q_EMIT workspaceStatusDetailChanged();
}

void AgentViewModel::setWorkspaceRoots(QList<WorkspaceRootConfiguration> roots) {
    workspaceRoots_ = std::move(roots);
    Q_EMIT workspaceRootsChanged();
    Q_EMIT workspaceStatusDetailChanged();
}

void AgentViewModel::setTokenStatus(QString status) {
    tokenStatus_ = std::move(status);
    Q_EMIT tokenStatusChanged();
}

void AgentViewModel::setHasSavedToken(bool hasToken) {
    hasSavedToken_ = hasToken;
    Q_EMIT hasSavedTokenChanged();
}

void AgentViewModel::setTokenAccessNeeded(bool needed) {
    tokenAccessNeeded_ = needed;
    Q_EMIT tokenAccessNeededChanged();
}

void AgentViewModel::setSavingToken(bool saving) {
    isSavingToken_ = saving;
    Q_EMIT isSavingTokenChanged();
}

void AgentViewModel::setAuthorizingToken(bool authorizing) {
    isAuthorizingToken_ = authorizing;
    Q_EMIT isAuthorizingTokenChanged();
}

void AgentViewModel::setConfigurationMessage(std::optional<QString> message) {
    configurationMessage_ = std::move(message);
    Q_EMIT configurationMessageChanged();
}

// Derived values.

QVariantList AgentViewModel::workspaceRootsForViews() const {
    QVariantList roots;
    for (const WorkspaceRootConfiguration& root : workspaceRoots_) {
        roots.append(QVariantMap{
            {u"id"_s, root.id}, {u"path"_s, root.path}, {u"writeEnabled"_s, root.writeEnabled}});
    }
    return roots;
}

QString AgentViewModel::workspaceStatusTitle() const {
    if (workspaceRoots_.isEmpty()) {
        return u"Локальные папки: не добавлены"_s;
    }
    return u"Локально сохранено папок: "_s + QString::number(workspaceRoots_.size());
}

QString AgentViewModel::workspaceStatusDetail() const {
    if (workspacePath_) {
        return *workspacePath_;
    }
    if (!workspaceRoots_.isEmpty()) {
        return workspaceRoots_.first().path;
    }
    return u"Выберите локальную папку"_s;
}

QString AgentViewModel::versionText() const {
    return u"Версия "_s + orDash(environment_.shortVersion) + u" ("_s +
           orDash(environment_.buildNumber) + u")"_s;
}

QString AgentViewModel::workspaceAccount() const {
    return environment_.fullUserName.isEmpty() ? environment_.userName : environment_.fullUserName;
}

// Log and configuration.

void AgentViewModel::appendLog(const QString& message) {
    QStringList entries = logEntries_;
    entries.append(timestampLocale_.toString(environment_.now().time(), u"HH:mm:ss") + u"  "_s +
                   message);
    if (entries.size() > ownLogLimit) {
        entries.remove(0, entries.size() - ownLogLimit);
    }
    setLogEntries(std::move(entries));
}

void AgentViewModel::loadConfiguration(std::function<void()> then) {
    setWorkspaceRoots(workspaceRootsFromFileAlone());
    const quint64 load = ++configurationLoads_;
    auto loaded = std::make_shared<AgentConfiguration>();
    runOffMainThread(
        [store = configurationStore_, loaded] { *loaded = store.load(); },
        [this, load, loaded, then = std::move(then)](const std::exception_ptr& failure) {
            if (load != configurationLoads_) {
                return;  // a later load is under way and will publish
            }
            if (failure) {
                applyFailedLoad(failure);
            } else {
                applyLoadedConfiguration(*loaded);
            }
            if (then) {
                then();
            }
        });
}

void AgentViewModel::applyLoadedConfiguration(const AgentConfiguration& configuration) {
    setTokenAccessNeeded(false);
    setTokenStatus(AgentConfigurationStore::maskedToken(configuration.token));
    setHasSavedToken(configuration.token && !configuration.token->isEmpty());
    setWorkspaceRoots(configuration.workspaceRoots);
}

void AgentViewModel::applyFailedLoad(const std::exception_ptr& failure) {
    setTokenStatus(u"Не удалось прочитать"_s);
    setTokenAccessNeeded(isTokenStorageFailure(failure));
    setHasSavedToken(false);
    setWorkspaceRoots(workspaceRootsFromFileAlone());
    setConfigurationMessage(descriptionOf(failure));
}

void AgentViewModel::runOffMainThread(std::function<void()> work,
                                      std::function<void(std::exception_ptr)> done) {
    QPromise<std::exception_ptr> promise;
    // The watcher is a child: once this object is gone, a late outcome reaches nobody.
    auto* watcher = new QFutureWatcher<std::exception_ptr>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [watcher, done = std::move(done)] {
        const QFuture<std::exception_ptr> outcome = watcher->future();
        done(outcome.resultCount() > 0
                 ? outcome.result()
                 : std::make_exception_ptr(std::runtime_error("background task did not run")));
        watcher->deleteLater();
    });
    watcher->setFuture(promise.future());
    try {
        // Detached: the secret store may outlast the window, and the panel must quit meanwhile.
        std::thread([promise = std::move(promise), work = std::move(work)]() mutable {
            promise.start();
            std::exception_ptr failure;
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            promise.addResult(failure);
            promise.finish();
        }).detach();
    } catch (const std::system_error&) {
        // The promise went with the failed thread's function; the watcher reports it.
    }
}

QList<WorkspaceRootConfiguration> AgentViewModel::workspaceRootsFromFileAlone() const {
    try {
        return configurationStore_.loadFile().workspaceRoots;
    } catch (...) {
        return {};
    }
}

// Refresh cycle.

void AgentViewModel::refresh() {
    // A manager that does not answer must not pile up queries, one per tick.
    if (!isRefreshingService_) {
        isRefreshingService_ = true;
        refreshService([this] {
            isRefreshingService_ = false;
            publishRefreshedState();
            removeLeftoverRegistrationOnce();
        });
    }
    if (isLogExpanded_) {
        QStringList lines = logReader_->readRecentLines(agentLogLimit);
        if (!lines.isEmpty()) {
            setLogEntries(std::move(lines));
        }
    }
}

void AgentViewModel::refreshService(std::function<void()> then) {
    // An answer that comes after this object is gone reaches nobody.
    serviceController_->refresh([self = QPointer<AgentViewModel>(this), then = std::move(then)] {
        if (self) {
            then();
        }
    });
}

void AgentViewModel::publishRefreshedState() {
    const AgentServiceState registration = serviceController_->state();
    guiLease_->update(isRunning(registration));
    setServiceState(operationalState(registration));
}

void AgentViewModel::removeLeftoverRegistrationOnce() {
    if (hasCheckedForLeftover_ || isShuttingDown_ ||
        serviceController_->state().kind() == AgentServiceState::Kind::failed) {
        return;
    }
    hasCheckedForLeftover_ = true;
    if (!serviceController_->hasLeftoverRegistration() || isChangingState_) {
        return;
    }
    // With one panel per session, a registration this panel did not make was left by a
    // panel that ended without stopping its agent.
    setChangingState(true);
    runServiceTask(&AgentServiceControlling::stop, &AgentViewModel::finishLeftoverRemoval);
}

void AgentViewModel::finishLeftoverRemoval(std::exception_ptr failure) {
    if (failure) {
        appendLog(u"Не удалось остановить агент, оставшийся от прошлого запуска панели: "_s +
                  userFacingMessage(failure));
    } else {
        appendLog(
            u"Агент, оставшийся от прошлого запуска панели, остановлен и убран из "_s
            u"автозапуска"_s);
    }
    publishRefreshedState();
    setChangingState(false);
}

AgentServiceState AgentViewModel::operationalState(const AgentServiceState& registrationState) {
    if (!isRunning(registrationState)) {
        serviceStartBeganAt_.reset();
        return registrationState;
    }
    if (!guiLease_->isConnected()) {
        return waitingForService();
    }
    const std::optional<AgentHealthSnapshot> snapshot = healthReader_->readSnapshot();
    if (!snapshot) {
        return waitingForService();
    }
    return stateFromHealth(*snapshot);
}

AgentServiceState AgentViewModel::stateFromHealth(const AgentHealthSnapshot& snapshot) {
    if (snapshot.status == u"running"_s) {
        serviceStartBeganAt_.reset();
        return AgentServiceState::running();
    }
    if (snapshot.status == u"needs_configuration"_s) {
        serviceStartBeganAt_.reset();
        return AgentServiceState::needsConfiguration(snapshot.message);
    }
    if (snapshot.status == u"error"_s) {
        serviceStartBeganAt_.reset();
        return AgentServiceState::serviceError(
            snapshot.message.value_or(u"Фоновая служба завершилась с ошибкой"_s));
    }
    return waitingForService();
}

AgentServiceState AgentViewModel::waitingForService() {
    const QDateTime now = environment_.now();
    // A clock set back would otherwise hold off the time-out for as long as it was set back.
    if (!serviceStartBeganAt_ || *serviceStartBeganAt_ > now) {
        serviceStartBeganAt_ = now;
    }
    const double elapsedSeconds = static_cast<double>(serviceStartBeganAt_->msecsTo(now)) / 1000.0;
    if (elapsedSeconds < startUpLimitSeconds) {
        return AgentServiceState::starting();
    }
    return AgentServiceState::serviceError(PlatformWording::current().startTimedOut());
}

void AgentViewModel::shutdown() {
    if (isShuttingDown_) {
        return;
    }
    isShuttingDown_ = true;
    guiLease_->update(false);
    // The process may end right after this returns, so the agent is stopped before, within a
    // bounded wait; nobody is left to show a failure to.
    serviceController_->stopBeforeExit();
}

// Power.

void AgentViewModel::togglePower() {
    if (isChangingState_) {
        return;
    }
    setChangingState(true);
    if (serviceState_.isSwitchedOn()) {
        runServiceTask(&AgentServiceControlling::stop, &AgentViewModel::finishPowerChange);
    } else {
        runServiceTask(&AgentServiceControlling::start, &AgentViewModel::finishSwitchOn);
    }
}

void AgentViewModel::runServiceTask(ServiceTask task, TaskHandler handler) {
    // A report that comes after this object is gone reaches nobody.
    auto completion = [self = QPointer<AgentViewModel>(this), handler](std::exception_ptr failure) {
        if (self) {
            (self.data()->*handler)(std::move(failure));
        }
    };
    try {
        (serviceController_.get()->*task)(completion);
    } catch (...) {
        completion(std::current_exception());
    }
}

void AgentViewModel::finishSwitchOn(std::exception_ptr failure) {
    if (failure || !isShuttingDown_) {
        finishPowerChange(std::move(failure));
        return;
    }
    // The panel closed while the agent was starting: it must not outlive the panel.
    runServiceTask(&AgentServiceControlling::stop, &AgentViewModel::finishStopAfterShutdown);
}

void AgentViewModel::finishStopAfterShutdown(std::exception_ptr failure) {
    if (failure) {
        publishPowerFailure(failure);
    }
    setChangingState(false);
}

void AgentViewModel::finishPowerChange(std::exception_ptr failure) {
    if (!failure) {
        publishRegistrationChange();
        setChangingState(false);
        return;
    }
    // The manager may have carried out part of the change, or all of it after a time-out:
    // what is shown next is what it reports now, with the failure where nothing runs.
    const QString message = userFacingMessage(failure);
    appendLog(u"Не удалось изменить состояние службы: "_s + message);
    refreshService([this, message] {
        const AgentServiceState registration = serviceController_->state();
        guiLease_->update(isRunning(registration));
        setServiceState(registration.kind() == AgentServiceState::Kind::stopped
                            ? AgentServiceState::failed(message)
                            : operationalState(registration));
        setChangingState(false);
    });
}

void AgentViewModel::publishRegistrationChange() {
    const AgentServiceState registration = serviceController_->state();
    guiLease_->update(isRunning(registration));
    setServiceState(operationalState(registration));
    appendLog(u"Состояние службы: "_s + serviceState_.title().toLower());
}

void AgentViewModel::publishPowerFailure(std::exception_ptr failure) {
    const QString message = userFacingMessage(failure);
    setServiceState(AgentServiceState::failed(message));
    appendLog(u"Не удалось изменить состояние службы: "_s + message);
}

QString AgentViewModel::userFacingMessage(const std::exception_ptr& failure) {
    if (isRefusal(failure)) {
        return PlatformWording::current().changeRefused(descriptionOf(failure));
    }
    return u"Не удалось изменить фоновый запуск: "_s + descriptionOf(failure);
}

// Restart after a configuration change.

void AgentViewModel::applyConfigurationChange() {
    refreshService([this] {
        if (!isRunning(serviceController_->state()) || isChangingState_) {
            return;
        }
        setChangingState(true);
        guiLease_->update(false);
        runServiceTask(&AgentServiceControlling::start, &AgentViewModel::finishRestart);
    });
}

void AgentViewModel::finishRestart(std::exception_ptr failure) {
    if (!failure && isShuttingDown_) {
        runServiceTask(&AgentServiceControlling::stop, &AgentViewModel::finishRestartFailure);
        return;
    }
    if (!failure) {
        publishRefreshedState();
        setChangingState(false);
        return;
    }
    finishRestartFailure(std::move(failure));
}

void AgentViewModel::finishRestartFailure(std::exception_ptr failure) {
    if (failure) {
        publishRefreshedState();
        setConfigurationMessage(
            u"Настройки сохранены, но перезапуск не удался. Выключите и включите агент."_s);
        appendLog(u"Не удалось применить настройки: "_s + userFacingMessage(failure));
    }
    setChangingState(false);
}

// Token.

bool AgentViewModel::saveToken() {
    if (isSavingToken_) {
        return false;
    }
    try {
        AgentConfigurationStore::validateToken(tokenDraft_);
    } catch (...) {
        setConfigurationMessage(descriptionOf(std::current_exception()));
        return false;
    }
    setSavingToken(true);
    runOffMainThread(
        [store = configurationStore_, draft = tokenDraft_] { store.storeToken(draft); },
        [this](const std::exception_ptr& failure) { finishTokenSave(failure); });
    return true;
}

void AgentViewModel::finishTokenSave(const std::exception_ptr& failure) {
    setSavingToken(false);
    if (failure) {
        setTokenAccessNeeded(isTokenStorageFailure(failure));
        setConfigurationMessage(descriptionOf(failure));
        return;
    }
    setTokenDraft(QString());
    Q_EMIT tokenSaved();
    loadConfiguration();
    setConfigurationMessage(PlatformWording::current().tokenStored());
    applyConfigurationChange();
    appendLog(u"Конфигурация подключения обновлена"_s);
}

void AgentViewModel::authorizeTokenAccess() {
    if (isAuthorizingToken_) {
        return;
    }
    setAuthorizingToken(true);
    // The desktop's prompt may wait for the user for as long as it likes; the panel can quit
    // meanwhile.
    runOffMainThread(authorizeToken_, [this](const std::exception_ptr& failure) {
        finishTokenAuthorization(failure ? std::optional(descriptionOf(failure)) : std::nullopt);
    });
}

void AgentViewModel::finishTokenAuthorization(const std::optional<QString>& failure) {
    setAuthorizingToken(false);
    if (failure) {
        setConfigurationMessage(*failure);
        return;
    }
    loadConfiguration([this] {
        if (hasSavedToken_) {
            setConfigurationMessage(u"Доступ к сохранённому токену восстановлен."_s);
            applyConfigurationChange();
        }
    });
}

// Workspace folders.

void AgentViewModel::selectWorkspaceFolder() {
    if (!environment_.chooseFolder) {
        return;
    }
    if (std::optional<QString> chosen = environment_.chooseFolder()) {
        setWorkspacePath(std::move(chosen));
        setConfigurationMessage(std::nullopt);
    }
}

void AgentViewModel::saveWorkspace() {
    refreshService([this] { saveWorkspaceWhileRegistered(); });
}

void AgentViewModel::saveWorkspaceWhileRegistered() {
    if (isChangingState_ || !isRunning(serviceController_->state())) {
        setConfigurationMessage(PlatformWording::current().saveRefusedWhileOff());
        return;
    }
    if (!workspacePath_) {
        setConfigurationMessage(u"Сначала выберите локальную папку."_s);
        return;
    }
    try {
        configurationStore_.upsertWorkspace(workspaceRootIDDraft_, *workspacePath_,
                                            workspaceWriteEnabled_);
    } catch (...) {
        setConfigurationMessage(descriptionOf(std::current_exception()));
        return;
    }
    setWorkspaceRootIDDraft(QString());
    setWorkspacePath(std::nullopt);
    setWorkspaceWriteEnabled(false);
    loadConfiguration();
    setConfigurationMessage(PlatformWording::current().folderSaved());
    applyConfigurationChange();
    appendLog(u"Настройки Workspace обновлены"_s);
}

void AgentViewModel::removeWorkspace(const QString& rootID) {
    try {
        configurationStore_.removeWorkspace(rootID);
    } catch (...) {
        setConfigurationMessage(descriptionOf(std::current_exception()));
        return;
    }
    loadConfiguration();
    setConfigurationMessage(u"Workspace удалён из локальной конфигурации."_s);
    applyConfigurationChange();
    appendLog(u"Настройки Workspace обновлены"_s);
}

void AgentViewModel::openLoginItemsSettings() {
    if (isChangingState_) {
        return;
    }
    setChangingState(true);
    runServiceTask(&AgentServiceControlling::allowBackgroundStart,
                   &AgentViewModel::finishAllowingBackgroundStart);
}

void AgentViewModel::finishAllowingBackgroundStart(std::exception_ptr failure) {
    if (failure) {
        appendLog(u"Не удалось разрешить фоновый запуск: "_s + descriptionOf(failure));
    } else {
        appendLog(u"Фоновый запуск разрешён: маска службы в systemd снята"_s);
    }
    publishRefreshedState();
    setChangingState(false);
}

}  // namespace quorvane
