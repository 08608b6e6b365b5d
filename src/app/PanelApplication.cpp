#include "app/PanelApplication.h"

#include <QApplication>
#include <QLoggingCategory>
#include <exception>
#include <vector>

#include "app/AgentViewModelFactory.h"
#include "app/DesktopIntegration.h"
#include "app/PanelInstance.h"
#include "app/PanelLifecycle.h"
#include "app/SeatlessWayland.h"
#include "ui/MainWindow.h"

Q_LOGGING_CATEGORY(lcPanel, "quorvane.app")

namespace quorvane {

int runPanel(int& argc, char** argv) {
    // The desktop's own folder dialog through its portal where one runs, unless the user chose
    // a platform theme. An argument, not the environment, so programs the panel starts are not
    // affected.
    std::vector<char*> arguments(argv, argv + argc);
    char platformThemeOption[] = "-platformtheme";
    char portalTheme[] = "xdgdesktopportal";
    if (argc > 0 && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME") &&
        fileChooserPortalIsRunning()) {
        arguments.insert(arguments.begin() + 1, {platformThemeOption, portalTheme});
    }
    int argumentCount = int(arguments.size());
    arguments.push_back(nullptr);
    SeatlessWayland seatlessWayland;
    // Widgets, not only Qt Quick: the folder chooser is the desktop's file dialog.
    QApplication application(argumentCount, arguments.data());
    seatlessWayland.restoreEnvironment();
    installQtTranslations(application);
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.quorvane.Panel"));
    PanelInstance instance;
    if (!instance.claim()) {
        return 0;
    }
    MainWindow::configureApplication();
    try {
        AgentViewModelEnvironment environment = AgentViewModelFactory::environment();
        // Only the panel that owns the session's name may take a registration for a leftover.
        environment.ownsPanelName = [&instance] { return instance.ownsName(); };
        const auto model = AgentViewModelFactory::create(std::move(environment));
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
