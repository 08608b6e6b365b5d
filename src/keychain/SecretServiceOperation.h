#pragma once

// Items by object path; libsecret keeps that apart from its stable API although it has not changed
// since 0.18.
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace quorvane {

struct GObjectRelease {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPointer = std::unique_ptr<T, GObjectRelease>;

// One operation of the token store against the Secret Service. Every D-Bus wait in it shares one
// deadline, after which a watchdog cancels it, so a hung or slowly starting service cannot hold
// the caller. Failures throw AgentTokenStorageError with the status the store reports.
class SecretServiceOperation {
public:
    explicit SecretServiceOperation(std::chrono::milliseconds limit);

    SecretServiceOperation(const SecretServiceOperation&) = delete;
    SecretServiceOperation& operator=(const SecretServiceOperation&) = delete;

    // A proxy of this operation's own, opened on first use, with nothing loaded that a caller does
    // not ask for. Not the process's shared one: a retry then negotiates a fresh session (key
    // exchange).
    SecretService* service();

    // Every collection of the service, loaded now, with its properties as of loading.
    std::vector<GObjectPointer<SecretCollection>> collections();

    // Items with the given attributes in every collection, locked ones included. With `unlock`
    // the service asks the user to unlock locked ones (a prompt); with `loadSecrets` the secrets
    // of the unlocked ones are fetched.
    std::vector<GObjectPointer<SecretItem>> search(const SecretSchema& schema,
                                                   GHashTable* attributes, bool unlock,
                                                   bool loadSecrets);

    // The collection the "default" alias points to, or null when the alias is unset.
    GObjectPointer<SecretCollection> defaultCollection();

    // The object's Locked property as the service reports it now: the proxies' cached values
    // do not follow an unlock made by this operation.
    bool isLocked(gpointer itemOrCollection);
    void loadSecret(SecretItem* item);

    // Asks the service to unlock the given items or collections. Only a prompting operation or
    // one proven to show nothing calls this: the service may show its prompt. A dismissed
    // prompt is no error; the objects then stay locked.
    void unlock(const std::vector<GDBusProxy*>& objects);

    void replaceSecret(const char* itemPath, SecretValue* value);
    void createItem(SecretCollection* collection, const SecretSchema& schema,
                    GHashTable* attributes, const char* label, SecretValue* value);

private:
    [[noreturn]] void fail(GError* error) const;
    GVariant* callBus(const char* destination, const char* path, const char* interface,
                      const char* method, GVariant* parameters);
    std::int32_t statusFor(const GError& error) const;

    GObjectPointer<GCancellable> cancellable_;
    GObjectPointer<GDBusConnection> bus_;  // held, so that libsecret's calls share it
    GObjectPointer<SecretService> service_;
    std::jthread watchdog_;  // last: stops before the cancellable goes away
};

}  // namespace quorvane
