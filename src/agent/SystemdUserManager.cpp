#include "agent/SystemdUserManager.h"

namespace quorvane {

using namespace Qt::StringLiterals;

namespace {

const QString managerService = u"org.freedesktop.systemd1"_s;
const QString managerPath = u"/org/freedesktop/systemd1"_s;

bool startsSessionBus(const QDBusConnection& bus) {
    return bus.name() == QDBusConnection::sessionBus().name();
}

}  // namespace

SystemdUserManager::SystemdUserManager(QDBusConnection bus, int callTimeoutMs)
    : bus_(std::move(bus)),
      callTimeoutMs_(callTimeoutMs),
      manager_(std::make_unique<SystemdManagerProxy>(managerService, managerPath, bus_)) {
    manager_->setTimeout(callTimeoutMs_);
}

SystemdUserManager::~SystemdUserManager() {
    manager_.reset();
    if (ownsBus_) {
        QDBusConnection::disconnectFromBus(bus_.name());
    }
}

std::unique_ptr<DBusPropertiesProxy> SystemdUserManager::properties(
    const QDBusObjectPath& object) const {
    auto proxy = std::make_unique<DBusPropertiesProxy>(managerService, object.path(), bus_);
    proxy->setTimeout(callTimeoutMs_);
    return proxy;
}

// Without a connection the bus's own reason is reported, like any answer, from the event loop.
QDBusPendingCall SystemdUserManager::whileConnected(const QDBusPendingCall& call) const {
    if (bus_.isConnected()) {
        return call;
    }
    const QString reason = bus_.lastError().isValid() ? bus_.lastError().message()
                                                      : u"Not connected to D-Bus server"_s;
    return QDBusPendingCall::fromError(QDBusError(QDBusError::Disconnected, reason));
}

QString SystemdUserManager::reasonOf(const QDBusError& error) {
    return error.message().isEmpty() ? error.name() : error.message();
}

bool SystemdUserManager::isUnknownUnit(const QDBusError& error) {
    return error.name() == "org.freedesktop.DBus.Error.FileNotFound"_L1 ||
           error.name() == "org.freedesktop.systemd1.NoSuchUnit"_L1 ||
           error.message() == "No such file or directory"_L1;
}

void SystemdUserManager::dropPendingAnswers() {
    qDeleteAll(pendingCalls_.children());
}

void SystemdUserManager::reconnectIfLost() {
    if (bus_.isConnected() || !(ownsBus_ || startsSessionBus(bus_))) {
        return;
    }
    // A lost connection never comes back under its name; a new name gets a new connection.
    const QString name = u"quorvane-session-"_s + QString::number(++reconnections_);
    QDBusConnection fresh = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    if (!fresh.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return;
    }
    manager_ = std::make_unique<SystemdManagerProxy>(managerService, managerPath, fresh);
    manager_->setTimeout(callTimeoutMs_);
    if (ownsBus_) {
        QDBusConnection::disconnectFromBus(bus_.name());
    }
    bus_ = fresh;
    ownsBus_ = true;
}

}  // namespace quorvane
