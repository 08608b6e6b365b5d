#include "agent/AgentViewModel.h"

#include <QVariantMap>

#include "agent/Published.h"
#include "config/PlatformWording.h"

namespace quorvane {

using namespace Qt::StringLiterals;

namespace {

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
      logReader_(std::move(logReader)),
      environment_(std::move(environment)),
      log_(*logReader_, environment_.now),
      service_(std::move(serviceController), std::move(guiLease), std::move(healthReader), log_,
               {environment_.now, environment_.ownsPanelName}),
      token_(configurationStore, std::move(authorizeToken)),
      workspace_(configurationStore, environment_.chooseFolder) {
    forwardSignals();
    log_.append(u"Интерфейс Quorvane Agent запущен"_s);
    log_.append(u"Состояние службы: "_s + serviceState().title().toLower());
    token_.load();
}

AgentViewModel::~AgentViewModel() = default;

void AgentViewModel::forwardSignals() {
    using Self = AgentViewModel;
    connect(&log_, &AgentLogModel::linesChanged, this, &Self::logEntriesChanged);
    connect(&service_, &AgentServiceSequence::stateChanged, this, &Self::serviceStateChanged);
    connect(&service_, &AgentServiceSequence::isChangingStateChanged, this,
            &Self::isChangingStateChanged);
    connect(&service_, &AgentServiceSequence::restartFailed, this,
            [this](const QString& message) { setConfigurationMessage(message); });

    connect(&token_, &AgentTokenSettings::draftChanged, this, &Self::tokenDraftChanged);
    connect(&token_, &AgentTokenSettings::statusChanged, this, &Self::tokenStatusChanged);
    connect(&token_, &AgentTokenSettings::hasSavedTokenChanged, this, &Self::hasSavedTokenChanged);
    connect(&token_, &AgentTokenSettings::accessNeededChanged, this,
            &Self::tokenAccessNeededChanged);
    connect(&token_, &AgentTokenSettings::isAuthorizingChanged, this,
            &Self::isAuthorizingTokenChanged);
    connect(&token_, &AgentTokenSettings::isSavingChanged, this, &Self::isSavingTokenChanged);
    connect(&token_, &AgentTokenSettings::rootsLoaded, &workspace_,
            &AgentWorkspaceSettings::setRoots);
    connect(&token_, &AgentTokenSettings::failed, this,
            [this](const QString& message) { setConfigurationMessage(message); });
    connect(&token_, &AgentTokenSettings::tokenSaved, this, [this] {
        Q_EMIT tokenSaved();
        applyConfigurationChange(PlatformWording::current().tokenStored(),
                                 u"Конфигурация подключения обновлена"_s);
    });
    connect(&token_, &AgentTokenSettings::accessGranted, this,
            [this] { token_.load([this] { applyRestoredTokenAccess(); }); });

    connect(&workspace_, &AgentWorkspaceSettings::rootsChanged, this, &Self::workspaceRootsChanged);
    connect(&workspace_, &AgentWorkspaceSettings::pathChanged, this, &Self::workspacePathChanged);
    connect(&workspace_, &AgentWorkspaceSettings::rootIDDraftChanged, this,
            &Self::workspaceRootIDDraftChanged);
    connect(&workspace_, &AgentWorkspaceSettings::writeEnabledChanged, this,
            &Self::workspaceWriteEnabledChanged);
    connect(&workspace_, &AgentWorkspaceSettings::statusDetailChanged, this,
            &Self::workspaceStatusDetailChanged);
    connect(&workspace_, &AgentWorkspaceSettings::failed, this,
            [this](const QString& message) { setConfigurationMessage(message); });
    connect(&workspace_, &AgentWorkspaceSettings::saved, this, [this] {
        applyConfigurationChange(PlatformWording::current().folderSaved(),
                                 u"Настройки Workspace обновлены"_s);
    });
    connect(&workspace_, &AgentWorkspaceSettings::removed, this, [this] {
        applyConfigurationChange(u"Workspace удалён из локальной конфигурации."_s,
                                 u"Настройки Workspace обновлены"_s);
    });
}

void AgentViewModel::setLogExpanded(bool expanded) {
    publish(this, isLogExpanded_, expanded, &AgentViewModel::isLogExpandedChanged);
}

void AgentViewModel::setWorkspaceSheetPresented(bool presented) {
    publish(this, isWorkspaceSheetPresented_, presented,
            &AgentViewModel::isWorkspaceSheetPresentedChanged);
}

void AgentViewModel::setUpdateStatus(const QString& status) {
    publish(this, updateStatus_, status, &AgentViewModel::updateStatusChanged);
}

void AgentViewModel::setConfigurationMessage(std::optional<QString> message) {
    publish(this, configurationMessage_, std::move(message),
            &AgentViewModel::configurationMessageChanged);
}

QVariantList AgentViewModel::workspaceRootsForViews() const {
    QVariantList roots;
    for (const WorkspaceRootConfiguration& root : workspaceRoots()) {
        roots.append(QVariantMap{
            {u"id"_s, root.id}, {u"path"_s, root.path}, {u"writeEnabled"_s, root.writeEnabled}});
    }
    return roots;
}

QString AgentViewModel::versionText() const {
    return u"Версия "_s + orDash(environment_.shortVersion) + u" ("_s +
           orDash(environment_.buildNumber) + u")"_s;
}

QString AgentViewModel::workspaceAccount() const {
    return environment_.fullUserName.isEmpty() ? environment_.userName : environment_.fullUserName;
}

void AgentViewModel::refresh() {
    service_.refreshCycle();
    if (isLogExpanded_) {
        log_.followAgentLog();
    }
}

void AgentViewModel::selectWorkspaceFolder() {
    if (workspace_.selectFolder()) {
        setConfigurationMessage(std::nullopt);
    }
}

void AgentViewModel::saveWorkspace() {
    service_.refreshRegistration(
        [this] { workspace_.save(service_.isRegistered() && !service_.isChangingState()); });
}

void AgentViewModel::applyConfigurationChange(const QString& message, const QString& logLine) {
    token_.load();
    setConfigurationMessage(message);
    service_.applyConfigurationChange();
    log_.append(logLine);
}

void AgentViewModel::applyRestoredTokenAccess() {
    if (hasSavedToken()) {
        setConfigurationMessage(u"Доступ к сохранённому токену восстановлен."_s);
        service_.applyConfigurationChange();
    }
}

}  // namespace quorvane
