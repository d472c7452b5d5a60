#include "net/ssl_startup.h"

#include <cstdio>

#include "net/dh_parameters.h"
#include "support/diagnostics.h"

const char QARN_SSL_CIPHER_LIST[] = "HIGH:@STRENGTH:!aNULL";

namespace {

int g_startup_done = 0;
int g_library_initialised = 0;
ssl_ctx_st *g_context = nullptr;
void (*g_pre_init_hook)() = nullptr;
const qarn_ssl_server_material *g_material = nullptr;

// Every start-up message is formatted into a buffer of this size.
constexpr int kMessageBufferSize = 2048;
static_assert(kMessageBufferSize >= static_cast<int>(QARN_TLS_ERROR_STRING_MIN),
              "the library's error text fits");

// fail reports |message|, then the text of the library's oldest error on a
// second line, and gives the failed result.
int fail(const char *message) {
  qarn_diagnostic(message, QARN_DIAG_RESOURCE, QARN_MODULE_TLS);
  char library_text[kMessageBufferSize];
  tls_error_string(tls_oldest_error(), library_text);
  qarn_diagnostic(library_text, QARN_DIAG_RESOURCE, QARN_MODULE_TLS);
  return 0;
}

// fail_with_file is fail with |file| put into |format|.
int fail_with_file(const char *format, const char *file) {
  char message[kMessageBufferSize];
  std::snprintf(message, sizeof(message), format, file);
  return fail(message);
}

typedef int (*file_loader)(ssl_ctx_st *context, const char *file);

// load_files feeds each file of the null-terminated |files| to |load|;
// the first refusal fails with |format|.
int load_files(const char *const *files, file_loader load, const char *format) {
  for (; files != nullptr && *files != nullptr; ++files) {
    if (load(g_context, *files) != 1) {
      return fail_with_file(format, *files);
    }
  }
  return 1;
}

int load_server_files(const qarn_ssl_server_material &material) {
  return load_files(material.verify_chain_files, tls_context_load_verify_file,
                    "Error in init_ssl(), unable to load server certificate chain from file "
                    "'%s'.") &&
         load_files(material.extra_verify_chain_files, tls_context_load_verify_file,
                    "Error in init_ssl(), unable to load server extra certificate chain from "
                    "file '%s'.") &&
         load_files(material.certificate_chain_files, tls_context_use_certificate_chain_file,
                    "Error in init_ssl(), unable to load server certificate from file '%s'.") &&
         load_files(material.private_key_files, tls_context_use_rsa_private_key_pem_file,
                    "Error in init_ssl(), unable to load server private key from file '%s'.");
}

// install_pem installs one optional PEM text; |read_message| and
// |install_message| name the two ways it can fail.
int install_pem(const char *pem, qarn_tls_pem_result (*install)(ssl_ctx_st *, const char *),
                const char *read_message, const char *install_message) {
  if (pem == nullptr) {
    return 1;
  }
  switch (install(g_context, pem)) {
    case QARN_TLS_PEM_INSTALLED:
      return 1;
    case QARN_TLS_PEM_READ_FAILED:
      return fail(read_message);
    case QARN_TLS_PEM_INSTALL_FAILED:
    default:
      return fail(install_message);
  }
}

int install_server_material(const qarn_ssl_server_material &material) {
  return load_server_files(material) &&
         install_pem(material.static_certificate, tls_context_use_certificate_pem,
                     "Unable to read static certificate.", "Unable to load static certificate.") &&
         install_pem(material.static_private_key, tls_context_use_rsa_private_key_pem,
                     "Unable to read static private key.", "Unable to load static private key.");
}

}  // namespace

void qarn_set_ssl_server_material(const qarn_ssl_server_material *material) {
  g_material = material;
}

void qarn_set_ssl_pre_init_hook(void (*hook)()) { g_pre_init_hook = hook; }

int init_ssl() {
  if (g_startup_done) {
    return 1;
  }
  g_startup_done = 1;
  if (!g_library_initialised) {
    g_library_initialised = 1;
    tls_library_init();
  }
  // A build without TLS has no context to make. The launcher never asks for
  // TLS, so its players must not be told at every start; a connection that
  // asks for TLS says it (qarn_tcp_socket::ssl_try_connect).
  if (!tls_library_present()) {
    return 1;
  }
  const ssl_method_st *method = tls_version_flexible_method();
  if (method == nullptr) {
    return fail("Error in init_ssl(), unable to allocate method?");
  }
  g_context = tls_context_new(method);
  if (g_context == nullptr) {
    return fail("Error in init_ssl(), unable to allocate context?");
  }
  if (!tls_context_set_cipher_list(g_context, QARN_SSL_CIPHER_LIST)) {
    return fail("Error in init_ssl(), unable to set cipher suite?");
  }
  if (g_pre_init_hook != nullptr) {
    g_pre_init_hook();
  }
  // BoringSSL ignores this registration; the groups are offered for
  // libraries that ask.
  tls_context_set_tmp_dh_callback(g_context, get_tmp_dh_callback);
  if (g_material != nullptr && !install_server_material(*g_material)) {
    return 0;
  }
  return 1;
}

ssl_ctx_st *qarn_ssl_context() { return g_context; }

void qarn_release_ssl_context() {
  tls_context_free(g_context);
  g_context = nullptr;
  tls_release_static_material();
  g_startup_done = 0;
}
