// explicit_bzero, getrandom
#define _DEFAULT_SOURCE

#include "keychain/TokenReadSession.h"

#include <gcrypt.h>
#include <string.h>
#include <sys/random.h>

#define ENCRYPTED_ALGORITHM "dh-ietf1024-sha256-aes128-cbc-pkcs7"

// The 1024-bit MODP group of RFC 2409 (the "ietf1024" of the algorithm's name), generator 2.
static const char group_prime[] =
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22"
    "514A08798E3404DDEF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6"
    "F44C42E9A637ED6B0BFF5CB6F406B7EDEE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381"
    "FFFFFFFFFFFFFFFF";
enum { group_bytes = 128, aes_block = 16 };

static void initialize_gcrypt(void) {
    // libsecret, loaded beside this in the panel, may have done it already.
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
        gcry_check_version(NULL);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
}

// The mpi's value as exactly group_bytes big-endian bytes.
static void export_padded(gcry_mpi_t value, unsigned char out[group_bytes]) {
    size_t written = 0;
    unsigned char buffer[group_bytes];
    gcry_mpi_print(GCRYMPI_FMT_USG, buffer, sizeof buffer, &written, value);
    memset(out, 0, group_bytes - written);
    memcpy(out + group_bytes - written, buffer, written);
    memset(buffer, 0, sizeof buffer);
}

// HKDF-SHA256 without salt or info, the first 16 bytes of its output.
static gboolean derive_key(const unsigned char shared[group_bytes], unsigned char key[16]) {
    static const unsigned char zero_salt[32] = {0};
    static const unsigned char first_block = 1;
    gcry_md_hd_t hmac = NULL;
    if (gcry_md_open(&hmac, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC | GCRY_MD_FLAG_SECURE) != 0) {
        return FALSE;
    }
    unsigned char pseudo_random_key[32];
    gcry_md_setkey(hmac, zero_salt, sizeof zero_salt);
    gcry_md_write(hmac, shared, group_bytes);
    memcpy(pseudo_random_key, gcry_md_read(hmac, 0), sizeof pseudo_random_key);
    gcry_md_reset(hmac);
    gcry_md_setkey(hmac, pseudo_random_key, sizeof pseudo_random_key);
    gcry_md_write(hmac, &first_block, 1);
    memcpy(key, gcry_md_read(hmac, 0), 16);
    gcry_md_close(hmac);
    memset(pseudo_random_key, 0, sizeof pseudo_random_key);
    return TRUE;
}

static GVariant* open_session(TokenReadAttempt* attempt, const char* algorithm, GVariant* input,
                              GError** error) {
    return token_read_attempt_call(attempt, attempt->owner, SECRETS_PATH, SECRETS_SERVICE_INTERFACE,
                                   "OpenSession", g_variant_new("(sv)", algorithm, input), "(vo)",
                                   error);
}

// Our key pair and the service's public key give the shared secret and from it the AES key.
static gboolean agree_key(gcry_mpi_t prime, gcry_mpi_t private_key, GVariant* peer,
                          unsigned char key[16]) {
    gsize peer_length = 0;
    const void* peer_bytes = g_variant_get_fixed_array(peer, &peer_length, 1);
    gcry_mpi_t peer_key = NULL;
    if (peer_length == 0 ||
        gcry_mpi_scan(&peer_key, GCRYMPI_FMT_USG, peer_bytes, peer_length, NULL) != 0) {
        return FALSE;
    }
    gcry_mpi_t shared = gcry_mpi_snew(1024);
    gcry_mpi_powm(shared, peer_key, private_key, prime);
    unsigned char shared_bytes[group_bytes];
    export_padded(shared, shared_bytes);
    const gboolean derived = derive_key(shared_bytes, key);
    memset(shared_bytes, 0, sizeof shared_bytes);
    gcry_mpi_release(shared);
    gcry_mpi_release(peer_key);
    return derived;
}

static gboolean open_encrypted(TokenReadAttempt* attempt, TokenReadSession* session,
                               GError** error) {
    initialize_gcrypt();
    unsigned char random_bytes[group_bytes];
    if (getrandom(random_bytes, sizeof random_bytes, 0) != (ssize_t)sizeof random_bytes) {
        return FALSE;
    }
    gcry_mpi_t prime = NULL, private_key = NULL;
    gcry_mpi_scan(&prime, GCRYMPI_FMT_HEX, group_prime, 0, NULL);
    gcry_mpi_scan(&private_key, GCRYMPI_FMT_USG, random_bytes, sizeof random_bytes, NULL);
    memset(random_bytes, 0, sizeof random_bytes);
    gcry_mpi_t public_key = gcry_mpi_new(1024);
    gcry_mpi_powm(public_key, GCRYMPI_CONST_TWO, private_key, prime);
    unsigned char public_bytes[group_bytes];
    export_padded(public_key, public_bytes);
    gcry_mpi_release(public_key);
    GVariant* reply = open_session(
        attempt, ENCRYPTED_ALGORITHM,
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, public_bytes, sizeof public_bytes, 1),
        error);
    gboolean opened = FALSE;
    if (reply) {
        GVariant* peer = NULL;
        g_variant_get(reply, "(vo)", &peer, &session->path);
        opened = g_variant_is_of_type(peer, G_VARIANT_TYPE_BYTESTRING) &&
                 agree_key(prime, private_key, peer, session->key);
        g_variant_unref(peer);
        g_variant_unref(reply);
    }
    gcry_mpi_release(private_key);
    gcry_mpi_release(prime);
    session->encrypted = TRUE;
    return opened;
}

