#include "agent/AgentGUILease.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

#include "config/AgentContract.h"
#include "system/PeerCredentials.h"

namespace quorvane {

AgentGUILease::AgentGUILease(QString path) : path_(std::move(path)) {}

AgentGUILease::~AgentGUILease() {
    close();
}

QString AgentGUILease::socketPath() {
    static const QString path = AgentContract::guiSocketPath();
    return path;
}

void AgentGUILease::update(bool serviceIsRunning) {
    if (!serviceIsRunning) {
        close();
        return;
    }
    if (descriptor_ >= 0 && !isAlive()) {
        close();
    }
    connectIfNeeded();
}

bool AgentGUILease::isAlive() const {
    char scratch = 0;
    const ssize_t result = ::recv(descriptor_, &scratch, 1, MSG_PEEK | MSG_DONTWAIT);
    if (result < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    if (result == 0) {
        return false;
    }
    // Unread data hides the end of the stream from the peek: an agent that wrote and then
    // closed would otherwise keep a dead lease forever. Ask for the hang-up directly.
    pollfd probe{descriptor_, POLLRDHUP, 0};
    const bool hungUp =
        ::poll(&probe, 1, 0) > 0 && (probe.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    return !hungUp;
}

void AgentGUILease::connectIfNeeded() {
    if (descriptor_ >= 0) {
        return;
    }
    const QByteArray encoded = path_.toUtf8();
    sockaddr_un address{};
    // An embedded NUL would silently shorten the path to another socket.
    if (encoded.isEmpty() || encoded.contains('\0') ||
        size_t(encoded.size()) + 1 > sizeof address.sun_path) {
        return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()) + 1);

    // Non-blocking while connecting: a listener whose backlog is full would otherwise hold
    // the main thread until it accepts.
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0) {
        return;
    }
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(encoded.size()));
    const int flags = ::fcntl(socket, F_GETFL);
    // Whoever listens at the path must be this user's agent: a listener of another user would
    // only pretend that the agent runs.
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), length) != 0 || flags < 0 ||
        ::fcntl(socket, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        !PeerCredentials::isThisUser(socket)) {
        ::close(socket);
        return;
    }
    descriptor_ = socket;
}

void AgentGUILease::close() {
    if (descriptor_ >= 0) {
        ::close(std::exchange(descriptor_, -1));
    }
}

}  // namespace quorvane
