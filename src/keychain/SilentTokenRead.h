#pragma once

// The read of the device token that never unlocks anything and never prompts, on libsecret and
// GLib alone: the token-output mode runs it without loading Qt, and the panel's token store runs
// the same code for its own silent reads.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// The item's attributes, so that `secret-tool lookup service ru.quorvane.agent account
// device-token` finds it.
#define QUORVANE_TOKEN_SERVICE "ru.quorvane.agent"
#define QUORVANE_TOKEN_ACCOUNT "device-token"

// The store's status codes, the numbers the panel shows in its messages.
enum {
    QUORVANE_TOKEN_DECODE_FAILED = -26275,
    QUORVANE_TOKEN_INTERACTION_NOT_ALLOWED = -25308,
    QUORVANE_TOKEN_SERVICE_UNAVAILABLE = -25291,
    QUORVANE_TOKEN_OTHER_FAILURE = -25293,
};

typedef struct QuorvaneTokenRead {
    // 0, or the status code of the failure.
    int status;
    // With status 0: whether a token is stored, and its bytes (valid UTF-8, no terminator; wiped
    // on release).
    int found;
    const char* token;
    size_t length;
    // With a failure: the collection is open but the provider withholds the item from programs
    // the user has not confirmed (KeePassXC's per-client confirmation).
    int needs_client_confirmation;
    // What the service reported, for the caller's log; null when it said nothing.
    char* failure;
} QuorvaneTokenRead;

// Asks the Secret Service for the token once, and once more with a fresh session when a session
// or key exchange failed. Release the result with quorvane_token_read_release.
QuorvaneTokenRead quorvane_read_token_silently(void);
void quorvane_token_read_release(QuorvaneTokenRead* read);

// For a save, which may not prompt either: the token's items in the collections open now (an
// open kwalletd wallet counts as open), as a null-terminated list of object paths to free with
// g_strfreev. Fails, with the confirmation flag, when one of them is withheld per client. Asks the
// service once: the save retries as a whole.
QuorvaneTokenRead quorvane_find_token_items_silently(char*** items);

// Whether the bytes are UTF-8 text (NUL characters allowed): a stored token must be.
int quorvane_token_is_text(const char* bytes, size_t length);

#ifdef __cplusplus
}
#endif
