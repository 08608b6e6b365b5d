#pragma once

#include <QtGlobal>

namespace quorvane {

// What tells one state of the log file from another without reading it: an append changes the
// size, a rewrite of the same size the modification time.
struct AgentLogStamp {
    qint64 size = 0;
    qint64 modifiedNanoseconds = 0;

    friend bool operator==(const AgentLogStamp&, const AgentLogStamp&) = default;
};

}  // namespace quorvane
