#include "keychain/SilentTokenRead.h"

// The unlock by object path; libsecret keeps it apart from its stable API although it has not
// changed since 0.18.
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>

#include "keychain/TokenReadAttempt.h"
#include "keychain/TokenReadSession.h"

#define KWALLET_NAME "org.kde.kwalletd5"

static gboolean read_lock_states(TokenReadAttempt* attempt) {
    const guint count = g_strv_length(attempt->collections);
    attempt->locked = g_new0(gboolean, count + 1);
    for (guint i = 0; i < count; ++i) {
        if (!token_read_attempt_is_locked(attempt, attempt->collections[i],
                                          SECRETS_COLLECTION_INTERFACE, &attempt->locked[i])) {
            return FALSE;
        }
    }
    return TRUE;
}

static gboolean any_locked(const TokenReadAttempt* attempt) {
    for (guint i = 0; attempt->collections[i]; ++i) {
        if (attempt->locked[i]) {
            return TRUE;
        }
    }
    return FALSE;
}

// Null when the call failed: for kwalletd's questions that means "not known to be open", which
// keeps every unlock away.
static GVariant* ask_kwallet(TokenReadAttempt* attempt, const char* destination, const char* path,
                             const char* interface, const char* method, GVariant* parameters,
                             const char* reply_type) {
    return token_read_attempt_call(attempt, destination, path, interface, method, parameters,
                                   reply_type, NULL);
}

static gboolean kwallet_serves_secrets(TokenReadAttempt* attempt) {
    GVariant* reply = ask_kwallet(attempt, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus", "GetNameOwner",
                                  g_variant_new("(s)", KWALLET_NAME), "(s)");
    if (!reply) {
        return FALSE;
    }
    const gchar* owner = NULL;
    g_variant_get(reply, "(&s)", &owner);
    const gboolean same = g_strcmp0(owner, attempt->owner) == 0;
    g_variant_unref(reply);
    return same;
}

static gboolean is_open_kwallet(TokenReadAttempt* attempt, const char* collection) {
    GVariant* label = token_read_attempt_property(attempt, collection, SECRETS_COLLECTION_INTERFACE,
                                                  "Label", NULL);
    if (!label) {
        return FALSE;
    }
    gboolean open = FALSE;
    if (g_variant_is_of_type(label, G_VARIANT_TYPE_STRING)) {
        GVariant* reply =
            ask_kwallet(attempt, KWALLET_NAME, "/modules/kwalletd5", "org.kde.KWallet", "isOpen",
                        g_variant_new("(s)", g_variant_get_string(label, NULL)), "(b)");
        if (reply) {
            g_variant_get(reply, "(b)", &open);
            g_variant_unref(reply);
        }
    }
    g_variant_unref(label);
    return open;
}

// kwalletd reports its collection locked after it starts even when the wallet is open (opened at
// login); only then an unlock shows no window, so only then it runs unasked.
static gboolean unlock_open_kwallets(TokenReadAttempt* attempt) {
    if (!any_locked(attempt) || !kwallet_serves_secrets(attempt)) {
        return TRUE;
    }
    GPtrArray* open = g_ptr_array_new();
    for (guint i = 0; attempt->collections[i]; ++i) {
        if (attempt->locked[i] && is_open_kwallet(attempt, attempt->collections[i])) {
            g_ptr_array_add(open, attempt->collections[i]);
        }
    }
    gchar** unlocked = NULL;
    GError* error = NULL;
    if (open->len > 0) {
        g_ptr_array_add(open, NULL);
        // libsecret carries the unlock's prompt, which kwalletd completes without a window.
        SecretService* service = secret_service_open_sync(
            SECRET_TYPE_SERVICE, NULL, SECRET_SERVICE_NONE, attempt->cancellable, &error);
        if (service) {
            secret_service_unlock_dbus_paths_sync(service, (const gchar**)open->pdata,
                                                  attempt->cancellable, &unlocked, &error);
            g_object_unref(service);
        }
    }
    g_ptr_array_free(open, TRUE);
    if (error) {
        return token_read_attempt_fail_with(attempt, error);
    }
    for (guint i = 0; unlocked && attempt->collections[i]; ++i) {
        if (g_strv_contains((const gchar* const*)unlocked, attempt->collections[i])) {
            attempt->locked[i] = FALSE;
        }
    }
    g_strfreev(unlocked);
    return TRUE;
}

static GVariant* token_attributes(void) {
    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&attributes, "{ss}", "service", QUORVANE_TOKEN_SERVICE);
    g_variant_builder_add(&attributes, "{ss}", "account", QUORVANE_TOKEN_ACCOUNT);
    return g_variant_builder_end(&attributes);
}

static void add_paths(GPtrArray* paths, gchar** taken) {
    for (gchar** path = taken; path && *path; ++path) {
        g_ptr_array_add(paths, *path);
    }
    g_free(taken);
}

// One open collection's items, each sorted by its own lock state.
static gboolean search_collection(TokenReadAttempt* attempt, const char* collection,
                                  GPtrArray* unlocked, GPtrArray* locked) {
    GError* error = NULL;
    GVariant* reply = token_read_attempt_call(
        attempt, attempt->owner, collection, SECRETS_COLLECTION_INTERFACE, "SearchItems",
        g_variant_new("(@a{ss})", token_attributes()), "(ao)", &error);
    if (!reply) {
        return token_read_attempt_fail_with(attempt, error);
    }
    gchar** items = NULL;
    g_variant_get(reply, "(^ao)", &items);
    g_variant_unref(reply);
    gboolean succeeded = TRUE;
    for (gchar** item = items; succeeded && *item; ++item) {
        gboolean item_locked = FALSE;
        succeeded =
            token_read_attempt_is_locked(attempt, *item, SECRETS_ITEM_INTERFACE, &item_locked);
        g_ptr_array_add(item_locked ? locked : unlocked, g_strdup(*item));
    }
    g_strfreev(items);
    return succeeded;
}

