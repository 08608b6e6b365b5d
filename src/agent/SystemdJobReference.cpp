#include "agent/SystemdJobReference.h"

namespace quorvane {

const QDBusArgument& operator>>(const QDBusArgument& argument, SystemdJobReference& job) {
    argument.beginStructure();
    argument >> job.id >> job.path;
    argument.endStructure();
    return argument;
}

}  // namespace quorvane
