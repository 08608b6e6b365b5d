#pragma once

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "agent/AgentGUILease.h"
#include "agent/AgentServiceControlling.h"
#include "agent/AgentServiceState.h"
#include "agent/AgentViewModelEnvironment.h"
#include "config/AgentConfigurationStore.h"
#include "monitor/AgentHealthReading.h"
#include "monitor/AgentLogReading.h"

namespace quorvane {

// The panel's single observable state object. Lives on the main thread; views bind to its
// properties and call its invokable actions. No exception leaves it.
class AgentViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        quorvane::AgentServiceState serviceState READ serviceState NOTIFY serviceStateChanged)
    Q_PROPERTY(bool isChangingState READ isChangingState NOTIFY isChangingStateChanged)
    Q_PROPERTY(QStringList logEntries READ logEntries NOTIFY logEntriesChanged)
    Q_PROPERTY(
        bool isLogExpanded READ isLogExpanded WRITE setLogExpanded NOTIFY isLogExpandedChanged)
    Q_PROPERTY(bool isWorkspaceSheetPresented READ isWorkspaceSheetPresented WRITE
                   setWorkspaceSheetPresented NOTIFY isWorkspaceSheetPresentedChanged)
    // Empty while no folder is chosen.
    Q_PROPERTY(QString workspacePath READ workspacePathOrEmpty NOTIFY workspacePathChanged)
    Q_PROPERTY(bool hasWorkspacePath READ hasWorkspacePath NOTIFY workspacePathChanged)
    // Each element a map with "id", "path" and "writeEnabled".
    Q_PROPERTY(QVariantList workspaceRoots READ workspaceRootsForViews NOTIFY workspaceRootsChanged)
    Q_PROPERTY(QString workspaceRootIDDraft READ workspaceRootIDDraft WRITE setWorkspaceRootIDDraft
                   NOTIFY workspaceRootIDDraftChanged)
    Q_PROPERTY(bool workspaceWriteEnabled READ workspaceWriteEnabled WRITE setWorkspaceWriteEnabled
                   NOTIFY workspaceWriteEnabledChanged)
    Q_PROPERTY(QString tokenDraft READ tokenDraft WRITE setTokenDraft NOTIFY tokenDraftChanged)
    Q_PROPERTY(QString tokenStatus READ tokenStatus NOTIFY tokenStatusChanged)
    Q_PROPERTY(bool hasSavedToken READ hasSavedToken NOTIFY hasSavedTokenChanged)
    Q_PROPERTY(bool tokenAccessNeeded READ tokenAccessNeeded NOTIFY tokenAccessNeededChanged)
    Q_PROPERTY(bool isAuthorizingToken READ isAuthorizingToken NOTIFY isAuthorizingTokenChanged)
    Q_PROPERTY(bool isSavingToken READ isSavingToken NOTIFY isSavingTokenChanged)
    // Empty while there is no message.
    Q_PROPERTY(QString configurationMessage READ configurationMessageOrEmpty NOTIFY
                   configurationMessageChanged)
    Q_PROPERTY(bool hasConfigurationMessage READ hasConfigurationMessage NOTIFY
                   configurationMessageChanged)
    // Written by the footer; empty while absent.
    Q_PROPERTY(
        QString updateStatus READ updateStatus WRITE setUpdateStatus NOTIFY updateStatusChanged)
    Q_PROPERTY(QString workspaceStatusTitle READ workspaceStatusTitle NOTIFY workspaceRootsChanged)
    Q_PROPERTY(QString workspaceStatusDetail READ workspaceStatusDetail NOTIFY
                   workspaceStatusDetailChanged)
    Q_PROPERTY(QString versionText READ versionText CONSTANT)
    Q_PROPERTY(QString workspaceAccount READ workspaceAccount CONSTANT)

