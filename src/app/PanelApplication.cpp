#include "app/PanelApplication.h"

#include <QApplication>
#include <QLoggingCategory>
#include <exception>

#include "app/AgentViewModelFactory.h"
#include "app/PanelInstance.h"
#include "app/PanelLifecycle.h"
#include "app/SessionBusLoss.h"
#include "ui/MainWindow.h"

Q_LOGGING_CATEGORY(lcPanel, "quorvane.app")

namespace quorvane {

int runPanel(int& argc, char** argv) {
    // Widgets, not only Qt Quick: the folder chooser is the desktop's file dialog.
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.quorvane.Panel"));
    PanelInstance instance;
    if (!instance.claim()) {
        return 0;
    }
    MainWindow::configureApplication();
    surviveSessionBusLoss();
    try {
        const auto model = AgentViewModelFactory::create();
        MainWindow mainWindow(*model);
        PanelLifecycle lifecycle(mainWindow.window(), *model);
        instance.bringToFrontOnRequest(mainWindow.window());
        return QApplication::exec();
    } catch (const std::exception& failure) {
        qCCritical(lcPanel, "%s", failure.what());
        return 1;
    }
}

}  // namespace quorvane
