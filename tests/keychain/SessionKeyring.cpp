#include "SessionKeyring.h"

#include <gio/gio.h>

#include <QFile>
#include <cstring>
#include <stdexcept>

namespace quorvane::testing {

namespace {

const QStringList tokenAttributes{QStringLiteral("service"), QStringLiteral("ru.quorvane.agent"),
                                  QStringLiteral("account"), QStringLiteral("device-token")};
constexpr const char* secretsName = "org.freedesktop.secrets";
constexpr const char* servicePath = "/org/freedesktop/secrets";
constexpr const char* serviceInterface = "org.freedesktop.Secret.Service";
constexpr const char* loginCollection = "/org/freedesktop/secrets/collection/login";
// The password scripts/private-session.sh unlocks the login collection with.
constexpr const char* sessionPassword = "quorvane-session";

void require(bool condition, const char* what) {
    if (!condition) {
        throw std::runtime_error(what);
    }
}

QByteArray runSecretTool(const QStringList& arguments, const QByteArray& input = {},
                         int* exitCode = nullptr) {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), arguments);
    require(tool.waitForStarted(), "secret-tool did not start");
    tool.write(input);
    tool.closeWriteChannel();
    require(tool.waitForFinished(10000), "secret-tool did not finish");
    if (exitCode) {
        *exitCode = tool.exitCode();
    } else {
        require(tool.exitCode() == 0, "secret-tool failed");
    }
    return tool.readAllStandardOutput();
}

// Kept for the whole test: a Secret Service session lives only as long as its connection.
GDBusConnection* sessionBus() {
    static GDBusConnection* const bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    require(bus != nullptr, "no session bus");
    return bus;
}

GVariant* callSecrets(const char* path, const char* interface, const char* method,
                      GVariant* parameters) {
    GError* error = nullptr;
    GVariant* reply =
        g_dbus_connection_call_sync(sessionBus(), secretsName, path, interface, method, parameters,
                                    nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    if (!reply) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error(message);
    }
    return reply;
}

}  // namespace

std::optional<QByteArray> SessionKeyring::lookupToken() {
    int exitCode = 0;
    QByteArray secret =
        runSecretTool(QStringList{QStringLiteral("lookup")} + tokenAttributes, {}, &exitCode);
    if (exitCode != 0) {
        return std::nullopt;
    }
    return secret;
}

void SessionKeyring::storeToken(const QByteArray& secret) {
    runSecretTool(
        QStringList{QStringLiteral("store"), QStringLiteral("--label=test")} + tokenAttributes,
        secret);
}

void SessionKeyring::clearToken() {
    int exitCode = 0;  // clearing nothing is not a failure here
    runSecretTool(QStringList{QStringLiteral("clear")} + tokenAttributes, {}, &exitCode);
}

void SessionKeyring::lockDefaultCollection() {
    const gchar* collections[] = {loginCollection};
    g_variant_unref(callSecrets(servicePath, serviceInterface, "Lock",
                                g_variant_new("(@ao)", g_variant_new_objv(collections, 1))));
}

// Unlocking through the Secret Service API would prompt; gnome-keyring takes the password
// directly on its own interface, over a plain (unencrypted) session of this connection.
void SessionKeyring::unlockDefaultCollection() {
    GVariant* opened = callSecrets(servicePath, serviceInterface, "OpenSession",
                                   g_variant_new("(sv)", "plain", g_variant_new_string("")));
    const gchar* session = nullptr;
    g_variant_get(opened, "(v&o)", nullptr, &session);
    GVariant* master = g_variant_new(
        "(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, sessionPassword, strlen(sessionPassword), 1),
        "text/plain");
    g_variant_unref(callSecrets(
        servicePath, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
        "UnlockWithMasterPassword", g_variant_new("(o@(oayays))", loginCollection, master)));
    g_variant_unref(opened);
}

bool SessionKeyring::isDefaultCollectionLocked() {
    GVariant* reply =
        callSecrets(loginCollection, "org.freedesktop.DBus.Properties", "Get",
                    g_variant_new("(ss)", "org.freedesktop.Secret.Collection", "Locked"));
    GVariant* locked = nullptr;
    g_variant_get(reply, "(v)", &locked);
    const bool result = g_variant_get_boolean(locked);
    g_variant_unref(locked);
    g_variant_unref(reply);
    return result;
}

EmptyBus::EmptyBus() {
    const QString configuration = directory_.filePath(QStringLiteral("bus.conf"));
    QFile file(configuration);
    require(file.open(QIODevice::WriteOnly), "cannot write the bus configuration");
    file.write(QStringLiteral(R"(<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                   .arg(directory_.path())
                   .toUtf8());
    file.close();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                   QStringLiteral("--config-file=") + configuration});
    require(daemon_.waitForReadyRead(10000), "dbus-daemon did not start");
    address_ = QString::fromUtf8(daemon_.readLine().trimmed());
}

EmptyBus::~EmptyBus() {
    daemon_.kill();
    daemon_.waitForFinished();
}

}  // namespace quorvane::testing
