#include "keychain/KeychainAgentTokenStore.h"

#include <QLoggingCategory>
#include <QScopeGuard>
#include <QStringDecoder>
#include <algorithm>
#include <atomic>
#include <string_view>

#include "config/AgentContract.h"
#include "config/AgentTokenStorageError.h"
#include "keychain/KeychainLogging.h"
#include "keychain/SecretServiceOperation.h"
#include "keychain/SilentTokenRead.h"

namespace quorvane {

namespace {

using namespace std::chrono_literals;

// The silent read is C; it names the same item and reports the same codes.
static_assert(std::string_view(QUORVANE_TOKEN_SERVICE) ==
              std::string_view(AgentContract::tokenService.data(),
                               std::size_t(AgentContract::tokenService.size())));
static_assert(std::string_view(QUORVANE_TOKEN_ACCOUNT) ==
              std::string_view(AgentContract::tokenAccount.data(),
                               std::size_t(AgentContract::tokenAccount.size())));
static_assert(QUORVANE_TOKEN_DECODE_FAILED == AgentTokenStorageError::decodeFailed);
static_assert(QUORVANE_TOKEN_INTERACTION_NOT_ALLOWED ==
              AgentTokenStorageError::interactionNotAllowed);
static_assert(QUORVANE_TOKEN_SERVICE_UNAVAILABLE == AgentTokenStorageError::serviceUnavailable);
static_assert(QUORVANE_TOKEN_OTHER_FAILURE == AgentTokenStorageError::otherFailure);

// Off until a caller allows it: code that never touches the switch (or a copy of this library
// loaded into another module of the process) cannot prompt by accident.
std::atomic<bool> userInteractionAllowed{false};

// A service that does not answer within this time counts as unavailable. The limit for a read
// that may prompt leaves the user time to answer the desktop's unlock dialog.
constexpr std::chrono::milliseconds nonInteractiveLimit = 3s;
constexpr std::chrono::milliseconds promptingLimit = 5min;

// The stored bytes exactly: a leading byte-order mark stays part of the token.
QString textOf(const char* bytes, std::size_t length) {
    if (!quorvane_token_is_text(bytes, length)) {
        throw AgentTokenStorageError(AgentTokenStorageError::decodeFailed);
    }
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                       QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(bytes, qsizetype(length)));
}

// Not matched by name, so items written by other tools (secret-tool) under the same
// attributes are the same token.
SecretSchema makeTokenSchema() {
    SecretSchema schema{};
    schema.name = AgentContract::tokenService.data();
    schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
    schema.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
    schema.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return schema;
}

const SecretSchema tokenSchema = makeTokenSchema();

struct HashTableRelease {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct SecretValueRelease {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableRelease>;
using SecretValuePointer = std::unique_ptr<SecretValue, SecretValueRelease>;
using Items = std::vector<GObjectPointer<SecretItem>>;

// The contract's names are literals, so their data is NUL-terminated.
Attributes tokenAttributes() {
    Attributes attributes(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(attributes.get(), const_cast<char*>("service"),
                        const_cast<char*>(AgentContract::tokenService.data()));
    g_hash_table_insert(attributes.get(), const_cast<char*>("account"),
                        const_cast<char*>(AgentContract::tokenAccount.data()));
    return attributes;
}

using Collections = std::vector<GObjectPointer<SecretCollection>>;

const char* pathOf(gpointer proxy) {
    return g_dbus_proxy_get_object_path(G_DBUS_PROXY(proxy));
}

// The token store's view of the service during one operation: lock states are asked afresh.
class TokenSearch {
public:
    explicit TokenSearch(SecretServiceOperation& operation)
        : operation_(operation), collections_(operation.collections()) {}

    // Every matching item, locked ones included, so that an unlock can aim at the item's own
    // collection. Only where prompting is allowed: KeePassXC may prompt inside this search.
    Items findEverywhere() {
        return operation_.search(tokenSchema, attributes_.get(), false, false);
    }

    bool isLocked(gpointer object) { return operation_.isLocked(object); }

    std::vector<GDBusProxy*> lockedCollections() {
        std::vector<GDBusProxy*> locked;
        for (const GObjectPointer<SecretCollection>& collection : collections_) {
            if (isLocked(collection.get())) {
                locked.push_back(G_DBUS_PROXY(collection.get()));
            }
        }
        return locked;
    }

    // Items live below their collection's object path.
    SecretCollection* collectionOf(SecretItem* item) const {
        const std::string_view itemPath = pathOf(item);
        for (const GObjectPointer<SecretCollection>& collection : collections_) {
            const std::string_view path = pathOf(collection.get());
            if (itemPath.size() > path.size() && itemPath.substr(0, path.size()) == path &&
                itemPath[path.size()] == '/') {
                return collection.get();
            }
        }
        return nullptr;
    }

    // A locked item in an open collection is withheld per client, not locked with its collection.
    AgentTokenStorageError lockedItemError(SecretItem* item, std::int32_t status) {
        SecretCollection* collection = collectionOf(item);
        if (collection && !isLocked(collection)) {
            return AgentTokenStorageError(
                status, AgentTokenStorageError::Cause::clientConfirmationRequired);
        }
        return AgentTokenStorageError(status);
    }

    // What unlocking must cover: the collections of locked items (or the items themselves when
    // their collection is open), or, when nothing was found, the default collection (else every
    // locked one), since a locked collection may hide its items from a search.
    std::vector<GDBusProxy*> unlockTargets(const Items& items) {
        std::vector<GDBusProxy*> targets;
        for (const GObjectPointer<SecretItem>& item : items) {
            if (!isLocked(item.get())) {
                continue;
            }
            SecretCollection* collection = collectionOf(item.get());
            targets.push_back(collection && isLocked(collection) ? G_DBUS_PROXY(collection)
                                                                 : G_DBUS_PROXY(item.get()));
        }
        if (!items.empty()) {
            return targets;
        }
        targets = lockedCollections();
        const GObjectPointer<SecretCollection> preferred = operation_.defaultCollection();
        if (preferred) {
            const auto same = std::find_if(targets.begin(), targets.end(), [&](GDBusProxy* target) {
                return std::string_view(pathOf(target)) == pathOf(preferred.get());
            });
            if (same != targets.end()) {
                return {*same};
            }
        }
        return targets;
    }

    // The outcome of a final search: `lockedStatus` is what a remaining lock means.
    std::optional<QString> token(const Items& items, std::int32_t lockedStatus) {
        for (const GObjectPointer<SecretItem>& item : items) {
            if (!isLocked(item.get())) {
                operation_.loadSecret(item.get());
                return decodeToken(item.get());
            }
        }
        if (!items.empty()) {
            throw lockedItemError(items.front().get(), lockedStatus);
        }
        // A locked collection may hold the token without showing it (KeePassXC), so nothing
        // found there is not "no token".
        if (!lockedCollections().empty()) {
            throw AgentTokenStorageError(lockedStatus);
        }
        return std::nullopt;
    }

private:
    // An item that comes back without its secret is a failed transfer, not an undecodable value.
    static QString decodeToken(SecretItem* item) {
        SecretValuePointer value(secret_item_get_secret(item));
        if (!value) {
            throw AgentTokenStorageError(AgentTokenStorageError::otherFailure);
        }
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.get(), &length);
        return textOf(bytes, length);
    }

    SecretServiceOperation& operation_;
    Collections collections_;
    const Attributes attributes_ = tokenAttributes();
};

void createInDefaultCollection(SecretServiceOperation& operation, SecretValue* value) {
    GObjectPointer<SecretCollection> collection = operation.defaultCollection();
    // Making a collection needs a new password from the user.
    if (!collection) {
        throw AgentTokenStorageError(AgentTokenStorageError::noCollection);
    }
    if (operation.isLocked(collection.get())) {
        throw AgentTokenStorageError(AgentTokenStorageError::interactionNotAllowed);
    }
    const Attributes attributes = tokenAttributes();
    operation.createItem(collection.get(), tokenSchema, attributes.get(),
                         AgentContract::tokenService.data(), value);
}

// The outcome of the shared silent search, logged and thrown when it failed.
void throwOnFailure(const QuorvaneTokenRead& outcome) {
    if (outcome.failure) {
        qCWarning(lcKeychain, "Secret Service call failed: %s", outcome.failure);
    }
    if (outcome.status != 0) {
        throw AgentTokenStorageError(outcome.status,
                                     outcome.needs_client_confirmation
                                         ? AgentTokenStorageError::Cause::clientConfirmationRequired
                                         : AgentTokenStorageError::Cause::statusOnly);
    }
}

std::optional<QString> readSilently() {
    QuorvaneTokenRead read = quorvane_read_token_silently();
    const auto release = qScopeGuard([&read] { quorvane_token_read_release(&read); });
    throwOnFailure(read);
    if (!read.found) {
        return std::nullopt;
    }
    return textOf(read.token, read.length);
}

std::optional<QString> readPrompting() {
    SecretServiceOperation operation(promptingLimit);
    TokenSearch search(operation);
    const std::vector<GDBusProxy*> targets = search.unlockTargets(search.findEverywhere());
    if (!targets.empty()) {
        operation.unlock(targets);
    }
    // After a prompt a lock remains only when the user dismissed it.
    return search.token(search.findEverywhere(), AgentTokenStorageError::userCanceled);
}

// Every matching item gets the token, so any later read returns it; a locked one stops the save
// before anything changes, since unlocking it would need the user.
void saveOnce(const QString& token) {
    char** items = nullptr;
    QuorvaneTokenRead found = quorvane_find_token_items_silently(&items);
    const auto release = qScopeGuard([&] {
        quorvane_token_read_release(&found);
        g_strfreev(items);
    });
    throwOnFailure(found);
    SecretServiceOperation operation(nonInteractiveLimit);
    const QByteArray bytes = token.toUtf8();
    const SecretValuePointer value(secret_value_new(bytes.constData(), bytes.size(), "text/plain"));
    if (!*items) {
        createInDefaultCollection(operation, value.get());
        return;
    }
    for (char** item = items; *item; ++item) {
        operation.replaceSecret(*item, value.get());
    }
}

// Some providers fail a session's key exchange now and then (kwalletd: about one in a hundred),
// which shows as a failed call or a secret that does not arrive; a fresh session mends it.
template <typename Operation>
auto retriedOnce(Operation operation) {
    try {
        return operation();
    } catch (const AgentTokenStorageError& error) {
        if (error.status() != AgentTokenStorageError::otherFailure) {
            throw;
        }
        qCDebug(lcKeychain, "Secret Service operation failed; trying once more in a new session");
    }
    return operation();
}

}  // namespace

KeychainAgentTokenStore::KeychainAgentTokenStore(bool allowsAuthenticationUI)
    : allowsAuthenticationUI_(allowsAuthenticationUI) {}

std::optional<QString> KeychainAgentTokenStore::read() const {
    if (allowsAuthenticationUI_ && isUserInteractionAllowed()) {
        return retriedOnce(readPrompting);
    }
    // Retries on its own.
    return readSilently();
}

void KeychainAgentTokenStore::save(const QString& token) const {
    retriedOnce([&token] { saveOnce(token); });
}

void KeychainAgentTokenStore::setUserInteractionAllowed(bool allowed) {
    userInteractionAllowed.store(allowed);
}

bool KeychainAgentTokenStore::isUserInteractionAllowed() {
    return userInteractionAllowed.load();
}

}  // namespace quorvane
