#pragma once

#include <QString>

#include "config/AgentConfiguration.h"

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
    // Replaces the file atomically with the configuration's roots (never a token line).
    void save(const AgentConfiguration& configuration) const;

private:
    QString fileURL_;
};

}  // namespace quorvane
