#pragma once

namespace quorvane::PeerCredentials {

// Whether the other end of a connected local socket runs as this process's user. Panel and agent
// trust only each other: a peer of another user counts as no peer at all.
bool isThisUser(int socket);

}  // namespace quorvane::PeerCredentials
