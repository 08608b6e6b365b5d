#include "keychain/SecretServiceOperation.h"

#include <condition_variable>
#include <mutex>
#include <string>

#include "config/AgentTokenStorageError.h"
#include "keychain/KeychainLogging.h"
#include "keychain/SecretServiceReachability.h"
#include "keychain/SessionBus.h"

namespace quorvane {

namespace {

struct ErrorRelease {
    void operator()(GError* error) const { g_error_free(error); }
};

void cancelAfter(std::stop_token stop, std::chrono::milliseconds limit, GCancellable* cancellable) {
    std::mutex mutex;
    std::condition_variable_any finished;
    std::unique_lock lock(mutex);
    finished.wait_for(lock, stop, limit, [] { return false; });
    if (!stop.stop_requested()) {
        g_cancellable_cancel(cancellable);
    }
}

// Takes over the references a libsecret list holds and frees the list itself.
template <typename T>
std::vector<GObjectPointer<T>> takeObjects(GList* list) {
    std::vector<GObjectPointer<T>> objects;
    for (GList* link = list; link; link = link->next) {
        objects.emplace_back(static_cast<T*>(link->data));
    }
    g_list_free(list);
    return objects;
}

}  // namespace

SecretServiceOperation::SecretServiceOperation(std::chrono::milliseconds limit)
    : cancellable_(g_cancellable_new()), watchdog_(cancelAfter, limit, cancellable_.get()) {}

SecretService* SecretServiceOperation::service() {
    if (!service_) {
        GError* error = nullptr;
        bus_.reset(quorvane_session_bus(cancellable_.get(), &error));
        if (bus_) {
            service_.reset(secret_service_open_sync(
                SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, cancellable_.get(), &error));
        }
        if (!service_) {
            // Whatever stops the connection (no session bus, no address, refused) means the
            // service cannot be reached.
            std::unique_ptr<GError, ErrorRelease> owned(error);
            qCWarning(lcKeychain, "cannot reach the Secret Service: %s",
                      owned ? owned->message : "no reason given");
            throw AgentTokenStorageError(AgentTokenStorageError::serviceUnavailable);
        }
    }
    return service_.get();
}

std::vector<GObjectPointer<SecretItem>> SecretServiceOperation::search(const SecretSchema& schema,
                                                                       GHashTable* attributes,
                                                                       bool unlock,
                                                                       bool loadSecrets) {
    int flags = SECRET_SEARCH_ALL;
    if (unlock) {
        flags |= SECRET_SEARCH_UNLOCK;
    }
    if (loadSecrets) {
        flags |= SECRET_SEARCH_LOAD_SECRETS;
    }
    GError* error = nullptr;
    GList* found = secret_service_search_sync(service(), &schema, attributes,
                                              static_cast<SecretSearchFlags>(flags),
                                              cancellable_.get(), &error);
    if (error) {
        fail(error);
    }
    return takeObjects<SecretItem>(found);
}

std::vector<GObjectPointer<SecretCollection>> SecretServiceOperation::collections() {
    GError* error = nullptr;
    if (!secret_service_load_collections_sync(service(), cancellable_.get(), &error)) {
        fail(error);
    }
    return takeObjects<SecretCollection>(secret_service_get_collections(service()));
}

bool SecretServiceOperation::isLocked(gpointer itemOrCollection) {
    GDBusProxy* proxy = G_DBUS_PROXY(itemOrCollection);
    GVariant* reply =
        callBus(g_dbus_proxy_get_name(proxy), g_dbus_proxy_get_object_path(proxy),
                "org.freedesktop.DBus.Properties", "Get",
                g_variant_new("(ss)", g_dbus_proxy_get_interface_name(proxy), "Locked"));
    if (!reply) {
        throw AgentTokenStorageError(g_cancellable_is_cancelled(cancellable_.get())
                                         ? AgentTokenStorageError::serviceUnavailable
                                         : AgentTokenStorageError::otherFailure);
    }
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    const bool locked =
        g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    g_variant_unref(value);
    g_variant_unref(reply);
    return locked;
}

void SecretServiceOperation::loadSecret(SecretItem* item) {
    GError* error = nullptr;
    if (!secret_item_load_secret_sync(item, cancellable_.get(), &error)) {
        fail(error);
    }
}

void SecretServiceOperation::unlock(const std::vector<GDBusProxy*>& objects) {
    GList* list = nullptr;
    for (GDBusProxy* object : objects) {
        list = g_list_prepend(list, object);
    }
    GError* error = nullptr;
    secret_service_unlock_sync(service(), list, cancellable_.get(), nullptr, &error);
    g_list_free(list);
    if (error) {
        fail(error);
    }
}

GVariant* SecretServiceOperation::callBus(const char* destination, const char* path,
                                          const char* interface, const char* method,
                                          GVariant* parameters) {
    GDBusConnection* bus = g_dbus_proxy_get_connection(G_DBUS_PROXY(service()));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, destination, path, interface, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, cancellable_.get(), &error);
    if (error) {
        g_error_free(error);
    }
    return reply;
}

GObjectPointer<SecretCollection> SecretServiceOperation::defaultCollection() {
    GError* error = nullptr;
    GObjectPointer<SecretCollection> collection(secret_collection_for_alias_sync(
        service(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable_.get(), &error));
    if (error) {
        fail(error);
    }
    return collection;
}

void SecretServiceOperation::replaceSecret(const char* itemPath, SecretValue* value) {
    GError* error = nullptr;
    GObjectPointer<SecretItem> item(secret_item_new_for_dbus_path_sync(
        service(), itemPath, SECRET_ITEM_NONE, cancellable_.get(), &error));
    if (!item || !secret_item_set_secret_sync(item.get(), value, cancellable_.get(), &error)) {
        fail(error);
    }
}

void SecretServiceOperation::createItem(SecretCollection* collection, const SecretSchema& schema,
                                        GHashTable* attributes, const char* label,
                                        SecretValue* value) {
    GError* error = nullptr;
    GObjectPointer<SecretItem> item(secret_item_create_sync(collection, &schema, attributes, label,
                                                            value, SECRET_ITEM_CREATE_REPLACE,
                                                            cancellable_.get(), &error));
    if (!item) {
        fail(error);
    }
}

void SecretServiceOperation::fail(GError* error) const {
    std::unique_ptr<GError, ErrorRelease> owned(error);
    qCWarning(lcKeychain, "Secret Service call failed: %s",
              owned ? owned->message : "no reason given");
    throw AgentTokenStorageError(owned ? statusFor(*owned) : AgentTokenStorageError::otherFailure);
}

std::int32_t SecretServiceOperation::statusFor(const GError& error) const {
    // A call the watchdog cancelled waited on a service that did not answer in time.
    if (g_cancellable_is_cancelled(cancellable_.get()) ||
        quorvane_means_service_unreachable(&error)) {
        return AgentTokenStorageError::serviceUnavailable;
    }
    if (error.domain == SECRET_ERROR && error.code == SECRET_ERROR_IS_LOCKED) {
        return AgentTokenStorageError::interactionNotAllowed;
    }
    return AgentTokenStorageError::otherFailure;
}

}  // namespace quorvane
