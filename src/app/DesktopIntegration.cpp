#include "app/DesktopIntegration.h"

#include <gio/gio.h>

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "keychain/SessionBus.h"

namespace quorvane {

namespace {

constexpr int busTimeoutMilliseconds = 500;

// The reply of a call to the running portal (never auto-started), or null.
GVariant* callPortal(GDBusConnection* bus, const char* interface, const char* method,
                     GVariant* arguments) {
    return g_dbus_connection_call_sync(bus, "org.freedesktop.portal.Desktop",
                                       "/org/freedesktop/portal/desktop", interface, method,
                                       arguments, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                       busTimeoutMilliseconds, nullptr, nullptr);
}

}  // namespace

bool fileChooserPortalIsRunning() {
    GDBusConnection* bus = quorvane_session_bus(nullptr, nullptr);
    if (bus == nullptr) {
        return false;
    }
    // The portal exports the file chooser only where a desktop backend implements it.
    GVariant* version =
        callPortal(bus, "org.freedesktop.DBus.Properties", "Get",
                   g_variant_new("(ss)", "org.freedesktop.portal.FileChooser", "version"));
    const bool running = version != nullptr;
    if (version != nullptr) {
        g_variant_unref(version);
    }
    g_object_unref(bus);
    return running;
}

void installQtTranslations(QCoreApplication& application) {
    auto* translator = new QTranslator(&application);
    if (translator->load(QLocale(QLocale::Russian), QStringLiteral("qt"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

}  // namespace quorvane
