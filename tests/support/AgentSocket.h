#pragma once

#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QList>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorvane::testing {

// The agent's end of the GUI socket, listening at `path` as the agent does (a path that fills
// sun_path without its NUL included); counts the panel's open connections.
class AgentSocket {
public:
    explicit AgentSocket(const QString& path)
        : path_(QFile::encodeName(path)), listener_(listenAt(path)) {}
    ~AgentSocket() {
        std::for_each(accepted_.begin(), accepted_.end(), ::close);
        if (listener_ >= 0) {
            ::close(listener_);
            ::unlink(path_.constData());
        }
    }
    AgentSocket(const AgentSocket&) = delete;
    AgentSocket& operator=(const AgentSocket&) = delete;

    // A non-blocking listening socket at `path`, or -1. The kernel gives clients the credentials
    // of whoever called listen: with `asNobody` (root only), another user's.
    static int listenAt(const QString& path, int backlog = 16, bool asNobody = false) {
        QFile::remove(path);
        const QByteArray encoded = QFile::encodeName(path);
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        std::memcpy(address.sun_path, encoded.constData(),
                    std::min(sizeof address.sun_path, size_t(encoded.size())));
        const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(encoded.size()));
        const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const passwd* nobody = asNobody ? ::getpwnam("nobody") : nullptr;
        if (socket < 0 || ::bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            (asNobody && (nobody == nullptr || ::seteuid(nobody->pw_uid) != 0))) {
            ::close(socket);
            return -1;
        }
        const bool listens = ::listen(socket, backlog) == 0;
        if ((asNobody && ::seteuid(0) != 0) || !listens) {
            ::close(socket);
            return -1;
        }
        return socket;
    }
    // Accepts what waits; a closed connection reads as its end, an open one would block.
    int openConnections() {
        for (int descriptor; (descriptor = ::accept4(listener_, nullptr, nullptr, 0)) >= 0;) {
            accepted_ << descriptor;
        }
        char byte = 0;
        return int(std::count_if(accepted_.begin(), accepted_.end(), [&](int descriptor) {
            return ::recv(descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno == EAGAIN;
        }));
    }

private:
    QByteArray path_;
    int listener_;
    QList<int> accepted_;
};

}  // namespace quorvane::testing
