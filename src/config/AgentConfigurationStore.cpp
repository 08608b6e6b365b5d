#include "config/AgentConfigurationStore.h"

#include <algorithm>

#include "config/AgentContract.h"
#include "config/ConfigLogging.h"

namespace quorvane {

namespace {

void keepAsRead(AgentConfiguration&) {}

// A token line still in the file is moved into the token store before the file is rewritten.
void migrateTokenLine(const AgentConfigurationStore& store) {
    if (store.loadFile().token) {
        store.load();
    }
}

// Whether a token line is left to remove. A file that cannot be read has nothing to do with
// the token, so it is left as it is, and its fault is shown by whatever reads the folders.
bool carriesTokenLine(const AgentConfigurationFile& file) {
    try {
        return file.loadFile().token.has_value();
    } catch (const std::exception&) {
        qCWarning(lcConfig, "the configuration file cannot be read; it is left as it is");
        return false;
    }
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
        file_.update(keepAsRead);
    }
    if (stored) {
        configuration.token = stored;
    }
    return configuration;
}

std::optional<QString> AgentConfigurationStore::storedToken() const {
    return tokenStore_->read();
}

void AgentConfigurationStore::storeToken(const QString& tokenDraft) const {
    const QString token = validateToken(tokenDraft);
    tokenStore_->save(token);
    if (carriesTokenLine(file_)) {
        file_.update(keepAsRead);
    }
}

void AgentConfigurationStore::upsertWorkspace(const QString& rootID, const QString& path,
                                              bool writeEnabled) const {
    const QString id = validateWorkspaceID(rootID);
    const QString folder = validateWorkspacePath(path);
    probeWorkspaceAccess(folder, writeEnabled);
    migrateTokenLine(*this);
    file_.update([&](AgentConfiguration& configuration) {
        const auto existing =
            std::find_if(configuration.workspaceRoots.begin(), configuration.workspaceRoots.end(),
                         [&id](const WorkspaceRootConfiguration& root) { return root.id == id; });
        if (existing != configuration.workspaceRoots.end()) {
            existing->path = folder;
            existing->writeEnabled = writeEnabled;
        } else {
            configuration.workspaceRoots.append({id, folder, writeEnabled});
        }
    });
}

void AgentConfigurationStore::removeWorkspace(const QString& rootID) const {
    const QString id = validateWorkspaceID(rootID);
    migrateTokenLine(*this);
    file_.update([&id](AgentConfiguration& configuration) {
        configuration.workspaceRoots.removeIf(
            [&id](const WorkspaceRootConfiguration& root) { return root.id == id; });
    });
}

}  // namespace quorvane
