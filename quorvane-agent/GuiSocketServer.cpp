#include "GuiSocketServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "system/PeerCredentials.h"
#include "system/PosixError.h"

namespace quorvane {

namespace {

sockaddr_un addressOf(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path)) {
        throw PosixError::fromCode(ENAMETOOLONG);
    }
    std::memcpy(address.sun_path, path.constData(), path.size());
    return address;
}

}  // namespace

GuiSocketServer::GuiSocketServer(QString path) : path_(std::move(path)) {}

GuiSocketServer::~GuiSocketServer() {
    close();
}

void GuiSocketServer::listen() {
    const QByteArray path = QFile::encodeName(path_);
    const sockaddr_un address = addressOf(path);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        PosixError::throwErrno();
    }
    removeStaleSocketFile();
    struct stat status {};
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::stat(path.constData(), &status) != 0) {
        const int error = errno;
        close();
        throw PosixError::fromCode(error);
    }
    device_ = status.st_dev;
    inode_ = status.st_ino;
    if (::listen(listener_, SOMAXCONN) != 0) {
        const int error = errno;
        close();
        throw PosixError::fromCode(error);
    }
    listenerNotifier_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    connect(listenerNotifier_.get(), &QSocketNotifier::activated, this,
            &GuiSocketServer::acceptPending);
}

void GuiSocketServer::close() noexcept {
    for (auto& [descriptor, notifier] : connections_) {
        notifier->setEnabled(false);
        ::close(descriptor);
    }
    connections_.clear();
    if (listener_ >= 0) {
        listenerNotifier_.reset();
        ::close(listener_);
        listener_ = -1;
        removeOwnSocketFile();
    }
}

void GuiSocketServer::acceptPending() {
    for (;;) {
        const int descriptor = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            pauseAfterFailedAccept(errno);
            return;
        }
        // Only this user's panels hold the agent: another user's connection is not a panel.
        if (!PeerCredentials::isThisUser(descriptor)) {
            ::close(descriptor);
            continue;
        }
        auto notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
        connect(notifier.get(), &QSocketNotifier::activated, this,
                [this, descriptor] { readFrom(descriptor); });
        connections_.emplace(descriptor, std::move(notifier));
        Q_EMIT panelConnected();
    }
}

// EAGAIN means nobody else is waiting. With the descriptor table or memory exhausted the panel
// stays queued and the listener stays readable, so the level-triggered notifier would spin;
// it rests for a moment instead and the queued panel is accepted once the agent can.
void GuiSocketServer::pauseAfterFailedAccept(int error) {
    if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM) {
        return;
    }
    listenerNotifier_->setEnabled(false);
    QTimer::singleShot(acceptRetryDelayMs, this, [this] {
        if (listenerNotifier_) {
            listenerNotifier_->setEnabled(true);
        }
    });
}

// Panels send nothing; whatever arrives is dropped. End of stream or an error ends the
// connection, so a closed panel does not leave a descriptor behind.
void GuiSocketServer::readFrom(int descriptor) {
    char scratch[256];
    const ssize_t count = ::recv(descriptor, scratch, sizeof scratch, MSG_DONTWAIT);
    if (count > 0 || (count < 0 && (errno == EAGAIN || errno == EINTR))) {
        return;
    }
    const auto connection = connections_.find(descriptor);
    connection->second->setEnabled(false);
    // The notifier is the sender of the signal being handled: delete it afterwards.
    connection->second.release()->deleteLater();
    connections_.erase(connection);
    ::close(descriptor);
    Q_EMIT panelDisconnected();
}

// A socket file left by an agent that did not stop cleanly; anything else is not touched and
// makes the bind fail.
void GuiSocketServer::removeStaleSocketFile() const {
    struct stat status {};
    const QByteArray path = QFile::encodeName(path_);
    if (::lstat(path.constData(), &status) == 0 && S_ISSOCK(status.st_mode)) {
        ::unlink(path.constData());
    }
}

// Only the file this server bound: a newer agent's socket at the same path stays.
void GuiSocketServer::removeOwnSocketFile() const {
    struct stat status {};
    const QByteArray path = QFile::encodeName(path_);
    if (::lstat(path.constData(), &status) == 0 && status.st_dev == device_ &&
        status.st_ino == inode_) {
        ::unlink(path.constData());
    }
}

}  // namespace quorvane
