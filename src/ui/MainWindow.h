#pragma once

#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include "agent/AgentViewModel.h"

namespace quorvane {

// The panel's one window, loaded from the Quorvane.Ui module around the application's view
// model. The window does not own the model; the model must outlive it.
class MainWindow {
public:
    // The application-wide look: the Basic style, the software scene graph, the desktop's icon
    // theme with Adwaita behind it, the window icon. Call once before the first window.
    static void configureApplication();

    explicit MainWindow(AgentViewModel& model);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    QQuickWindow& window() const { return *window_; }

private:
    // Tells the window how tall its screen's available area is, and again whenever the window
    // moves to another screen or the desktop's panels change.
    void followScreen(QScreen* screen);

    QQmlApplicationEngine engine_;
    QQuickWindow* window_ = nullptr;
    QMetaObject::Connection screenAreaConnection_;
};

}  // namespace quorvane
