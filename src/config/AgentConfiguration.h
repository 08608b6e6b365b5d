#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "config/WorkspaceRootConfiguration.h"

namespace quorvane {

// The content of one configuration file.
struct AgentConfiguration {
    std::optional<QString> token;  // only from a file that still carries a token line
    QList<WorkspaceRootConfiguration> workspaceRoots;  // sorted by id, ids unique

    static AgentConfiguration empty() { return {}; }

    friend bool operator==(const AgentConfiguration&, const AgentConfiguration&) = default;
};

}  // namespace quorvane
