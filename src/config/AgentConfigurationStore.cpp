#include "config/AgentConfigurationStore.h"

#include <algorithm>

#include "config/AgentContract.h"

namespace quorvane {

namespace {

// A token line still in the file is moved into the token store before the file is rewritten.
AgentConfiguration loadMigratingToken(const AgentConfigurationStore& store) {
    AgentConfiguration configuration = store.loadFile();
    return configuration.token ? store.load() : configuration;
}

}  // namespace

AgentConfigurationStore::AgentConfigurationStore(
    QString fileURL, std::shared_ptr<const AgentTokenStoring> tokenStore)
    : file_(std::move(fileURL)), tokenStore_(std::move(tokenStore)) {}

QString AgentConfigurationStore::defaultURL() {
    return AgentContract::configurationFilePath();
}

QString AgentConfigurationStore::maskedToken(const std::optional<QString>& token) {
    if (!token || token->isEmpty()) {
        return QStringLiteral("Не настроен");
    }
    return QStringLiteral("Настроен · ••••••••");
}

AgentConfiguration AgentConfigurationStore::loadFile() const {
    return file_.loadFile();
}

void AgentConfigurationStore::save(const AgentConfiguration& configuration) const {
    file_.save(configuration);
}

AgentConfiguration AgentConfigurationStore::load() const {
    AgentConfiguration configuration = loadFile();
    const std::optional<QString> stored = tokenStore_->read();
    if (configuration.token) {
        if (!stored) {
            tokenStore_->save(*configuration.token);
        }
        save(configuration);
    }
    if (stored) {
        configuration.token = stored;
    }
    return configuration;
}

void AgentConfigurationStore::storeToken(const QString& tokenDraft) const {
    const QString token = validateToken(tokenDraft);
    const AgentConfiguration configuration = loadFile();
    tokenStore_->save(token);
    save(configuration);
}

void AgentConfigurationStore::upsertWorkspace(const QString& rootID, const QString& path,
                                              bool writeEnabled) const {
    const QString id = validateWorkspaceID(rootID);
    const QString folder = validateWorkspacePath(path);
    probeWorkspaceAccess(folder, writeEnabled);
    AgentConfiguration configuration = loadMigratingToken(*this);
    const auto existing =
        std::find_if(configuration.workspaceRoots.begin(), configuration.workspaceRoots.end(),
                     [&id](const WorkspaceRootConfiguration& root) { return root.id == id; });
    if (existing != configuration.workspaceRoots.end()) {
        existing->path = folder;
        existing->writeEnabled = writeEnabled;
    } else {
        configuration.workspaceRoots.append({id, folder, writeEnabled});
    }
    save(configuration);
}

void AgentConfigurationStore::removeWorkspace(const QString& rootID) const {
    const QString id = validateWorkspaceID(rootID);
    AgentConfiguration configuration = loadMigratingToken(*this);
    configuration.workspaceRoots.removeIf(
        [&id](const WorkspaceRootConfiguration& root) { return root.id == id; });
    save(configuration);
}

}  // namespace quorvane
