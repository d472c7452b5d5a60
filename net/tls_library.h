// The TLS library as the transport uses it: thin calls into BoringSSL, or,
// in a build without TLS, the same calls answering as a library that cannot
// make a context would. Nothing else in the transport names the library,
// so this seam is the only place where the two builds differ.
#ifndef TORVANE_NET_TLS_LIBRARY_H
#define TORVANE_NET_TLS_LIBRARY_H

#include <cstddef>
#include <cstdint>

// The library's own object types, declared here without its headers.
struct ssl_st;      // one TLS connection (SSL)
struct ssl_ctx_st;  // a TLS context (SSL_CTX)
struct ssl_method_st;
struct dh_st;       // Diffie-Hellman parameters (DH)

// Results of tls_get_error that the transport tells apart; the library's
// own values.
enum qarn_tls_error : int {
  QARN_TLS_ERROR_NONE = 0,
  QARN_TLS_ERROR_SSL = 1,
  QARN_TLS_ERROR_WANT_READ = 2,
  QARN_TLS_ERROR_WANT_WRITE = 3,
  QARN_TLS_ERROR_SYSCALL = 5,
  QARN_TLS_ERROR_ZERO_RETURN = 6,
};

// The smallest buffer that tls_error_string writes into.
constexpr size_t QARN_TLS_ERROR_STRING_MIN = 120;

// The callback type of tls_context_set_tmp_dh_callback.
typedef dh_st *(*qarn_tmp_dh_callback)(ssl_st *connection, int is_export, int key_length);

// tls_library_present returns 1 when this build has a TLS library, 0 in a
// build without one.
int tls_library_present();

// tls_library_init loads the error strings and runs the library's one-time
// initialisation.
void tls_library_init();

// tls_version_flexible_method returns the method that negotiates any TLS
// version, or null.
const ssl_method_st *tls_version_flexible_method();

// tls_context_new returns a new context owned by the caller (free it with
// tls_context_free), or null.
ssl_ctx_st *tls_context_new(const ssl_method_st *method);
void tls_context_free(ssl_ctx_st *context);

// The context set-up calls return 1 on success, 0 on failure.
int tls_context_set_cipher_list(ssl_ctx_st *context, const char *cipher_list);
void tls_context_set_tmp_dh_callback(ssl_ctx_st *context, qarn_tmp_dh_callback callback);
int tls_context_load_verify_file(ssl_ctx_st *context, const char *file);
int tls_context_use_certificate_chain_file(ssl_ctx_st *context, const char *file);
int tls_context_use_rsa_private_key_pem_file(ssl_ctx_st *context, const char *file);

// Outcome of installing a PEM text.
enum qarn_tls_pem_result : int {
  QARN_TLS_PEM_INSTALLED = 0,
  QARN_TLS_PEM_READ_FAILED = 1,
  QARN_TLS_PEM_INSTALL_FAILED = 2,
};

// tls_context_use_certificate_pem reads one certificate from the PEM text
// |pem| and installs it in |context|. The certificate is kept for the life
// of the process (until tls_release_static_material).
qarn_tls_pem_result tls_context_use_certificate_pem(ssl_ctx_st *context, const char *pem);
// tls_context_use_rsa_private_key_pem does the same for an RSA private key.
qarn_tls_pem_result tls_context_use_rsa_private_key_pem(ssl_ctx_st *context, const char *pem);
// tls_release_static_material frees what the two calls above keep.
void tls_release_static_material();

// tls_dh_new returns DH parameters with the big-endian prime |prime| of
// |prime_len| bytes and the one-byte generator |generator|, owned by the
// caller (free with tls_dh_free); null when they cannot be made.
dh_st *tls_dh_new(const uint8_t *prime, size_t prime_len, uint8_t generator);
void tls_dh_free(dh_st *dh);
// tls_dh_prime_bits returns the bit length of the prime of |dh|.
int tls_dh_prime_bits(const dh_st *dh);

// tls_connection_new returns a connection object of |context| owned by the
// caller (free with tls_connection_free), or null (also for a null
// |context|).
ssl_st *tls_connection_new(ssl_ctx_st *context);
void tls_connection_free(ssl_st *connection);
int tls_connection_set_cipher_list(ssl_st *connection, const char *cipher_list);
int tls_connection_set_fd(ssl_st *connection, int fd);

// tls_connect, tls_read and tls_write return the library's results: > 0
// success, otherwise ask tls_get_error. The library writes to the socket
// inside each of them (handshake flights, alerts, data); none of them ever
// raises a signal when the peer has gone, the write fails instead.
int tls_connect(ssl_st *connection);
int tls_read(ssl_st *connection, void *buffer, int size);
int tls_write(ssl_st *connection, const void *data, int length);
int tls_get_error(const ssl_st *connection, int result);

// tls_oldest_error takes the oldest error off the library's queue (0 when
// there is none).
uint32_t tls_oldest_error();
// tls_error_string writes the text of |error| into |buffer|, which holds at
// least QARN_TLS_ERROR_STRING_MIN bytes.
void tls_error_string(uint32_t error, char *buffer);
// tls_error_string_n writes at most |size| bytes of the text of |error|.
void tls_error_string_n(uint32_t error, char *buffer, size_t size);

#endif
