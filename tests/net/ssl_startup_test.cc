#include "net/ssl_startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "net/dh_parameters.h"
#include "net/tcp_socket.h"
#include "support/diagnostics.h"
#include "tests/common/scratch_directory.h"
#include "tests/net/loopback_peer.h"
#include "tests/net/tcp_socket_io.h"
#include "tests/net/tls_identity.h"

#ifdef TORVANE_WITH_TLS
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#include <openssl/bn.h>
#include <openssl/dh.h>
#pragma GCC diagnostic pop
#endif

namespace {

int g_hook_calls = 0;
void count_hook_call() { ++g_hook_calls; }

class SslStartupTest : public testing::Test {
 protected:
  void SetUp() override {
    qarn_set_diagnostic_mask(QARN_MASK_NONE);
    qarn_release_ssl_context();
    qarn_set_ssl_server_material(nullptr);
    qarn_set_ssl_pre_init_hook(count_hook_call);
    g_hook_calls = 0;
  }
  void TearDown() override {
    qarn_set_ssl_pre_init_hook(nullptr);
    qarn_set_ssl_server_material(nullptr);
    qarn_release_ssl_context();
  }

  // run_init_ssl runs init_ssl and keeps what it printed in |output_|.
  int run_init_ssl() {
    testing::internal::CaptureStdout();
    int result = init_ssl();
    output_ = testing::internal::GetCapturedStdout();
    return result;
  }

  std::string first_line() const { return output_.substr(0, output_.find('\n') + 1); }
  long line_count() const { return std::count(output_.begin(), output_.end(), '\n'); }

