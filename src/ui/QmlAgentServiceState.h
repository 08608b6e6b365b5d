#pragma once

#include <QtQml/qqml.h>

#include <QObject>

#include "agent/AgentServiceState.h"

namespace quorvane {

// The agent's state as a QML value type: views read its properties, only C++ creates it.
struct QmlAgentServiceState {
    Q_GADGET
    QML_FOREIGN(quorvane::AgentServiceState)
    QML_VALUE_TYPE(agentServiceState)
    QML_UNCREATABLE("States come from the view model.")
};

}  // namespace quorvane
