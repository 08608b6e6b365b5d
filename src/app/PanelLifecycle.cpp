#include "app/PanelLifecycle.h"

#include <QCoreApplication>
#include <QEvent>

namespace quorvane {

PanelLifecycle::PanelLifecycle(QQuickWindow& window, AgentViewModel& model) : model_(model) {
    window.installEventFilter(this);
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &model,
            &AgentViewModel::shutdown);
    connect(&terminationSignals_, &TerminationSignals::received, QCoreApplication::instance(),
            &QCoreApplication::quit);
}

bool PanelLifecycle::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close) {
        model_.shutdown();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace quorvane
