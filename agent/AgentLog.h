#pragma once

#include <QString>

namespace quorvane {

// The agent's log: UTF-8, one event per line, "2026-12-06T19:00:00Z  message", appended.
class AgentLog {
public:
    explicit AgentLog(QString path);
    ~AgentLog();
    AgentLog(const AgentLog&) = delete;
    AgentLog& operator=(const AgentLog&) = delete;

    // Never fails: an event that cannot be logged goes to standard error instead.
    void write(const QString& message) noexcept;

private:
    void open();

    QString path_;
    int descriptor_ = -1;
};

}  // namespace quorvane
