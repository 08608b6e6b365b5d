#pragma once

#include <QString>
#include <optional>

namespace quorvane {

// The agent's health file, decoded.
struct AgentHealthSnapshot {
    QString version;
    QString status;
    std::optional<QString> message;
    QString updatedAt;

    friend bool operator==(const AgentHealthSnapshot&, const AgentHealthSnapshot&) = default;
};

}  // namespace quorvane
