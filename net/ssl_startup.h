// The process-wide TLS context from which every TLS connection is made.
#ifndef TORVANE_NET_SSL_STARTUP_H
#define TORVANE_NET_SSL_STARTUP_H

#include "net/tls_library.h"

// The cipher list of the context and of every connection.
extern const char QARN_SSL_CIPHER_LIST[];

// Certificates and keys a process may give its context. Each list is a
// null-terminated array of file names, or null for none; each text is PEM,
// or null. The system itself leaves all of them empty.
struct qarn_ssl_server_material {
  const char *const *verify_chain_files;        // trusted certificate chains
  const char *const *extra_verify_chain_files;  // further trusted chains
  const char *const *certificate_chain_files;   // the server's own chain
  const char *const *private_key_files;         // RSA keys, PEM
  const char *static_certificate;               // one certificate, PEM text
  const char *static_private_key;               // one RSA key, PEM text
};

// qarn_set_ssl_server_material makes |material| (not copied; null for
// none) part of the next init_ssl that does its work.
void qarn_set_ssl_server_material(const qarn_ssl_server_material *material);

// qarn_set_ssl_pre_init_hook installs |hook| (null for none), called by
// init_ssl once the cipher list is set and before anything else is
// configured.
void qarn_set_ssl_pre_init_hook(void (*hook)());

// init_ssl creates the TLS context once per process. Returns 1 when the
// context is ready or when start-up already ran (even if that first run
// failed); 0 when this call failed, after a report and the library's error
// text. A failed start-up is not tried again. A build without TLS makes no
// context and says nothing: it returns 1, and every connection that asks
// for TLS reports that TLS is not built in.
int init_ssl();

// qarn_ssl_context returns the context, or null when none was made. The
// context stays owned by the start-up.
ssl_ctx_st *qarn_ssl_context();

// qarn_release_ssl_context frees the context and the static certificate and
// key and marks start-up as not done, so that a later init_ssl makes a new
// context. Connections made from the old context must be gone. The
// library's one-time initialisation is not repeated.
void qarn_release_ssl_context();

#endif
