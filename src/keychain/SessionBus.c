#include "keychain/SessionBus.h"

#include <libsecret/secret.h>

static GMutex held_mutex;
// Held for the whole run, so that whoever else asks GLib gets this guarded connection.
static GDBusConnection* held;

GDBusConnection* quorvane_session_bus(GCancellable* cancellable, GError** error) {
    g_mutex_lock(&held_mutex);
    if (held && g_dbus_connection_is_closed(held)) {
        g_clear_object(&held);
        secret_service_disconnect();
    }
    if (!held) {
        held = g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable, error);
        if (held) {
            g_dbus_connection_set_exit_on_close(held, FALSE);
        }
    }
    GDBusConnection* connection = held ? g_object_ref(held) : NULL;
    g_mutex_unlock(&held_mutex);
    return connection;
}
