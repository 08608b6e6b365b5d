#include "app/SessionBusLoss.h"

#include <gio/gio.h>

namespace quorvane {

void surviveSessionBusLoss() {
    static GDBusConnection* const connection = [] {
        GError* error = nullptr;
        GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        // Without a bus now, libsecret fails to connect and nothing can be lost.
        g_clear_error(&error);
        return shared;
    }();
    if (connection != nullptr) {
        g_dbus_connection_set_exit_on_close(connection, FALSE);
    }
}

}  // namespace quorvane