// The matching items of the open collections. With every collection open, one search of the
// service covers them; otherwise each open one is searched on its own, since a service-wide search
// unlocks locked collections with some providers (KeePassXC's unlock before search).
static gboolean find_items(TokenReadAttempt* attempt, GPtrArray* unlocked, GPtrArray* locked) {
    if (any_locked(attempt)) {
        for (guint i = 0; attempt->collections[i]; ++i) {
            if (!attempt->locked[i] &&
                !search_collection(attempt, attempt->collections[i], unlocked, locked)) {
                return FALSE;
            }
        }
        return TRUE;
    }
    GError* error = NULL;
    GVariant* reply = token_read_attempt_call(
        attempt, attempt->owner, SECRETS_PATH, SECRETS_SERVICE_INTERFACE, "SearchItems",
        g_variant_new("(@a{ss})", token_attributes()), "(aoao)", &error);
    if (!reply) {
        return token_read_attempt_fail_with(attempt, error);
    }
    gchar** unlocked_paths = NULL;
    gchar** locked_paths = NULL;
    g_variant_get(reply, "(^ao^ao)", &unlocked_paths, &locked_paths);
    g_variant_unref(reply);
    add_paths(unlocked, unlocked_paths);
    add_paths(locked, locked_paths);
    return TRUE;
}

static void take_token(TokenReadAttempt* attempt, const char* item) {
    TokenReadSession session;
    char* bytes = NULL;
    size_t length = 0;
    if (token_read_session_open(attempt, &session) &&
        token_read_session_get_secret(attempt, &session, item, &bytes, &length)) {
        if (quorvane_token_is_text(bytes, length)) {
            attempt->result->found = 1;
            attempt->result->token = bytes;
            attempt->result->length = length;
        } else {
            token_read_session_free_secret(bytes, length);
            token_read_attempt_fail(attempt, QUORVANE_TOKEN_DECODE_FAILED, NULL);
        }
    }
    token_read_session_clear(&session);
}

// What a read and a save both start with.
static gboolean find_open_items(TokenReadAttempt* attempt, GPtrArray* unlocked, GPtrArray* locked) {
    return token_read_attempt_open(attempt) && read_lock_states(attempt) &&
           unlock_open_kwallets(attempt) && find_items(attempt, unlocked, locked);
}

// Only open collections were searched: a locked item is withheld per client.
static void fail_withheld(TokenReadAttempt* attempt) {
    attempt->result->needs_client_confirmation = 1;
    token_read_attempt_fail(attempt, QUORVANE_TOKEN_INTERACTION_NOT_ALLOWED, NULL);
}

static void read_token(TokenReadAttempt* attempt) {
    GPtrArray* unlocked = g_ptr_array_new_with_free_func(g_free);
    GPtrArray* locked = g_ptr_array_new_with_free_func(g_free);
    if (find_open_items(attempt, unlocked, locked)) {
        if (unlocked->len > 0) {
            take_token(attempt, g_ptr_array_index(unlocked, 0));
        } else if (locked->len > 0) {
            fail_withheld(attempt);
        } else if (any_locked(attempt)) {
            // A locked collection may hold the token without showing it (KeePassXC), so
            // nothing found there is not "no token".
            token_read_attempt_fail(attempt, QUORVANE_TOKEN_INTERACTION_NOT_ALLOWED, NULL);
        }
    }
    g_ptr_array_free(unlocked, TRUE);
    g_ptr_array_free(locked, TRUE);
}

static void run_attempt(QuorvaneTokenRead* result) {
    TokenReadAttempt attempt;
    token_read_attempt_begin(&attempt, result);
    read_token(&attempt);
    token_read_attempt_end(&attempt);
}

QuorvaneTokenRead quorvane_read_token_silently(void) {
    QuorvaneTokenRead result = {0};
    run_attempt(&result);
    // Some providers fail a session's key exchange now and then (kwalletd: about one in a
    // hundred), which shows as a failed call or a secret that does not arrive; a fresh session
    // mends it.
    if (result.status == QUORVANE_TOKEN_OTHER_FAILURE) {
        quorvane_token_read_release(&result);
        run_attempt(&result);
    }
    return result;
}

QuorvaneTokenRead quorvane_find_token_items_silently(char*** items) {
    QuorvaneTokenRead result = {0};
    TokenReadAttempt attempt;
    token_read_attempt_begin(&attempt, &result);
    GPtrArray* unlocked = g_ptr_array_new_with_free_func(g_free);
    GPtrArray* locked = g_ptr_array_new_with_free_func(g_free);
    if (find_open_items(&attempt, unlocked, locked) && locked->len > 0) {
        fail_withheld(&attempt);
    }
    token_read_attempt_end(&attempt);
    g_ptr_array_add(unlocked, NULL);
    *items = (char**)g_ptr_array_free(unlocked, result.status != 0);
    g_ptr_array_free(locked, TRUE);
    return result;
}

void quorvane_token_read_release(QuorvaneTokenRead* read) {
    g_free(read->failure);
    token_read_session_free_secret((char*)read->token, read->length);
    *read = (QuorvaneTokenRead){0};
}

int quorvane_token_is_text(const char* bytes, size_t length) {
    const gchar* end = NULL;
    while (length > 0 && !g_utf8_validate_len(bytes, length, &end)) {
        if (*end != '\0') {
            return 0;
        }
        length -= (size_t)(end - bytes) + 1;
        bytes = end + 1;
    }
    return 1;
}
