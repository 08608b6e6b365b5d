#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "agent/AgentWorkspaceRootsModel.h"
#include "config/AgentConfigurationStore.h"

namespace quorvane {

// The folder bindings as the settings show them, the drafts of the next binding, and saving
// and removing bindings through the configuration store.
class AgentWorkspaceSettings : public QObject {
    Q_OBJECT

public:
    // Modal folder chooser: the chosen folder's path, or nothing when cancelled.
    using ChooseFolder = std::function<std::optional<QString>()>;

    AgentWorkspaceSettings(AgentConfigurationStore store, ChooseFolder chooseFolder,
                           QObject* parent = nullptr);

    AgentWorkspaceRootsModel& roots() { return roots_; }
    const QList<WorkspaceRootConfiguration>& rootList() const { return roots_.roots(); }
    void setRoots(QList<WorkspaceRootConfiguration> roots);
    const std::optional<QString>& path() const { return path_; }
    const QString& rootIDDraft() const { return rootIDDraft_; }
    void setRootIDDraft(const QString& draft);
    bool writeEnabled() const { return writeEnabled_; }
    void setWriteEnabled(bool enabled);

    QString statusTitle() const;
    QString statusDetail() const;

    // True when a folder was chosen.
    bool selectFolder();
    // Saves the drafts as a binding while the agent is registered and not switching, so that
    // the restart that follows makes the agent check the folder at once; saved() on success.
    void save(bool agentIsReady);
    // removed() on success.
    void remove(const QString& rootID);

Q_SIGNALS:
    void rootsChanged();
    void pathChanged();
    void rootIDDraftChanged();
    void writeEnabledChanged();
    void statusDetailChanged();
    void saved();
    void removed();
    // A refusal's or failure's text for the settings sheet.
    void failed(const QString& message);

private:
    void setPath(std::optional<QString> path);

    AgentConfigurationStore store_;
    ChooseFolder chooseFolder_;
    AgentWorkspaceRootsModel roots_;
    std::optional<QString> path_;
    QString rootIDDraft_;
    bool writeEnabled_ = false;
};

}  // namespace quorvane
