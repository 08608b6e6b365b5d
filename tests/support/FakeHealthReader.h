#pragma once

#include <QStringList>

#include "monitor/AgentHealthReading.h"

namespace quorvane::testing {

// The agent's health as the test states it; nothing means no usable health file. Counts reads.
class FakeHealthReader final : public AgentHealthReading {
public:
    explicit FakeHealthReader(std::optional<AgentHealthSnapshot> reported = std::nullopt)
        : snapshot(std::move(reported)) {}
    std::optional<AgentHealthSnapshot> readSnapshot() const override {
        ++reads;
        return snapshot;
    }
    // "status" or "status|message"; empty: no health file.
    void report(const QString& status) {
        const QStringList parts = status.split(u'|');
        snapshot = AgentHealthSnapshot{QStringLiteral("1.0"),
                                       parts[0],
                                       parts.size() > 1 ? std::optional(parts[1]) : std::nullopt,
                                       {}};
        if (status.isEmpty()) {
            snapshot.reset();
        }
    }
    std::optional<AgentHealthSnapshot> snapshot;
    mutable int reads = 0;
};

}  // namespace quorvane::testing
