#include "ui/MainWindow.h"

#include <QtQml/qqmlextensionplugin.h>

#include <QGuiApplication>
#include <QIcon>
#include <QQuickStyle>
#include <QScreen>
#include <stdexcept>

// The views live in a static QML module; this pulls its registration into every program
// that opens the window.
Q_IMPORT_QML_PLUGIN(Quorvane_UiPlugin)

namespace quorvane {

namespace {

const QString moduleRoot = QStringLiteral("qrc:/qt/qml");
// Where the small loader document claims to live; nothing is read from it.
const QString loaderUrl = QStringLiteral("qrc:/qt/qml/quorvane-panel.qml");
const QString bundledIcon = QStringLiteral(":/qt/qml/Quorvane/Ui/images/quorvane.svg");
const char* const screenHeightProperty = "screenAvailableHeight";

}  // namespace

void MainWindow::configureApplication() {
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    // One small 2D window: the software scene graph shows it sooner and spares the memory a GL
    // driver maps (about 90 MB with Mesa's llvmpipe). QT_QUICK_BACKEND still picks another.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
    // Themes without symbolic icons fall through to Adwaita before the bundled drawings.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("quorvane"), QIcon(bundledIcon)));
}

MainWindow::MainWindow(AgentViewModel& model) {
    engine_.addImportPath(moduleRoot);
    const QScreen* screen = QGuiApplication::primaryScreen();
    engine_.setInitialProperties({{QStringLiteral("model"), QVariant::fromValue(&model)},
                                  {QString::fromLatin1(screenHeightProperty),
                                   screen != nullptr ? screen->availableGeometry().height() : 0}});
    // Loaded through the module's URI so the module's C++ types are registered first.
    engine_.loadData(QByteArrayLiteral("import Quorvane.Ui\nMainWindow {}"), QUrl(loaderUrl));
    const auto roots = engine_.rootObjects();
    window_ = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
    if (window_ == nullptr) {
        throw std::runtime_error("Не удалось загрузить окно Quorvane Agent");
    }
    followScreen(window_->screen());
    QObject::connect(window_, &QWindow::screenChanged, window_,
                     [this](QScreen* screen) { followScreen(screen); });
}

void MainWindow::followScreen(QScreen* screen) {
    QObject::disconnect(screenAreaConnection_);
    if (screen == nullptr) {
        return;
    }
    window_->setProperty(screenHeightProperty, screen->availableGeometry().height());
    screenAreaConnection_ = QObject::connect(
        screen, &QScreen::availableGeometryChanged, window_, [window = window_](const QRect& area) {
            window->setProperty(screenHeightProperty, area.height());
        });
}

}  // namespace quorvane
