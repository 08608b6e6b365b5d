#pragma once

#include <QProcess>

#include "config/AgentContract.h"

// The private session's systemd --user, as the session tests inspect it.
namespace quorvane::testing {

using namespace Qt::StringLiterals;

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
    return programOutput(u"systemctl"_s, QStringList{u"--user"_s} + arguments);
}

// A property of the agent's unit, as `systemctl show` prints its value.
inline QString unitProperty(const QString& name) {
    return systemctl({u"show"_s, u"--value"_s, u"-p"_s, name, agentUnit()});
}

// The agent's main process; 0 while the unit has none.
inline qint64 agentProcessID() {
    return unitProperty(u"MainPID"_s).toLongLong();
}

}  // namespace quorvane::testing
