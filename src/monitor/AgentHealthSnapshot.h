#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace quorvane {

// The agent's health file, decoded.
struct AgentHealthSnapshot {
    QString version;
    QString status;
    std::optional<QString> message;
    QString updatedAt;
    // When the file was last written, as its file system tells; nothing when unknown.
    std::optional<QDateTime> writtenAt = std::nullopt;

    friend bool operator==(const AgentHealthSnapshot&, const AgentHealthSnapshot&) = default;
};

}  // namespace quorvane
