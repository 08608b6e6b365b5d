#pragma once

#include <QDBusArgument>
#include <QDBusObjectPath>

namespace quorvane {

// A unit's "Job" property, (uo): the queued job's number and object; number 0 when none.
struct SystemdJobReference {
    quint32 id = 0;
    QDBusObjectPath path;
};

const QDBusArgument& operator>>(const QDBusArgument& argument, SystemdJobReference& job);

}  // namespace quorvane