public:
    // Runs may throw; called on a background thread. Asks the desktop to unlock the token.
    using AuthorizeToken = std::function<void()>;

    AgentViewModel(std::unique_ptr<AgentServiceControlling> serviceController,
                   std::unique_ptr<AgentGUILease> guiLease,
                   std::unique_ptr<AgentHealthReading> healthReader,
                   std::unique_ptr<AgentLogReading> logReader,
                   AgentConfigurationStore configurationStore,
                   AuthorizeToken authorizeToken = defaultAuthorizeToken(),
                   AgentViewModelEnvironment environment = AgentViewModelEnvironment::system(),
                   QObject* parent = nullptr);
    ~AgentViewModel() override;

    // Unlocks the secret store with the desktop's prompt allowed, discarding the token.
    static AuthorizeToken defaultAuthorizeToken();

    AgentServiceState serviceState() const { return serviceState_; }
    bool isChangingState() const { return isChangingState_; }
    QStringList logEntries() const { return logEntries_; }
    bool isLogExpanded() const { return isLogExpanded_; }
    void setLogExpanded(bool expanded);
    bool isWorkspaceSheetPresented() const { return isWorkspaceSheetPresented_; }
    void setWorkspaceSheetPresented(bool presented);
    const std::optional<QString>& workspacePath() const { return workspacePath_; }
    const QList<WorkspaceRootConfiguration>& workspaceRoots() const { return workspaceRoots_; }
    QString workspaceRootIDDraft() const { return workspaceRootIDDraft_; }
    void setWorkspaceRootIDDraft(const QString& draft);
    bool workspaceWriteEnabled() const { return workspaceWriteEnabled_; }
    void setWorkspaceWriteEnabled(bool enabled);
    QString tokenDraft() const { return tokenDraft_; }
    void setTokenDraft(const QString& draft);
    QString tokenStatus() const { return tokenStatus_; }
    bool hasSavedToken() const { return hasSavedToken_; }
    bool tokenAccessNeeded() const { return tokenAccessNeeded_; }
    bool isAuthorizingToken() const { return isAuthorizingToken_; }
    bool isSavingToken() const { return isSavingToken_; }
    const std::optional<QString>& configurationMessage() const { return configurationMessage_; }
    QString updateStatus() const { return updateStatus_; }
    void setUpdateStatus(const QString& status);

    QString workspaceStatusTitle() const;
    QString workspaceStatusDetail() const;
    QString versionText() const;
    QString workspaceAccount() const;

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void shutdown();
    Q_INVOKABLE void togglePower();
    // True when the draft is valid and its save has begun; the outcome follows on the main
    // thread (configurationMessage), since the secret store may take seconds to answer.
    Q_INVOKABLE bool saveToken();
    Q_INVOKABLE void authorizeTokenAccess();
    Q_INVOKABLE void selectWorkspaceFolder();
    Q_INVOKABLE void saveWorkspace();
    Q_INVOKABLE void removeWorkspace(const QString& rootID);
    // Lifts the user's mask of the agent's service (systemd's counterpart of a login item
    // the user switched off); the agent stays off.
    Q_INVOKABLE void openLoginItemsSettings();

    // The user's text for a failure of the service controller.
    static QString userFacingMessage(const std::exception_ptr& failure);

Q_SIGNALS:
    void serviceStateChanged();
    void isChangingStateChanged();
    void logEntriesChanged();
    void isLogExpandedChanged();
    void isWorkspaceSheetPresentedChanged();
    void workspacePathChanged();
    void workspaceRootsChanged();
    void workspaceRootIDDraftChanged();
    void workspaceWriteEnabledChanged();
    void tokenDraftChanged();
    void tokenStatusChanged();
    void hasSavedTokenChanged();
    void tokenAccessNeededChanged();
    void isAuthorizingTokenChanged();
    void isSavingTokenChanged();
    // A save begun by saveToken() has stored the token.
    void tokenSaved();
    void configurationMessageChanged();
    void updateStatusChanged();
    void workspaceStatusDetailChanged();

