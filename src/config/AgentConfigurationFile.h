#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "config/AgentConfiguration.h"
#include "system/FileIdentity.h"

namespace quorvane {

// The agent's configuration file alone, without the token store: what the bundled agent reads
// and what the store writes through. Nothing is cached: every operation opens the file afresh.
// Failures are AgentConfigurationError or std::system_error.
class AgentConfigurationFile {
public:
    explicit AgentConfigurationFile(QString fileURL);

    const QString& fileURL() const { return fileURL_; }

    // The file as it stands (a token only from a token line); no file reads as empty.
    AgentConfiguration loadFile() const;
    // Replaces the file atomically with the configuration's roots (never a token line). What
    // the next read would refuse as too large is refused here and nothing is written.
    void save(const AgentConfiguration& configuration) const;
    // Reads the file, applies the change and saves the result, unless the file changed after
    // it was read (the user edited it by hand, another panel saved): then the change is applied
    // to the new content, a few times at most, before configurationChangedDuringSave.
    void update(const std::function<void(AgentConfiguration&)>& change) const;

private:
    struct Version {
        AgentConfiguration configuration;
        std::optional<FileIdentity> identity;  // nothing: no file
    };

    Version read() const;
    QByteArray writableBytes(const AgentConfiguration& configuration) const;

    QString fileURL_;
};

}  // namespace quorvane
