#pragma once

#include <QUuid>
#include <algorithm>

#include "config/AgentConfiguration.h"

// The two configurations that config-save-loop writes in turn. Large enough (tens of KiB)
// that a kill often lands in the middle of writing one.
namespace quorvane::testing::SaveLoop {

inline AgentConfiguration configuration(const QString& name, int rootCount) {
    const QUuid space = QUuid::fromString(QStringLiteral("a3c8d6f0-5b1e-4f2a-9c7d-0e4b8a6f2d11"));
    AgentConfiguration configuration;
    for (int i = 0; i < rootCount; ++i) {
        const QString id = QUuid::createUuidV5(space, QStringLiteral("%1-%2").arg(name).arg(i))
                               .toString(QUuid::WithoutBraces);
        configuration.workspaceRoots.append(
            {id, QStringLiteral("/srv/%1/папка номер %2").arg(name).arg(i), i % 2 == 0});
    }
    std::sort(configuration.workspaceRoots.begin(), configuration.workspaceRoots.end(),
              [](const auto& a, const auto& b) { return a.id < b.id; });
    return configuration;
}

inline AgentConfiguration first() {
    return configuration(QStringLiteral("first"), 400);
}

inline AgentConfiguration second() {
    return configuration(QStringLiteral("second"), 300);
}

}  // namespace quorvane::testing::SaveLoop
