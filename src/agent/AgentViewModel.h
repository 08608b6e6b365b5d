#pragma once

#include <QAbstractItemModel>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <exception>
#include <memory>
#include <optional>

#include "agent/AgentGUILease.h"
#include "agent/AgentLogModel.h"
#include "agent/AgentServiceControlling.h"
#include "agent/AgentServiceSequence.h"
#include "agent/AgentServiceState.h"
#include "agent/AgentTokenSettings.h"
#include "agent/AgentViewModelEnvironment.h"
#include "agent/AgentWorkspaceSettings.h"
#include "config/AgentConfigurationStore.h"
#include "monitor/AgentHealthReading.h"
#include "monitor/AgentLogReading.h"

namespace quorvane {

// The panel's single observable state object, the one the views bind to: a front over the
// service sequence, the token and workspace settings and the in-memory log, plus the views'
// own flags. Lives on the main thread; no exception leaves it.
class AgentViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        quorvane::AgentServiceState serviceState READ serviceState NOTIFY serviceStateChanged)
    Q_PROPERTY(bool isChangingState READ isChangingState NOTIFY isChangingStateChanged)
    Q_PROPERTY(QStringList logEntries READ logEntries NOTIFY logEntriesChanged)
    // The same lines as rows (role "line"), for a list view.
    Q_PROPERTY(QAbstractItemModel* logLines READ logLines CONSTANT)
    Q_PROPERTY(
        bool isLogExpanded READ isLogExpanded WRITE setLogExpanded NOTIFY isLogExpandedChanged)
    Q_PROPERTY(bool isWorkspaceSheetPresented READ isWorkspaceSheetPresented WRITE
                   setWorkspaceSheetPresented NOTIFY isWorkspaceSheetPresentedChanged)
    // Empty while no folder is chosen.
    Q_PROPERTY(QString workspacePath READ workspacePathOrEmpty NOTIFY workspacePathChanged)
    Q_PROPERTY(bool hasWorkspacePath READ hasWorkspacePath NOTIFY workspacePathChanged)
    // Each element a map with "id", "path" and "writeEnabled".
    Q_PROPERTY(QVariantList workspaceRoots READ workspaceRootsForViews NOTIFY workspaceRootsChanged)
    // The same bindings as rows (roles "rootID", "path", "writeEnabled"), for a list view.
    Q_PROPERTY(QAbstractItemModel* workspaceRootsModel READ workspaceRootsModel CONSTANT)
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
    using AuthorizeToken = AgentTokenSettings::AuthorizeToken;

    AgentViewModel(std::unique_ptr<AgentServiceControlling> serviceController,
                   std::unique_ptr<AgentGUILease> guiLease,
                   std::unique_ptr<AgentHealthReading> healthReader,
                   std::unique_ptr<AgentLogReading> logReader,
                   AgentConfigurationStore configurationStore, AuthorizeToken authorizeToken,
                   AgentViewModelEnvironment environment, QObject* parent = nullptr);
    ~AgentViewModel() override;

    const AgentServiceState& serviceState() const { return service_.state(); }
    bool isChangingState() const { return service_.isChangingState(); }
    QStringList logEntries() const { return log_.lines(); }
    QAbstractItemModel* logLines() { return &log_; }
    bool isLogExpanded() const { return isLogExpanded_; }
    void setLogExpanded(bool expanded);
    bool isWorkspaceSheetPresented() const { return isWorkspaceSheetPresented_; }
    void setWorkspaceSheetPresented(bool presented);
    const std::optional<QString>& workspacePath() const { return workspace_.path(); }
    const QList<WorkspaceRootConfiguration>& workspaceRoots() const {
        return workspace_.rootList();
    }
    QAbstractItemModel* workspaceRootsModel() { return &workspace_.roots(); }
    QString workspaceRootIDDraft() const { return workspace_.rootIDDraft(); }
    void setWorkspaceRootIDDraft(const QString& draft) { workspace_.setRootIDDraft(draft); }
    bool workspaceWriteEnabled() const { return workspace_.writeEnabled(); }
    void setWorkspaceWriteEnabled(bool enabled) { workspace_.setWriteEnabled(enabled); }
    QString tokenDraft() const { return token_.draft(); }
    void setTokenDraft(const QString& draft) { token_.setDraft(draft); }
    QString tokenStatus() const { return token_.status(); }
    bool hasSavedToken() const { return token_.hasSavedToken(); }
    bool tokenAccessNeeded() const { return token_.accessNeeded(); }
    bool isAuthorizingToken() const { return token_.isAuthorizing(); }
    bool isSavingToken() const { return token_.isSaving(); }
    const std::optional<QString>& configurationMessage() const { return configurationMessage_; }
    QString updateStatus() const { return updateStatus_; }
    void setUpdateStatus(const QString& status);

    QString workspaceStatusTitle() const { return workspace_.statusTitle(); }
    QString workspaceStatusDetail() const { return workspace_.statusDetail(); }
    QString versionText() const;
    QString workspaceAccount() const;

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void shutdown() { service_.shutdown(); }
    Q_INVOKABLE void togglePower() { service_.togglePower(); }
    // True when the draft is valid and its save has begun; the outcome follows on the main
    // thread (configurationMessage), since the secret store may take seconds to answer.
    Q_INVOKABLE bool saveToken() { return token_.save(); }
    Q_INVOKABLE void authorizeTokenAccess() { token_.authorize(); }
    Q_INVOKABLE void selectWorkspaceFolder();
    Q_INVOKABLE void saveWorkspace();
    Q_INVOKABLE void removeWorkspace(const QString& rootID) { workspace_.remove(rootID); }
    // Lifts the user's mask of the agent's service (systemd's counterpart of a login item
    // the user switched off); the agent stays off.
    Q_INVOKABLE void openLoginItemsSettings() { service_.allowBackgroundStart(); }

    // The user's text for a failure of the service controller.
    static QString userFacingMessage(const std::exception_ptr& failure) {
        return AgentServiceSequence::userFacingMessage(failure);
    }

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
    QString workspacePathOrEmpty() const { return workspacePath().value_or(QString()); }
    bool hasWorkspacePath() const { return workspacePath().has_value(); }
    QVariantList workspaceRootsForViews() const;
    QString configurationMessageOrEmpty() const {
        return configurationMessage_.value_or(QString());
    }
    bool hasConfigurationMessage() const { return configurationMessage_.has_value(); }
    void setConfigurationMessage(std::optional<QString> message);
    void forwardSignals();

    // Every change of the configuration: reload, tell the user, restart a running agent, log.
    void applyConfigurationChange(const QString& message, const QString& logLine);
    void applyRestoredTokenAccess();

    std::unique_ptr<AgentLogReading> logReader_;
    AgentViewModelEnvironment environment_;
    AgentLogModel log_;
    AgentServiceSequence service_;
    AgentTokenSettings token_;
    AgentWorkspaceSettings workspace_;
    bool isLogExpanded_ = false;
    bool isWorkspaceSheetPresented_ = false;
    std::optional<QString> configurationMessage_;
    QString updateStatus_;
};

}  // namespace quorvane
