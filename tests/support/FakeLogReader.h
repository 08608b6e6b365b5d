#pragma once

#include <QStringList>

#include "monitor/AgentLogReading.h"

namespace quorvane::testing {

// The agent's log as fixed lines; remembers the limit of every read.
class FakeLogReader final : public AgentLogReading {
public:
    explicit FakeLogReader(QStringList logged = {}) : lines(std::move(logged)) {}
    QStringList readRecentLines(int limit) const override {
        limits << limit;
        return lines.mid(qMax(0, lines.size() - limit));
    }
    QStringList lines;
    mutable QList<int> limits;
};

}  // namespace quorvane::testing
