#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "config/AgentConfiguration.h"
#include "config/AgentConfigurationFile.h"
#include "config/AgentTokenStoring.h"

namespace quorvane {

// The panel's way to the configuration file and the device token: the file's operations with
// the token store beside them. Nothing is cached: every operation opens the file afresh.
// Failures are AgentConfigurationError, AgentTokenStorageError or std::system_error.
class AgentConfigurationStore {
public:
    AgentConfigurationStore(QString fileURL, std::shared_ptr<const AgentTokenStoring> tokenStore);

    // $XDG_CONFIG_HOME/quorvane/quorvane-agent.conf
    static QString defaultURL();

    const QString& fileURL() const { return file_.fileURL(); }
    const AgentTokenStoring& tokenStore() const { return *tokenStore_; }

    AgentConfiguration load() const;
    AgentConfiguration loadFile() const;
    // The token store's token alone, whatever the file holds; touches no file.
    std::optional<QString> storedToken() const;
    // Stores the token even when the file cannot be read; a readable file that still carries a
    // token line is rewritten without it, any other is left as it is.
    void storeToken(const QString& tokenDraft) const;
    void upsertWorkspace(const QString& rootID, const QString& path, bool writeEnabled) const;
    void removeWorkspace(const QString& rootID) const;

    static QString maskedToken(const std::optional<QString>& token);

    static AgentConfiguration parse(const QString& text);
    static QString serialize(const AgentConfiguration& configuration);

    static QString validateToken(const QString& text);
    static QString validateWorkspaceID(const QString& text);
    static QString validateWorkspacePath(const QString& text);
    static void probeWorkspaceAccess(const QString& path, bool writeEnabled);

    // Replaces the file atomically with the configuration's roots (never a token line).
    void save(const AgentConfiguration& configuration) const;

private:
    AgentConfigurationFile file_;
    std::shared_ptr<const AgentTokenStoring> tokenStore_;
};

}  // namespace quorvane
