#pragma once

#include <QString>
#include <QStringList>

// The private session's systemd --user, as the session tests inspect it.
namespace quorvane::testing {

// The agent's user unit.
QString agentUnit();

// The program's trimmed standard output, once it has finished (bounded wait).
QString programOutput(const QString& program, const QStringList& arguments);

// `systemctl --user` with these arguments; its trimmed standard output.
QString systemctl(const QStringList& arguments);

// A property of the agent's unit, as `systemctl show` prints its value.
QString unitProperty(const QString& name);

// The agent's main process; 0 while the unit has none.
qint64 agentProcessID();

}  // namespace quorvane::testing
