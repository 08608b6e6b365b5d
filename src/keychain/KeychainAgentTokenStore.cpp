#include "keychain/KeychainAgentTokenStore.h"

#include <QStringDecoder>
#include <algorithm>
#include <atomic>

#include "config/AgentContract.h"
#include "config/AgentTokenStorageError.h"
#include "keychain/SecretServiceOperation.h"

namespace quorvane {

namespace {

using namespace std::chrono_literals;

// Off until a caller allows it: code that never touches the switch (or a copy of this library
// loaded into another module of the process) cannot prompt by accident.
std::atomic<bool> userInteractionAllowed{false};

// A service that does not answer within this time counts as unavailable. The limit for a read
// that may prompt leaves the user time to answer the desktop's unlock dialog.
constexpr std::chrono::milliseconds nonInteractiveLimit = 3s;
constexpr std::chrono::milliseconds promptingLimit = 5min;

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

bool isLocked(const GObjectPointer<SecretItem>& item) {
    return secret_item_get_locked(item.get());
}

// The stored bytes exactly: a leading byte-order mark stays part of the token.
QString decodeToken(SecretItem* item) {
    SecretValuePointer value(secret_item_get_secret(item));
    if (!value) {
        throw AgentTokenStorageError(AgentTokenStorageError::decodeFailed);
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                       QStringConverter::Flag::ConvertInitialBom);
    QString token = decoder.decode(QByteArrayView(bytes, static_cast<qsizetype>(length)));
    if (decoder.hasError()) {
        throw AgentTokenStorageError(AgentTokenStorageError::decodeFailed);
    }
    return token;
}

void createInDefaultCollection(SecretServiceOperation& operation, const Attributes& attributes,
                               SecretValue* value) {
    GObjectPointer<SecretCollection> collection = operation.defaultCollection();
    // Without a default collection, making one needs a new password from the user.
    if (!collection || secret_collection_get_locked(collection.get())) {
        throw AgentTokenStorageError(AgentTokenStorageError::interactionNotAllowed);
    }
    operation.createItem(collection.get(), tokenSchema, attributes.get(),
                         AgentContract::tokenService.data(), value);
}

}  // namespace

KeychainAgentTokenStore::KeychainAgentTokenStore(bool allowsAuthenticationUI)
    : allowsAuthenticationUI_(allowsAuthenticationUI) {}

std::optional<QString> KeychainAgentTokenStore::read() const {
    const bool mayPrompt = allowsAuthenticationUI_ && isUserInteractionAllowed();
    SecretServiceOperation operation(mayPrompt ? promptingLimit : nonInteractiveLimit);
    const Attributes attributes = tokenAttributes();
    const Items items = operation.search(tokenSchema, attributes.get(), mayPrompt, true);
    if (items.empty()) {
        return std::nullopt;
    }
    const auto unlocked = std::find_if_not(items.begin(), items.end(), isLocked);
    if (unlocked == items.end()) {
        // After a prompt an item stays locked only when the user dismissed it.
        throw AgentTokenStorageError(mayPrompt ? AgentTokenStorageError::userCanceled
                                               : AgentTokenStorageError::interactionNotAllowed);
    }
    return decodeToken(unlocked->get());
}

// Every matching item gets the token, so any later read returns it; a locked one stops the save
// before anything changes, since unlocking it would need the user.
void KeychainAgentTokenStore::save(const QString& token) const {
    SecretServiceOperation operation(nonInteractiveLimit);
    const Attributes attributes = tokenAttributes();
    const Items items = operation.search(tokenSchema, attributes.get(), false, false);
    if (std::any_of(items.begin(), items.end(), isLocked)) {
        throw AgentTokenStorageError(AgentTokenStorageError::interactionNotAllowed);
    }
    const QByteArray bytes = token.toUtf8();
    const SecretValuePointer value(secret_value_new(bytes.constData(), bytes.size(), "text/plain"));
    if (items.empty()) {
        createInDefaultCollection(operation, attributes, value.get());
        return;
    }
    for (const GObjectPointer<SecretItem>& item : items) {
        operation.replaceSecret(item.get(), value.get());
    }
}

void KeychainAgentTokenStore::setUserInteractionAllowed(bool allowed) {
    userInteractionAllowed.store(allowed);
}

bool KeychainAgentTokenStore::isUserInteractionAllowed() {
    return userInteractionAllowed.load();
}

}  // namespace quorvane
