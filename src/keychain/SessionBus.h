#pragma once

// GLib's shared session-bus connection, which libsecret and the portal check use. Left alone,
// GLib raises SIGTERM in the process when that bus goes away, and hands the closed connection
// out for as long as anything holds it. Every user in this program takes it here instead: its
// exit on close is turned off, and a closed one is let go of (libsecret's proxy on it too), so
// that a lost bus ends nothing and the next use after the bus is back connects anew.

#include <gio/gio.h>

#ifdef __cplusplus
extern "C" {
#endif

// A new reference to the connection, or null with `error` set when the bus cannot be reached.
// The caller holds it for as long as its own libsecret calls run, which then share it.
// Thread-safe.
GDBusConnection* quorvane_session_bus(GCancellable* cancellable, GError** error);

#ifdef __cplusplus
}
#endif
