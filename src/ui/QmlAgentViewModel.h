#pragma once

#include <QtQml/qqml.h>

#include <QObject>

#include "agent/AgentViewModel.h"

namespace quorvane {

// Makes the view model known to QML by name; the application creates the one instance and
// hands it to the window.
struct QmlAgentViewModel {
    Q_GADGET
    QML_FOREIGN(quorvane::AgentViewModel)
    QML_NAMED_ELEMENT(AgentViewModel)
    QML_UNCREATABLE("The application creates the one view model.")
};

}  // namespace quorvane
