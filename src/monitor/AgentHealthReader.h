#pragma once

#include <QString>

#include "monitor/AgentHealthReading.h"

namespace quorvane {

class AgentHealthReader final : public AgentHealthReading {
public:
    explicit AgentHealthReader(QString path = defaultPath());

    // $XDG_STATE_HOME/quorvane/agent-health.json
    static QString defaultPath();
    const QString& path() const { return path_; }

    std::optional<AgentHealthSnapshot> readSnapshot() const override;

private:
    QString path_;
};

}  // namespace quorvane
