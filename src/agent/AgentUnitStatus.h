#pragma once

#include <QString>

namespace quorvane {

// What one reading of the service manager found out about the agent's unit.
struct AgentUnitStatus {
    enum class Outcome {
        read,         // the fields below hold the manager's answers
        unknownUnit,  // the manager knows no such unit file
        malformed,    // an answer of an unexpected shape
        unreachable,  // no bus, no manager, a time-out, any other error
    };

    Outcome outcome = Outcome::read;
    QString unitFileState;  // GetUnitFileState: "enabled", "masked-runtime", …
    QString activeState;    // the unit's ActiveState and SubState
    QString subState;
    bool hasJob = false;     // a job is queued for the unit
    int execMainStatus = 0;  // the exit status of the agent's last run
    QString failure;         // for unreachable: the bus's message
};

}  // namespace quorvane
