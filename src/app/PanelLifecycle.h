#pragma once

#include <QObject>
#include <QQuickWindow>

#include "agent/AgentViewModel.h"
#include "system/TerminationSignals.h"

namespace quorvane {

// Ends the view model's work on the agent however the panel ends: the window closing, the
// application quitting, or SIGTERM, SIGINT or SIGHUP, which quit the application. The agent
// must not outlive the panel; the view model's shutdown acts only on its first call.
class PanelLifecycle : public QObject {
    Q_OBJECT

public:
    PanelLifecycle(QQuickWindow& window, AgentViewModel& model);

protected:
    // Sees the window's close before the window goes away.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AgentViewModel& model_;
    TerminationSignals terminationSignals_;
};

}  // namespace quorvane