private:
    // Implementation-private operations and members are the implementer's; keep the public
    // surface above stable, the views and tests depend on it.
    QString workspacePathOrEmpty() const { return workspacePath_.value_or(QString()); }
    bool hasWorkspacePath() const { return workspacePath_.has_value(); }
    QVariantList workspaceRootsForViews() const;
    QString configurationMessageOrEmpty() const {
        return configurationMessage_.value_or(QString());
    }
    bool hasConfigurationMessage() const { return configurationMessage_.has_value(); }

    // Published assignments; each one notifies, also when the value is unchanged.
    void setServiceState(AgentServiceState state);
    void setChangingState(bool changing);
    void setLogEntries(QStringList entries);
    void setWorkspacePath(std::optional<QString> path);
    void setWorkspaceRoots(QList<WorkspaceRootConfiguration> roots);
    void setTokenStatus(QString status);
    void setHasSavedToken(bool hasToken);
    void setTokenAccessNeeded(bool needed);
    void setAuthorizingToken(bool authorizing);
    void setSavingToken(bool saving);
    void setConfigurationMessage(std::optional<QString> message);

    void appendLog(const QString& message);
    // The folders at once from the file; the token's state from the secret store on a worker,
    // applied on the main thread, after which `then` runs. Only the latest load is applied.
    void loadConfiguration(std::function<void()> then = {});
    void applyLoadedConfiguration(const AgentConfiguration& configuration);
    void applyFailedLoad(const std::exception_ptr& failure);
    // Runs `work` on a thread of its own (the secret store may wait for seconds); `done` gets
    // its failure, null on success, on the main thread and never after this object is gone.
    void runOffMainThread(std::function<void()> work, std::function<void(std::exception_ptr)> done);
    void finishTokenSave(const std::exception_ptr& failure);
    QList<WorkspaceRootConfiguration> workspaceRootsFromFileAlone() const;
    AgentServiceState operationalState(const AgentServiceState& registrationState);
    AgentServiceState stateFromHealth(const AgentHealthSnapshot& snapshot);
    AgentServiceState waitingForService();

    // Re-reads the registration; then() runs on the main thread once it is read, never after
    // this object is gone.
    void refreshService(std::function<void()> then);
    void publishRefreshedState();
    void removeLeftoverRegistrationOnce();
    void finishLeftoverRemoval(std::exception_ptr failure);
    // An operation of the controller; the handler runs on the main thread, at once when the
    // controller completes synchronously, never after this object is gone.
    using ServiceTask = void (AgentServiceControlling::*)(AgentServiceControlling::Completion);
    using TaskHandler = void (AgentViewModel::*)(std::exception_ptr failure);
    void runServiceTask(ServiceTask task, TaskHandler handler);
    void finishSwitchOn(std::exception_ptr failure);
    void finishStopAfterShutdown(std::exception_ptr failure);
    void finishPowerChange(std::exception_ptr failure);
    void publishRegistrationChange();
    void publishPowerFailure(std::exception_ptr failure);
    void applyConfigurationChange();
    void finishRestart(std::exception_ptr failure);
    // Also the handler of the stop that follows a restart finished after shutdown().
    void finishRestartFailure(std::exception_ptr failure);
    void saveWorkspaceWhileRegistered();
    void finishAllowingBackgroundStart(std::exception_ptr failure);
    // failure: nothing on success, else the failure's description.
    void finishTokenAuthorization(const std::optional<QString>& failure);

    AgentServiceState serviceState_;
    bool isChangingState_ = false;
    QStringList logEntries_;
    bool isLogExpanded_ = false;
    bool isWorkspaceSheetPresented_ = false;
    std::optional<QString> workspacePath_;
    QList<WorkspaceRootConfiguration> workspaceRoots_;
    QString workspaceRootIDDraft_;
    bool workspaceWriteEnabled_ = false;
    QString tokenDraft_;
    QString tokenStatus_;
    bool hasSavedToken_ = false;
    bool tokenAccessNeeded_ = false;
    bool isAuthorizingToken_ = false;
    bool isSavingToken_ = false;
    quint64 configurationLoads_ = 0;
    std::optional<QString> configurationMessage_;
    QString updateStatus_;

    std::unique_ptr<AgentServiceControlling> serviceController_;
    std::unique_ptr<AgentGUILease> guiLease_;
    std::unique_ptr<AgentHealthReading> healthReader_;
    std::unique_ptr<AgentLogReading> logReader_;
    AgentConfigurationStore configurationStore_;
    AuthorizeToken authorizeToken_;
    AgentViewModelEnvironment environment_;
    QLocale timestampLocale_;
    bool isShuttingDown_ = false;
    bool isRefreshingService_ = false;
    bool hasCheckedForLeftover_ = false;
    // When the current wait for the agent's confirmation began.
    std::optional<QDateTime> serviceStartBeganAt_;
};

}  // namespace quorvane
