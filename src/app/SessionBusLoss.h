#pragma once

namespace quorvane {

// GLib's shared session-bus connection, which libsecret uses, raises SIGTERM in the process
// when the bus goes away. The panel outlives a lost bus instead and shows that it has no
// connection. Call before anything uses GLib's session connection; the connection is kept
// for the life of the process, so the setting cannot be lost with it.
void surviveSessionBusLoss();

}  // namespace quorvane
