#include "app/SessionBusLoss.h"

#include <gio/gio.h>
#include <libsecret/secret.h>

#include <QTimer>

namespace quorvane {

namespace {

constexpr int renewalIntervalMs = 2000;

// GLib's shared session connection as last obtained, held so that its setting stays with it.
GDBusConnection* guardedConnection = nullptr;

void renewLater();

void whenClosed(GDBusConnection* connection, gboolean, GError*, gpointer) {
    // GLib hands out the closed connection for as long as anything holds it. libsecret keeps
    // its service proxy on it; dropping that and this hold lets the next lookup connect anew.
    g_signal_handlers_disconnect_by_func(connection, reinterpret_cast<gpointer>(&whenClosed),
                                         nullptr);
    secret_service_disconnect();
    g_clear_object(&guardedConnection);
    renewLater();
}

void guard(GDBusConnection* connection) {
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    g_signal_connect(connection, "closed", G_CALLBACK(whenClosed), nullptr);
    guardedConnection = connection;
}

void whenConnected(GObject*, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_finish(result, &error);
    g_clear_error(&error);
    if (connection == nullptr || g_dbus_connection_is_closed(connection)) {
        g_clear_object(&connection);
        renewLater();
        return;
    }
    guard(connection);
}

// Without waiting: the bus may take its time to come back.
void renewLater() {
    QTimer::singleShot(renewalIntervalMs,
                       [] { g_bus_get(G_BUS_TYPE_SESSION, nullptr, whenConnected, nullptr); });
}

}  // namespace

void surviveSessionBusLoss() {
    if (guardedConnection != nullptr) {
        return;
    }
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    g_clear_error(&error);
    if (connection == nullptr) {
        renewLater();
        return;
    }
    guard(connection);
}

}  // namespace quorvane
