#include "keychain/TokenReadAttempt.h"

#include "keychain/SecretServiceReachability.h"
#include "keychain/SessionBus.h"

#define SECRETS_NAME "org.freedesktop.secrets"

// A service that does not answer within this time counts as unavailable.
static const gint64 answer_limit_us = 3 * G_USEC_PER_SEC;

static gpointer cancel_at_deadline(gpointer data) {
    TokenReadAttempt* attempt = data;
    g_mutex_lock(&attempt->mutex);
    while (!attempt->finished) {
        if (!g_cond_wait_until(&attempt->finished_changed, &attempt->mutex, attempt->deadline)) {
            g_cancellable_cancel(attempt->cancellable);
            break;
        }
    }
    g_mutex_unlock(&attempt->mutex);
    return NULL;
}

gboolean quorvane_means_service_unreachable(const GError* error) {
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
            case G_DBUS_ERROR_NO_SERVER:
            case G_DBUS_ERROR_DISCONNECTED:
            case G_DBUS_ERROR_NO_REPLY:
            case G_DBUS_ERROR_TIMEOUT:
            case G_DBUS_ERROR_TIMED_OUT:
            case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
            case G_DBUS_ERROR_SPAWN_FORK_FAILED:
            case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
            case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
            case G_DBUS_ERROR_SPAWN_FAILED:
            case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
            case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
                return TRUE;
            default:
                return FALSE;
        }
    }
    return error->domain == G_IO_ERROR &&
           (error->code == G_IO_ERROR_CLOSED || error->code == G_IO_ERROR_TIMED_OUT);
}

// Records the failure; always returns FALSE, so callers can return it.
gboolean token_read_attempt_fail(TokenReadAttempt* attempt, int status, GError* error) {
    attempt->result->status = status;
    if (error) {
        g_free(attempt->result->failure);
        attempt->result->failure = g_strdup(error->message);
        g_error_free(error);
    }
    return FALSE;
}

gboolean token_read_attempt_fail_with(TokenReadAttempt* attempt, GError* error) {
    // A call the watchdog cancelled waited on a service that did not answer in time.
    int status = QUORVANE_TOKEN_OTHER_FAILURE;
    if (g_cancellable_is_cancelled(attempt->cancellable) ||
        quorvane_means_service_unreachable(error)) {
        status = QUORVANE_TOKEN_SERVICE_UNAVAILABLE;
    } else if (g_strcmp0(g_dbus_error_get_remote_error(error),
                         "org.freedesktop.Secret.Error.IsLocked") == 0) {
        status = QUORVANE_TOKEN_INTERACTION_NOT_ALLOWED;
    }
    return token_read_attempt_fail(attempt, status, error);
}

GVariant* token_read_attempt_call(TokenReadAttempt* attempt, const char* destination,
                                  const char* path, const char* interface, const char* method,
                                  GVariant* parameters, const char* reply_type, GError** error) {
    return g_dbus_connection_call_sync(attempt->bus, destination, path, interface, method,
                                       parameters, G_VARIANT_TYPE(reply_type),
                                       G_DBUS_CALL_FLAGS_NONE, -1, attempt->cancellable, error);
}

GVariant* token_read_attempt_property(TokenReadAttempt* attempt, const char* path,
                                      const char* interface, const char* name, GError** error) {
    GVariant* reply =
        token_read_attempt_call(attempt, attempt->owner, path, "org.freedesktop.DBus.Properties",
                                "Get", g_variant_new("(ss)", interface, name), "(v)", error);
    GVariant* value = NULL;
    if (reply) {
        g_variant_get(reply, "(v)", &value);
        g_variant_unref(reply);
    }
    return value;
}

gboolean token_read_attempt_is_locked(TokenReadAttempt* attempt, const char* path,
                                      const char* interface, gboolean* locked) {
    GError* error = NULL;
    GVariant* value = token_read_attempt_property(attempt, path, interface, "Locked", &error);
    if (!value) {
        return token_read_attempt_fail_with(attempt, error);
    }
    *locked = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    g_variant_unref(value);
    return TRUE;
}

// The first call names the service's owner (starting the service where the bus can); the later
// ones go to that owner, so a service that restarts meanwhile fails them instead of answering
// without this attempt's session.
gboolean token_read_attempt_open(TokenReadAttempt* attempt) {
    GError* error = NULL;
    attempt->bus = quorvane_session_bus(attempt->cancellable, &error);
    if (!attempt->bus) {
        return token_read_attempt_fail(attempt, QUORVANE_TOKEN_SERVICE_UNAVAILABLE, error);
    }
    GDBusMessage* request = g_dbus_message_new_method_call(
        SECRETS_NAME, SECRETS_PATH, "org.freedesktop.DBus.Properties", "Get");
    g_dbus_message_set_body(request,
                            g_variant_new("(ss)", SECRETS_SERVICE_INTERFACE, "Collections"));
    GDBusMessage* reply = g_dbus_connection_send_message_with_reply_sync(
        attempt->bus, request, G_DBUS_SEND_MESSAGE_FLAGS_NONE, -1, NULL, attempt->cancellable,
        &error);
    g_object_unref(request);
    if (reply && g_dbus_message_to_gerror(reply, &error)) {
        g_clear_object(&reply);
    }
    if (!reply) {
        // Whatever stops the first contact means the service cannot be reached.
        return token_read_attempt_fail(attempt, QUORVANE_TOKEN_SERVICE_UNAVAILABLE, error);
    }
    attempt->owner = g_strdup(g_dbus_message_get_sender(reply));
    GVariant* body = g_dbus_message_get_body(reply);
    GVariant* value = body && g_variant_is_of_type(body, G_VARIANT_TYPE("(v)"))
                          ? g_variant_get_child_value(body, 0)
                          : NULL;
    GVariant* paths = value ? g_variant_get_variant(value) : NULL;
    attempt->collections = paths && g_variant_is_of_type(paths, G_VARIANT_TYPE_OBJECT_PATH_ARRAY)
                               ? g_variant_dup_objv(paths, NULL)
                               : g_new0(char*, 1);
    if (paths) {
        g_variant_unref(paths);
    }
    if (value) {
        g_variant_unref(value);
    }
    g_object_unref(reply);
    return TRUE;
}

void token_read_attempt_begin(TokenReadAttempt* attempt, QuorvaneTokenRead* result) {
    *attempt = (TokenReadAttempt){.cancellable = g_cancellable_new(),
                                  .deadline = g_get_monotonic_time() + answer_limit_us,
                                  .result = result};
    g_mutex_init(&attempt->mutex);
    g_cond_init(&attempt->finished_changed);
    attempt->watchdog = g_thread_new("token-read-limit", cancel_at_deadline, attempt);
}

void token_read_attempt_end(TokenReadAttempt* attempt) {
    g_mutex_lock(&attempt->mutex);
    attempt->finished = TRUE;
    g_cond_signal(&attempt->finished_changed);
    g_mutex_unlock(&attempt->mutex);
    g_thread_join(attempt->watchdog);
    g_clear_object(&attempt->bus);
    g_free(attempt->owner);
    g_strfreev(attempt->collections);
    g_free(attempt->locked);
    g_object_unref(attempt->cancellable);
    g_cond_clear(&attempt->finished_changed);
    g_mutex_clear(&attempt->mutex);
}
