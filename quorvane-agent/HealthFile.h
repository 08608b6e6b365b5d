#pragma once

#include <QLatin1StringView>
#include <QString>
#include <optional>

namespace quorvane {

// The agent's health file, which the panel reads while it is connected to the agent.
class HealthFile {
public:
    explicit HealthFile(QString path);

    // Replaces the file atomically; throws std::system_error.
    void write(QLatin1StringView status, const std::optional<QString>& message) const;

private:
    QString path_;
};

}  // namespace quorvane
