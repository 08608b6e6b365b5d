#include "app/PanelApplication.h"

#include <QApplication>
#include <QWidget>

namespace quorvane {

int runPanel(int& argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Quorvane Agent"));
    window.show();
    return application.exec();
}

}  // namespace quorvane
