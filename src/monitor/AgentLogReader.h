#pragma once

#include <QString>

#include "monitor/AgentLogReading.h"

namespace quorvane {

class AgentLogReader final : public AgentLogReading {
public:
    // Only this many bytes at the end of the file are read, whatever its size.
    static constexpr qint64 windowSize = 262144;

    explicit AgentLogReader(QString path = defaultPath());

    // $XDG_STATE_HOME/quorvane/logs/agent.log
    static QString defaultPath();
    const QString& path() const { return path_; }

    QStringList readRecentLines(int limit) const override;
    std::optional<AgentLogStamp> stamp() const override;

private:
    QString path_;
};

}  // namespace quorvane
