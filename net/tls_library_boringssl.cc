// The TLS seam over BoringSSL; built only where the build has it.
#ifdef TORVANE_WITH_TLS

// The library's headers trip warnings that are not ours to fix.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/dh.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#pragma GCC diagnostic pop

#include <cstring>

#include "net/tls_library.h"
#include "platform/socket.h"

static_assert(QARN_TLS_ERROR_SSL == SSL_ERROR_SSL, "library value");
static_assert(QARN_TLS_ERROR_WANT_READ == SSL_ERROR_WANT_READ, "library value");
static_assert(QARN_TLS_ERROR_WANT_WRITE == SSL_ERROR_WANT_WRITE, "library value");
static_assert(QARN_TLS_ERROR_SYSCALL == SSL_ERROR_SYSCALL, "library value");
static_assert(QARN_TLS_ERROR_ZERO_RETURN == SSL_ERROR_ZERO_RETURN, "library value");
static_assert(QARN_TLS_ERROR_STRING_MIN == ERR_ERROR_STRING_BUF_LEN, "library value");

namespace {

// The static certificate and key stay with the process once installed.
X509 *g_static_certificate = nullptr;
RSA *g_static_private_key = nullptr;

// One call into the library that may write to the socket: SSL_connect
// (the client's flights), SSL_read (alerts, answers to the peer's
// post-handshake messages) and SSL_write. Each runs through
// platform_socket_run_without_broken_pipe, so that a write to a peer that
// has reset the connection fails with an error instead of a signal.
struct socket_call {
  SSL *connection;
  void *buffer;      // SSL_read
  const void *data;  // SSL_write
  int length;
};

int run_connect(void *context) {
  return SSL_connect(static_cast<socket_call *>(context)->connection);
}

int run_read(void *context) {
  socket_call *call = static_cast<socket_call *>(context);
  return SSL_read(call->connection, call->buffer, call->length);
}

int run_write(void *context) {
  socket_call *call = static_cast<socket_call *>(context);
  return SSL_write(call->connection, call->data, call->length);
}

// read_pem_bio wraps |pem| in a read-only memory stream; null on failure.
BIO *read_pem_bio(const char *pem) {
  return BIO_new_mem_buf(pem, static_cast<int>(std::strlen(pem)));
}

}  // namespace

int tls_library_present() { return 1; }

void tls_library_init() {
  SSL_load_error_strings();
  SSL_library_init();
}

const ssl_method_st *tls_version_flexible_method() { return SSLv23_method(); }

ssl_ctx_st *tls_context_new(const ssl_method_st *method) { return SSL_CTX_new(method); }

void tls_context_free(ssl_ctx_st *context) { SSL_CTX_free(context); }

int tls_context_set_cipher_list(ssl_ctx_st *context, const char *cipher_list) {
  return SSL_CTX_set_cipher_list(context, cipher_list);
}

void tls_context_set_tmp_dh_callback(ssl_ctx_st *context, qarn_tmp_dh_callback callback) {
  SSL_CTX_set_tmp_dh_callback(context, callback);
}

int tls_context_load_verify_file(ssl_ctx_st *context, const char *file) {
  return SSL_CTX_load_verify_locations(context, file, nullptr);
}

int tls_context_use_certificate_chain_file(ssl_ctx_st *context, const char *file) {
  return SSL_CTX_use_certificate_chain_file(context, file);
}

int tls_context_use_rsa_private_key_pem_file(ssl_ctx_st *context, const char *file) {
  return SSL_CTX_use_RSAPrivateKey_file(context, file, SSL_FILETYPE_PEM);
}

