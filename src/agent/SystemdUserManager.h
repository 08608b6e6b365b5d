#pragma once

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <functional>
#include <memory>

#include "agent/DBusPropertiesProxy.h"
#include "agent/SystemdManagerProxy.h"

namespace quorvane {

// The user's systemd manager on the session bus, through typed proxies whose calls are bounded
// by callTimeoutMs. Answers are delivered on the event loop, never to a gone owner.
class SystemdUserManager {
public:
    using ErrorHandler = std::function<void(const QDBusError& error)>;

    // bus: the user's session bus; when it is lost, reconnectIfLost() connects anew.
    SystemdUserManager(QDBusConnection bus, int callTimeoutMs);
    ~SystemdUserManager();
    SystemdUserManager(const SystemdUserManager&) = delete;
    SystemdUserManager& operator=(const SystemdUserManager&) = delete;

    SystemdManagerProxy& manager() { return *manager_; }
    // The properties of one of the manager's objects (a unit).
    std::unique_ptr<DBusPropertiesProxy> properties(const QDBusObjectPath& object) const;

    // Runs onReply with the typed answer of the call, or onError, from the event loop.
    template <typename Reply>
    void watch(const QDBusPendingCall& call, std::function<void(const Reply&)> onReply,
               ErrorHandler onError);

    // The error's message, or its name when it has none.
    static QString reasonOf(const QDBusError& error);
    // The manager knows no unit (file) of that name.
    static bool isUnknownUnit(const QDBusError& error);

    // Drops every answer still due: their handlers never run.
    void dropPendingAnswers();
    // Connects to the session bus anew once the connection in use is lost.
    void reconnectIfLost();

private:
    QDBusPendingCall whileConnected(const QDBusPendingCall& call) const;

    QDBusConnection bus_;
    // True once bus_ is a connection opened here after the first one was lost.
    bool ownsBus_ = false;
    int reconnections_ = 0;
    int callTimeoutMs_;
    std::unique_ptr<SystemdManagerProxy> manager_;
    // Parent and context of the watchers of pending calls.
    QObject pendingCalls_;
};

template <typename Reply>
void SystemdUserManager::watch(const QDBusPendingCall& call,
                               std::function<void(const Reply&)> onReply, ErrorHandler onError) {
    auto* watcher = new QDBusPendingCallWatcher(whileConnected(call), &pendingCalls_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &pendingCalls_,
                     [onReply = std::move(onReply),
                      onError = std::move(onError)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         // Checks the answer's signature: a mismatch is an InvalidSignature error.
                         const Reply reply = *finished;
                         if (reply.isError()) {
                             onError(reply.error());
                         } else {
                             onReply(reply);
                         }
                     });
}

}  // namespace quorvane
