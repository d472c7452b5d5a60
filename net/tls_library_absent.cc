// The TLS seam of a build without a TLS library: it answers like a library
// whose context cannot be made, so every TLS connection stops before its
// handshake while plain TCP is untouched.
#ifndef TORVANE_WITH_TLS

#include <cstdio>

#include "net/tls_library.h"

namespace {

// The reason given wherever the library would name its oldest error.
const char kNoTlsText[] = "TLS support is not built into this program";

// A method exists, so the start-up gets as far as making the context.
const ssl_method_st *const kNoMethod = reinterpret_cast<const ssl_method_st *>(&kNoTlsText);

}  // namespace

int tls_library_present() { return 0; }

void tls_library_init() {}

const ssl_method_st *tls_version_flexible_method() { return kNoMethod; }

ssl_ctx_st *tls_context_new(const ssl_method_st *) { return nullptr; }

void tls_context_free(ssl_ctx_st *) {}

int tls_context_set_cipher_list(ssl_ctx_st *, const char *) { return 0; }

void tls_context_set_tmp_dh_callback(ssl_ctx_st *, qarn_tmp_dh_callback) {}

int tls_context_load_verify_file(ssl_ctx_st *, const char *) { return 0; }

int tls_context_use_certificate_chain_file(ssl_ctx_st *, const char *) { return 0; }

int tls_context_use_rsa_private_key_pem_file(ssl_ctx_st *, const char *) { return 0; }

qarn_tls_pem_result tls_context_use_certificate_pem(ssl_ctx_st *, const char *) {
  return QARN_TLS_PEM_READ_FAILED;
}

qarn_tls_pem_result tls_context_use_rsa_private_key_pem(ssl_ctx_st *, const char *) {
  return QARN_TLS_PEM_READ_FAILED;
}

void tls_release_static_material() {}

dh_st *tls_dh_new(const uint8_t *, size_t, uint8_t) { return nullptr; }

void tls_dh_free(dh_st *) {}

int tls_dh_prime_bits(const dh_st *) { return 0; }

ssl_st *tls_connection_new(ssl_ctx_st *) { return nullptr; }

void tls_connection_free(ssl_st *) {}

int tls_connection_set_cipher_list(ssl_st *, const char *) { return 0; }

int tls_connection_set_fd(ssl_st *, int) { return 0; }

int tls_connect(ssl_st *) { return -1; }

int tls_read(ssl_st *, void *, int) { return -1; }

int tls_write(ssl_st *, const void *, int) { return -1; }

int tls_get_error(const ssl_st *, int) { return QARN_TLS_ERROR_SSL; }

uint32_t tls_oldest_error() { return 0; }

void tls_error_string(uint32_t, char *buffer) {
  std::snprintf(buffer, QARN_TLS_ERROR_STRING_MIN, "%s", kNoTlsText);
}

void tls_error_string_n(uint32_t, char *buffer, size_t size) {
  if (size > 0) {
    std::snprintf(buffer, size, "%s", kNoTlsText);
  }
}

#endif  // !TORVANE_WITH_TLS
