// A throw-away TLS server identity for the tests: an RSA key and a
// self-signed certificate for 127.0.0.1, made in memory with BoringSSL.
#ifndef TORVANE_TESTS_NET_TLS_IDENTITY_H
#define TORVANE_TESTS_NET_TLS_IDENTITY_H

#ifdef TORVANE_WITH_TLS

#include <string>

#include "net/tls_library.h"

struct tls_identity {
  std::string certificate_pem;
  std::string private_key_pem;  // "BEGIN RSA PRIVATE KEY"
};

// test_identity returns the process's test identity, made on first use.
const tls_identity &test_identity();

// other_test_identity returns a second identity whose key does not match
// the first one's certificate.
const tls_identity &other_test_identity();

// new_server_context returns a server context that presents
// test_identity(); the caller frees it with tls_context_free.
ssl_ctx_st *new_server_context();

#endif  // TORVANE_WITH_TLS
#endif
