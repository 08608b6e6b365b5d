#pragma once

namespace quorvane {

// GLib's shared session-bus connection, which libsecret uses, raises SIGTERM in the process
// when the bus goes away. The panel outlives a lost bus instead: the connection's exit is
// turned off, and once it is lost, libsecret is let go of it and a new connection is taken
// (and guarded the same way) when the bus is back. Call on the main thread, with the
// application's event loop about to run, before anything uses GLib's session connection.
void surviveSessionBusLoss();

}  // namespace quorvane
