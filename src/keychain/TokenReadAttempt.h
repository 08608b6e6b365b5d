#pragma once

// One attempt at the Secret Service for the silent token read: its session bus, the service's
// owner and collections, and the deadline every wait in it shares.

#include <gio/gio.h>

#include "keychain/SilentTokenRead.h"

#define SECRETS_PATH "/org/freedesktop/secrets"
#define SECRETS_SERVICE_INTERFACE "org.freedesktop.Secret.Service"
#define SECRETS_COLLECTION_INTERFACE "org.freedesktop.Secret.Collection"
#define SECRETS_ITEM_INTERFACE "org.freedesktop.Secret.Item"

typedef struct {
    GCancellable* cancellable;
    GMutex mutex;
    GCond finished_changed;
    gboolean finished;
    gint64 deadline;
    GThread* watchdog;
    GDBusConnection* bus;
    char* owner;  // the service's unique bus name
    char** collections;
    gboolean* locked;  // per collection
    QuorvaneTokenRead* result;
} TokenReadAttempt;

// Starts the watchdog: after a few seconds every wait of the attempt is cancelled, so a hung or
// slowly starting service cannot hold the caller.
void token_read_attempt_begin(TokenReadAttempt* attempt, QuorvaneTokenRead* result);
void token_read_attempt_end(TokenReadAttempt* attempt);

// Connects and lists the collections; FALSE (the failure recorded) when the service cannot be
// reached.
gboolean token_read_attempt_open(TokenReadAttempt* attempt);

// Record the failure in the result and return FALSE; the second maps the error to its status.
gboolean token_read_attempt_fail(TokenReadAttempt* attempt, int status, GError* error);
gboolean token_read_attempt_fail_with(TokenReadAttempt* attempt, GError* error);

// A call to the service or the bus; a reply of another type than `reply_type` fails it.
GVariant* token_read_attempt_call(TokenReadAttempt* attempt, const char* destination,
                                  const char* path, const char* interface, const char* method,
                                  GVariant* parameters, const char* reply_type, GError** error);
// A property of one of the service's objects, asked now.
GVariant* token_read_attempt_property(TokenReadAttempt* attempt, const char* path,
                                      const char* interface, const char* name, GError** error);
gboolean token_read_attempt_is_locked(TokenReadAttempt* attempt, const char* path,
                                      const char* interface, gboolean* locked);
