#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include "config/AgentContract.h"

// The private session's systemd --user, as the session tests inspect it.
namespace quorvane::testing {

inline QString agentUnit() {
    return QString(AgentContract::unitName);
}

// The program's trimmed standard output, once it has finished (generous bounded wait).
inline QString programOutput(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

inline QString systemctl(const QStringList& arguments) {
    return programOutput(QStringLiteral("systemctl"),
                         QStringList{QStringLiteral("--user")} + arguments);
}

// A property of the agent's unit, as `systemctl show` prints its value.
inline QString unitProperty(const QString& name) {
    return systemctl({QStringLiteral("show"), QStringLiteral("--value"), QStringLiteral("-p"), name,
                      agentUnit()});
}

// The agent's main process; 0 while the unit has none.
inline qint64 agentProcessID() {
    return unitProperty(QStringLiteral("MainPID")).toLongLong();
}

}  // namespace quorvane::testing
