#pragma once

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

    // The process's shared connection to the service; opens it on first use.
    SecretService* service();

    // Items with the given attributes in every collection, locked ones included. With `unlock`
    // the service asks the user to unlock locked ones (a prompt); with `loadSecrets` the secrets
    // of the unlocked ones are fetched.
    std::vector<GObjectPointer<SecretItem>> search(const SecretSchema& schema,
                                                   GHashTable* attributes, bool unlock,
                                                   bool loadSecrets);

    // The collection the "default" alias points to, or null when the alias is unset.
    GObjectPointer<SecretCollection> defaultCollection();

    void replaceSecret(SecretItem* item, SecretValue* value);
    void createItem(SecretCollection* collection, const SecretSchema& schema,
                    GHashTable* attributes, const char* label, SecretValue* value);

private:
    [[noreturn]] void fail(GError* error) const;
    std::int32_t statusFor(const GError& error) const;

    GObjectPointer<GCancellable> cancellable_;
    GObjectPointer<SecretService> service_;
    std::jthread watchdog_;  // last: stops before the cancellable goes away
};

}  // namespace quorvane
