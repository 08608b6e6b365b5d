#pragma once

#include <sys/types.h>

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <map>
#include <memory>

namespace quorvane {

// The GUI socket: panels connect and keep the connection open while they run. Panels never
// send anything; the server only accepts connections and notices when a panel closes one.
class GuiSocketServer : public QObject {
    Q_OBJECT

public:
    explicit GuiSocketServer(QString path);
    ~GuiSocketServer() override;

    // Binds and listens, replacing a stale socket file; throws std::system_error.
    void listen();
    // Closes every connection and the listener and removes the socket file it created.
    void close() noexcept;

    std::size_t connectionCount() const { return connections_.size(); }

Q_SIGNALS:
    void panelConnected();
    void panelDisconnected();

private:
    static constexpr int acceptRetryDelayMs = 500;

    void acceptPending();
    void pauseAfterFailedAccept(int error);
    void readFrom(int descriptor);
    void removeStaleSocketFile() const;
    void removeOwnSocketFile() const;

    QString path_;
    int listener_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::unique_ptr<QSocketNotifier> listenerNotifier_;
    std::map<int, std::unique_ptr<QSocketNotifier>> connections_;
};

}  // namespace quorvane
