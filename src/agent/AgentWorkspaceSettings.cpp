#include "agent/AgentWorkspaceSettings.h"

#include "agent/AgentFailure.h"
#include "agent/Published.h"
#include "config/PlatformWording.h"

namespace quorvane {

using namespace Qt::StringLiterals;

AgentWorkspaceSettings::AgentWorkspaceSettings(AgentConfigurationStore store,
                                               ChooseFolder chooseFolder, QObject* parent)
    : QObject(parent), store_(std::move(store)), chooseFolder_(std::move(chooseFolder)) {}

void AgentWorkspaceSettings::setRoots(QList<WorkspaceRootConfiguration> roots) {
    roots_.setRoots(std::move(roots));
    Q_EMIT rootsChanged();
    Q_EMIT statusDetailChanged();
}

void AgentWorkspaceSettings::setPath(std::optional<QString> path) {
    publish(this, path_, std::move(path), &AgentWorkspaceSettings::pathChanged);
    Q_EMIT statusDetailChanged();
}

void AgentWorkspaceSettings::setRootIDDraft(const QString& draft) {
    publish(this, rootIDDraft_, draft, &AgentWorkspaceSettings::rootIDDraftChanged);
}

void AgentWorkspaceSettings::setWriteEnabled(bool enabled) {
    publish(this, writeEnabled_, enabled, &AgentWorkspaceSettings::writeEnabledChanged);
}

QString AgentWorkspaceSettings::statusTitle() const {
    if (rootList().isEmpty()) {
        return u"Локальные папки: не добавлены"_s;
    }
    return u"Локально сохранено папок: "_s + QString::number(rootList().size());
}

QString AgentWorkspaceSettings::statusDetail() const {
    if (path_) {
        return *path_;
    }
    if (!rootList().isEmpty()) {
        return rootList().first().path;
    }
    return u"Выберите локальную папку"_s;
}

bool AgentWorkspaceSettings::selectFolder() {
    std::optional<QString> chosen = chooseFolder_ ? chooseFolder_() : std::nullopt;
    if (!chosen) {
        return false;
    }
    setPath(std::move(chosen));
    return true;
}

void AgentWorkspaceSettings::save(bool agentIsReady) {
    if (!agentIsReady) {
        Q_EMIT failed(PlatformWording::current().saveRefusedWhileOff());
        return;
    }
    if (!path_) {
        Q_EMIT failed(u"Сначала выберите локальную папку."_s);
        return;
    }
    try {
        store_.upsertWorkspace(rootIDDraft_, *path_, writeEnabled_);
    } catch (...) {
        Q_EMIT failed(failureDescription(std::current_exception()));
        return;
    }
    setRootIDDraft(QString());
    setPath(std::nullopt);
    setWriteEnabled(false);
    Q_EMIT saved();
}

void AgentWorkspaceSettings::remove(const QString& rootID) {
    try {
        store_.removeWorkspace(rootID);
    } catch (...) {
        Q_EMIT failed(failureDescription(std::current_exception()));
        return;
    }
    Q_EMIT removed();
}

}  // namespace quorvane
