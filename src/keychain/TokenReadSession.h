#pragma once

// The transfer session of the silent token read: the Secret Service's key exchange
// (dh-ietf1024-sha256-aes128-cbc-pkcs7, the one libsecret uses) on libgcrypt, or a plain session
// where the service offers no other. Done here rather than through libsecret's service object,
// whose set-up asks the bus seven questions the read does not need.

#include <stddef.h>

#include "keychain/TokenReadAttempt.h"

typedef struct {
    char* path;
    gboolean encrypted;
    unsigned char key[16];
} TokenReadSession;

gboolean token_read_session_open(TokenReadAttempt* attempt, TokenReadSession* session);

// The item's secret, decrypted into *bytes (release with token_read_session_free_secret); FALSE
// with the failure recorded when the call failed or the secret did not arrive intact.
gboolean token_read_session_get_secret(TokenReadAttempt* attempt, const TokenReadSession* session,
                                       const char* item, char** bytes, size_t* length);
void token_read_session_free_secret(char* bytes, size_t length);

// Forgets the key; the service ends the session when this connection closes.
void token_read_session_clear(TokenReadSession* session);