  std::string output_;
};

#ifdef TORVANE_WITH_TLS

TEST_F(SslStartupTest, SecondCallDoesNotCallTheLibraryAgain) {
  EXPECT_EQ(1, run_init_ssl());
  EXPECT_EQ("", output_);
  EXPECT_EQ(1, g_hook_calls);
  ssl_ctx_st *context = qarn_ssl_context();
  ASSERT_NE(nullptr, context);

  EXPECT_EQ(1, run_init_ssl());
  EXPECT_EQ("", output_);
  EXPECT_EQ(1, g_hook_calls);
  EXPECT_EQ(context, qarn_ssl_context());
}

TEST_F(SslStartupTest, CallAfterAFailedCallReturnsOneWithoutWork) {
  const char *const missing[] = {"/nonexistent/torvane/chain.pem", nullptr};
  qarn_ssl_server_material material = {};
  material.verify_chain_files = missing;
  qarn_set_ssl_server_material(&material);

  EXPECT_EQ(0, run_init_ssl());
  EXPECT_EQ(2, line_count());
  EXPECT_EQ(1, g_hook_calls);

  EXPECT_EQ(1, run_init_ssl());
  EXPECT_EQ("", output_);
  EXPECT_EQ(1, g_hook_calls);
}

TEST_F(SslStartupTest, ServerMaterialFromFilesAndTextsLoads) {
  const tls_identity &identity = test_identity();
  scratch_directory scratch;
  std::string certificate = scratch.write_file("certificate.pem", identity.certificate_pem);
  std::string key = scratch.write_file("key.pem", identity.private_key_pem);
  const char *const certificates[] = {certificate.c_str(), certificate.c_str(), nullptr};
  const char *const keys[] = {key.c_str(), nullptr};
  qarn_ssl_server_material material = {certificates, certificates, certificates, keys,
                                       identity.certificate_pem.c_str(),
                                       identity.private_key_pem.c_str()};
  qarn_set_ssl_server_material(&material);
  EXPECT_EQ(1, run_init_ssl());
  EXPECT_EQ("", output_);
}

enum material_slot { kVerify, kExtraVerify, kChain, kKey };

struct file_failure_case {
  material_slot slot;
  const char *format;
};

TEST_F(SslStartupTest, EachMaterialFileListNamesItsFailure) {
  const file_failure_case cases[] = {
      {kVerify, "Error in init_ssl(), unable to load server certificate chain from file '%s'."},
      {kExtraVerify,
       "Error in init_ssl(), unable to load server extra certificate chain from file '%s'."},
      {kChain, "Error in init_ssl(), unable to load server certificate from file '%s'."},
      {kKey, "Error in init_ssl(), unable to load server private key from file '%s'."},
  };
  const char *const missing[] = {"/nonexistent/torvane/material.pem", nullptr};
  for (const file_failure_case &c : cases) {
    qarn_release_ssl_context();
    qarn_ssl_server_material material = {};
    const char *const **slots[] = {&material.verify_chain_files,
                                   &material.extra_verify_chain_files,
                                   &material.certificate_chain_files, &material.private_key_files};
    *slots[c.slot] = missing;
    qarn_set_ssl_server_material(&material);
    EXPECT_EQ(0, run_init_ssl()) << c.format;
    char expected[512];
    std::snprintf(expected, sizeof(expected), c.format, missing[0]);
    EXPECT_EQ(std::string(expected) + "\n", first_line());
    EXPECT_EQ(2, line_count()) << "headline and the library's error line";
  }
}

struct static_failure_case {
  const char *certificate;
  const char *key;
  const char *headline;
};

TEST_F(SslStartupTest, StaticCertificateAndKeyFailuresAreNamed) {
  const tls_identity &identity = test_identity();
  const tls_identity &other = other_test_identity();
  const static_failure_case cases[] = {
      {"not a certificate", nullptr, "Unable to read static certificate.\n"},
      {nullptr, "not a key", "Unable to read static private key.\n"},
      {identity.certificate_pem.c_str(), other.private_key_pem.c_str(),
       "Unable to load static private key.\n"},
  };
  for (const static_failure_case &c : cases) {
    qarn_release_ssl_context();
    qarn_ssl_server_material material = {};
    material.static_certificate = c.certificate;
    material.static_private_key = c.key;
    qarn_set_ssl_server_material(&material);
    EXPECT_EQ(0, run_init_ssl()) << c.headline;
    EXPECT_EQ(c.headline, first_line());
    EXPECT_EQ(2, line_count());
  }
}

TEST_F(SslStartupTest, StartupMessagesAreResourceFailures) {
  const char *const missing[] = {"/nonexistent/torvane/chain.pem", nullptr};
  qarn_ssl_server_material material = {};
  material.verify_chain_files = missing;
  qarn_set_ssl_server_material(&material);
  qarn_set_diagnostic_mask(QARN_DIAG_RESOURCE);
  EXPECT_EQ(0, run_init_ssl());
  EXPECT_EQ("", output_);
}

#else  // !TORVANE_WITH_TLS

constexpr int kConnectTimeoutMs = 5000;

// The launcher never asks for TLS: a build without it starts up in silence,
// under every mask, and makes no context.
TEST_F(SslStartupTest, WithoutTlsStartupSaysNothing) {
  for (int32_t mask : {QARN_MASK_NONE, QARN_MASK_QUIET}) {
    qarn_release_ssl_context();
    qarn_set_diagnostic_mask(mask);
    EXPECT_EQ(1, run_init_ssl()) << mask;
    EXPECT_EQ("", output_) << mask;
    EXPECT_EQ(nullptr, qarn_ssl_context());
    EXPECT_EQ(0, g_hook_calls);

    EXPECT_EQ(1, run_init_ssl()) << mask;
    EXPECT_EQ("", output_) << mask;
  }
}

// A connection that asks for TLS is told that there is none, even under the
// launcher's quiet mask; the TCP connection stands without a TLS object.
TEST_F(SslStartupTest, WithoutTlsAConnectionThatAsksForTlsReportsIt) {
  ASSERT_EQ(1, run_init_ssl());
  loopback_listener listener(1);
  ASSERT_TRUE(listener.is_listening());
  qarn_tcp_socket socket;
  ASSERT_EQ(1, socket.enable_ssl());
  qarn_set_diagnostic_mask(QARN_MASK_QUIET);
  testing::internal::CaptureStdout();
  int result = connect_to_loopback(socket, listener.port(), kConnectTimeoutMs);
  std::string output = testing::internal::GetCapturedStdout();
  socket.close();
  EXPECT_EQ(QARN_CONNECT_NO_TLS_OBJECT, result);
  EXPECT_EQ("Error in qarn_tcp_socket::ssl_try_connect(), TLS support is not built into this program.\n",
            output);
}

#endif  // TORVANE_WITH_TLS

// ---------------------------------------------------------------------------
// Temporary DH parameters

struct dh_case {
  int key_length;
  int is_export;
  const char *warnings;  // printed on every call
  bool has_group;
};

const dh_case kDhCases[] = {
    {2048, 0, "", true},
    {768, 0, "Warning in get_tmp_dh_callback(), requested short key length  768, export 0.\n",
     true},
    {512, 1,
     "Warning in get_tmp_dh_callback(), requested short key length  512, export 1.\n"
     "Warning in get_tmp_dh_callback(), unsupported key length  512, export 1.\n",
     false},
    {1000, 0,
     "Warning in get_tmp_dh_callback(), requested short key length 1000, export 0.\n"
     "Warning in get_tmp_dh_callback(), unsupported key length 1000, export 0.\n",
     false},
    {8192, 0, "Warning in get_tmp_dh_callback(), unsupported key length 8192, export 0.\n",
     false},
    {1024, 0, "", true},
    {1536, 0, "", true},
    {3072, 0, "", true},
    {4096, 0, "", true},
};

#ifdef TORVANE_WITH_TLS
constexpr bool kGroupsAvailable = true;
#else
constexpr bool kGroupsAvailable = false;
#endif

TEST(DhParametersTest, KeyLengthTable) {
  qarn_set_diagnostic_mask(QARN_MASK_NONE);
  for (const dh_case &c : kDhCases) {
    dh_st *first = nullptr;
    for (int call = 0; call < 2; ++call) {
      testing::internal::CaptureStdout();
      dh_st *dh = get_tmp_dh_callback(nullptr, c.is_export, c.key_length);
      EXPECT_EQ(c.warnings, testing::internal::GetCapturedStdout()) << c.key_length;
      if (!(c.has_group && kGroupsAvailable)) {
        EXPECT_EQ(nullptr, dh) << c.key_length;
        continue;
      }
      ASSERT_NE(nullptr, dh) << c.key_length;
      EXPECT_EQ(c.key_length, tls_dh_prime_bits(dh));
      if (call == 0) {
        first = dh;
      } else {
        EXPECT_EQ(first, dh) << "cached: " << c.key_length;
      }
    }
  }
}

TEST(DhParametersTest, WarningCategories) {
  qarn_set_diagnostic_mask(QARN_DIAG_CONNECTION);
  testing::internal::CaptureStdout();
  get_tmp_dh_callback(nullptr, 0, 512);
  EXPECT_EQ("Warning in get_tmp_dh_callback(), unsupported key length  512, export 0.\n",
            testing::internal::GetCapturedStdout());
  qarn_set_diagnostic_mask(QARN_DIAG_PROTOCOL);
  testing::internal::CaptureStdout();
  get_tmp_dh_callback(nullptr, 0, 512);
  EXPECT_EQ("Warning in get_tmp_dh_callback(), requested short key length  512, export 0.\n",
            testing::internal::GetCapturedStdout());
  qarn_set_diagnostic_mask(QARN_MASK_NONE);
}

#ifdef TORVANE_WITH_TLS
TEST(DhParametersTest, GroupsAreSafePrimesWithGeneratorTwo) {
  bssl::UniquePtr<BN_CTX> bn_context(BN_CTX_new());
  qarn_set_diagnostic_mask(QARN_DIAG_CONNECTION);  // the 768-bit warning
  for (int bits : {768, 1024, 1536, 2048, 3072, 4096}) {
    const DH *dh = get_tmp_dh_callback(nullptr, 0, bits);
    ASSERT_NE(nullptr, dh);
    EXPECT_EQ(QARN_DH_GENERATOR, BN_get_word(DH_get0_g(dh)));
    const BIGNUM *p = DH_get0_p(dh);
    int is_prime = 0;
    ASSERT_EQ(1, BN_primality_test(&is_prime, p, BN_prime_checks_for_generation,
                                   bn_context.get(), 0, nullptr));
    EXPECT_EQ(1, is_prime) << bits;
    bssl::UniquePtr<BIGNUM> q(BN_dup(p));
    BN_rshift1(q.get(), q.get());
    ASSERT_EQ(1, BN_primality_test(&is_prime, q.get(), BN_prime_checks_for_generation,
                                   bn_context.get(), 0, nullptr));
    EXPECT_EQ(1, is_prime) << "(p - 1) / 2 for " << bits;
  }
  // The library carries the 1536-bit group of the same family.
  bssl::UniquePtr<BIGNUM> published(BN_get_rfc3526_prime_1536(nullptr));
  EXPECT_EQ(0, BN_cmp(published.get(), DH_get0_p(get_tmp_dh_callback(nullptr, 0, 1536))));
  qarn_set_diagnostic_mask(QARN_MASK_NONE);
}
#endif

}  // namespace