qarn_tls_pem_result tls_context_use_certificate_pem(ssl_ctx_st *context, const char *pem) {
  BIO *stream = read_pem_bio(pem);
  if (stream == nullptr) {
    return QARN_TLS_PEM_READ_FAILED;
  }
  X509 *certificate = PEM_read_bio_X509(stream, nullptr, nullptr, nullptr);
  qarn_tls_pem_result result = QARN_TLS_PEM_INSTALLED;
  if (certificate == nullptr) {
    result = QARN_TLS_PEM_READ_FAILED;
  } else {
    X509_free(g_static_certificate);
    g_static_certificate = certificate;
    if (SSL_CTX_use_certificate(context, certificate) != 1) {
      result = QARN_TLS_PEM_INSTALL_FAILED;
    }
  }
  BIO_free(stream);
  return result;
}

qarn_tls_pem_result tls_context_use_rsa_private_key_pem(ssl_ctx_st *context, const char *pem) {
  BIO *stream = read_pem_bio(pem);
  if (stream == nullptr) {
    return QARN_TLS_PEM_READ_FAILED;
  }
  RSA *key = PEM_read_bio_RSAPrivateKey(stream, nullptr, nullptr, nullptr);
  qarn_tls_pem_result result = QARN_TLS_PEM_INSTALLED;
  if (key == nullptr) {
    result = QARN_TLS_PEM_READ_FAILED;
  } else {
    RSA_free(g_static_private_key);
    g_static_private_key = key;
    if (SSL_CTX_use_RSAPrivateKey(context, key) != 1) {
      result = QARN_TLS_PEM_INSTALL_FAILED;
    }
  }
  BIO_free(stream);
  return result;
}

void tls_release_static_material() {
  X509_free(g_static_certificate);
  g_static_certificate = nullptr;
  RSA_free(g_static_private_key);
  g_static_private_key = nullptr;
}

dh_st *tls_dh_new(const uint8_t *prime, size_t prime_len, uint8_t generator) {
  DH *dh = DH_new();
  if (dh == nullptr) {
    return nullptr;
  }
  BIGNUM *p = BN_bin2bn(prime, prime_len, nullptr);
  BIGNUM *g = BN_bin2bn(&generator, 1, nullptr);
  if (p == nullptr || g == nullptr || DH_set0_pqg(dh, p, nullptr, g) != 1) {
    BN_free(p);
    BN_free(g);
    DH_free(dh);
    return nullptr;
  }
  return dh;
}

void tls_dh_free(dh_st *dh) { DH_free(dh); }

int tls_dh_prime_bits(const dh_st *dh) { return static_cast<int>(DH_num_bits(dh)); }

// SSL_new refuses a null context and queues the reason.
ssl_st *tls_connection_new(ssl_ctx_st *context) { return SSL_new(context); }

void tls_connection_free(ssl_st *connection) { SSL_free(connection); }

int tls_connection_set_cipher_list(ssl_st *connection, const char *cipher_list) {
  return SSL_set_cipher_list(connection, cipher_list);
}

int tls_connection_set_fd(ssl_st *connection, int fd) { return SSL_set_fd(connection, fd); }

int tls_connect(ssl_st *connection) {
  socket_call call = {connection, nullptr, nullptr, 0};
  return platform_socket_run_without_broken_pipe(run_connect, &call);
}

int tls_read(ssl_st *connection, void *buffer, int size) {
  socket_call call = {connection, buffer, nullptr, size};
  return platform_socket_run_without_broken_pipe(run_read, &call);
}

int tls_write(ssl_st *connection, const void *data, int length) {
  socket_call call = {connection, nullptr, data, length};
  return platform_socket_run_without_broken_pipe(run_write, &call);
}

int tls_get_error(const ssl_st *connection, int result) {
  return SSL_get_error(connection, result);
}

uint32_t tls_oldest_error() { return ERR_get_error(); }

void tls_error_string(uint32_t error, char *buffer) { ERR_error_string(error, buffer); }

void tls_error_string_n(uint32_t error, char *buffer, size_t size) {
  ERR_error_string_n(error, buffer, size);
}

#endif  // TORVANE_WITH_TLS
