#pragma once

#include <QStringList>

#include "monitor/AgentLogReading.h"

namespace quorvane::testing {

// The agent's log as fixed lines; its stamp changes with them. Counts the reads and remembers
// the limit of each.
class FakeLogReader final : public AgentLogReading {
public:
    explicit FakeLogReader(QStringList logged = {}) : lines(std::move(logged)) {}
    QStringList readRecentLines(int limit) const override {
        limits << limit;
        return lines.mid(qMax(0, lines.size() - limit));
    }
    std::optional<AgentLogStamp> stamp() const override {
        if (lines.isEmpty()) {
            return std::nullopt;
        }
        return AgentLogStamp{lines.join(u'\n').size(), qint64(qHash(lines))};
    }
    QStringList lines;
    mutable QList<int> limits;
};

}  // namespace quorvane::testing