gboolean token_read_session_open(TokenReadAttempt* attempt, TokenReadSession* session) {
    *session = (TokenReadSession){0};
    GError* error = NULL;
    if (open_encrypted(attempt, session, &error)) {
        return TRUE;
    }
    if (!error || !g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NOT_SUPPORTED)) {
        token_read_session_clear(session);
        return error ? token_read_attempt_fail_with(attempt, error)
                     : token_read_attempt_fail(attempt, QUORVANE_TOKEN_OTHER_FAILURE, NULL);
    }
    // As libsecret does where the service knows no key exchange.
    g_clear_error(&error);
    token_read_session_clear(session);
    GVariant* reply = open_session(attempt, "plain", g_variant_new_string(""), &error);
    if (!reply) {
        return token_read_attempt_fail_with(attempt, error);
    }
    g_variant_get(reply, "(vo)", NULL, &session->path);
    g_variant_unref(reply);
    return TRUE;
}

// The secret struct (session, parameters, value, content type) carries the IV as parameters and
// the value AES-128-CBC encrypted with PKCS#7 padding.
static gboolean decrypt(const TokenReadSession* session, const guchar* iv, gsize iv_length,
                        const guchar* data, gsize length, char** bytes, size_t* plain_length) {
    if (iv_length != aes_block || length < aes_block || length % aes_block != 0) {
        return FALSE;
    }
    gcry_cipher_hd_t cipher = NULL;
    if (gcry_cipher_open(&cipher, GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_CBC, GCRY_CIPHER_SECURE) !=
        0) {
        return FALSE;
    }
    guchar* plain = g_malloc(length);
    gboolean decrypted = gcry_cipher_setkey(cipher, session->key, sizeof session->key) == 0 &&
                         gcry_cipher_setiv(cipher, iv, iv_length) == 0 &&
                         gcry_cipher_decrypt(cipher, plain, length, data, length) == 0;
    gcry_cipher_close(cipher);
    const guchar padding = decrypted ? plain[length - 1] : 0;
    decrypted = padding >= 1 && padding <= aes_block;
    for (gsize i = 0; decrypted && i < padding; ++i) {
        decrypted = plain[length - 1 - i] == padding;
    }
    if (!decrypted) {
        token_read_session_free_secret((char*)plain, length);
        return FALSE;
    }
    *bytes = (char*)plain;
    *plain_length = length - padding;
    return TRUE;
}

static gboolean take_secret(const TokenReadSession* session, GVariant* secret, char** bytes,
                            size_t* length) {
    GVariant* parameters = g_variant_get_child_value(secret, 1);
    GVariant* value = g_variant_get_child_value(secret, 2);
    gsize iv_length = 0, value_length = 0;
    const guchar* iv = g_variant_get_fixed_array(parameters, &iv_length, 1);
    const guchar* data = g_variant_get_fixed_array(value, &value_length, 1);
    gboolean taken = TRUE;
    if (session->encrypted) {
        taken = decrypt(session, iv, iv_length, data, value_length, bytes, length);
    } else {
        *bytes = g_memdup2(data, value_length);
        *length = value_length;
    }
    g_variant_unref(value);
    g_variant_unref(parameters);
    return taken;
}

gboolean token_read_session_get_secret(TokenReadAttempt* attempt, const TokenReadSession* session,
                                       const char* item, char** bytes, size_t* length) {
    const char* items[] = {item, NULL};
    GError* error = NULL;
    GVariant* reply = token_read_attempt_call(
        attempt, attempt->owner, SECRETS_PATH, SECRETS_SERVICE_INTERFACE, "GetSecrets",
        g_variant_new("(^aoo)", items, session->path), "(a{o(oayays)})", &error);
    if (!reply) {
        return token_read_attempt_fail_with(attempt, error);
    }
    GVariant* secrets = g_variant_get_child_value(reply, 0);
    GVariant* secret = g_variant_lookup_value(secrets, item, G_VARIANT_TYPE("(oayays)"));
    // A secret that does not arrive, or not intact, is a failed transfer (a failed key exchange
    // among its causes), not an undecodable value.
    const gboolean taken = secret && take_secret(session, secret, bytes, length);
    if (secret) {
        g_variant_unref(secret);
    }
    g_variant_unref(secrets);
    g_variant_unref(reply);
    return taken ? TRUE : token_read_attempt_fail(attempt, QUORVANE_TOKEN_OTHER_FAILURE, NULL);
}

void token_read_session_free_secret(char* bytes, size_t length) {
    if (bytes) {
        explicit_bzero(bytes, length);
        g_free(bytes);
    }
}

void token_read_session_clear(TokenReadSession* session) {
    g_free(session->path);
    explicit_bzero(session, sizeof *session);
}
