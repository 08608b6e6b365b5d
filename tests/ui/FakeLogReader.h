#pragma once

#include "monitor/AgentLogReading.h"

namespace quorvane::testing {

// The agent's log as fixed lines.
class FakeLogReader final : public AgentLogReading {
public:
    explicit FakeLogReader(QStringList lines) : lines_(std::move(lines)) {}

    QStringList readRecentLines(int limit) const override {
        return lines_.mid(qMax(0, lines_.size() - limit));
    }

private:
    QStringList lines_;
};

}  // namespace quorvane::testing
