#pragma once

#include <QString>

namespace quorvane {

// The panel's connection to the agent's GUI socket: to the agent, an open connection means
// a panel is running. The panel never sends or reads a byte; it only notices a close.
class AgentGUILease {
public:
    explicit AgentGUILease(QString path = socketPath());
    ~AgentGUILease();
    AgentGUILease(const AgentGUILease&) = delete;
    AgentGUILease& operator=(const AgentGUILease&) = delete;

    // $XDG_RUNTIME_DIR/quorvane/agent-gui.sock
    static QString socketPath();

    bool isConnected() const { return descriptor_ >= 0; }
    const QString& path() const { return path_; }

    // false releases the lease; true probes an open connection and (re)connects if needed.
    void update(bool serviceIsRunning);

private:
    // Probes the open connection without blocking or consuming data.
    bool isAlive() const;
    void connectIfNeeded();
    void close();

    int descriptor_ = -1;
    QString path_;
};

}  // namespace quorvane
