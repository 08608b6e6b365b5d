#pragma once

#include <QString>
#include <optional>

#include "system/FileDescriptor.h"

namespace quorvane {

// The agent's log: UTF-8, one event per line, "2026-12-06T19:00:00Z  message", appended.
class AgentLog {
public:
    explicit AgentLog(QString path);

    // Never fails: an event that cannot be logged goes to standard error instead.
    void write(const QString& message) noexcept;

private:
    const FileDescriptor& file();

    QString path_;
    std::optional<FileDescriptor> file_;
};

}  // namespace quorvane
