#pragma once

#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>
#include <optional>

namespace quorvane::testing {

// The private session's gnome-keyring, driven the way other desktop tools do it: secret-tool for
// the device token's item, the Secret Service's D-Bus methods for the login collection.
class SessionKeyring {
public:
    static std::optional<QByteArray> lookupToken();
    static void storeToken(const QByteArray& secret);
    static void clearToken();

    static void lockDefaultCollection();
    static void unlockDefaultCollection();
    static bool isDefaultCollectionLocked();
};

// A session bus of its own with no service on it and none to activate.
class EmptyBus {
public:
    EmptyBus();
    ~EmptyBus();

    EmptyBus(const EmptyBus&) = delete;
    EmptyBus& operator=(const EmptyBus&) = delete;

    QString address() const { return address_; }

private:
    QTemporaryDir directory_;
    QProcess daemon_;
    QString address_;
};

}  // namespace quorvane::testing
