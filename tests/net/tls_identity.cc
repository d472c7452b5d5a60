#ifdef TORVANE_WITH_TLS

#include "tests/net/tls_identity.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#pragma GCC diagnostic pop

namespace {

constexpr int kKeyBits = 2048;
constexpr long kValiditySeconds = 24 * 3600;

std::string bio_text(BIO *bio) {
  const uint8_t *contents = nullptr;
  size_t length = 0;
  BIO_mem_contents(bio, &contents, &length);
  return std::string(reinterpret_cast<const char *>(contents), length);
}

tls_identity make_identity() {
  tls_identity identity;
  bssl::UniquePtr<RSA> rsa(RSA_new());
  bssl::UniquePtr<BIGNUM> exponent(BN_new());
  BN_set_word(exponent.get(), RSA_F4);
  RSA_generate_key_ex(rsa.get(), kKeyBits, exponent.get(), nullptr);
  bssl::UniquePtr<EVP_PKEY> key(EVP_PKEY_new());
  EVP_PKEY_set1_RSA(key.get(), rsa.get());

  bssl::UniquePtr<X509> certificate(X509_new());
  X509_set_version(certificate.get(), X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kValiditySeconds);
  X509_NAME *name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const uint8_t *>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(certificate.get(), name);
  X509_set_pubkey(certificate.get(), key.get());
  X509_sign(certificate.get(), key.get(), EVP_sha256());

  bssl::UniquePtr<BIO> certificate_bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509(certificate_bio.get(), certificate.get());
  identity.certificate_pem = bio_text(certificate_bio.get());
  bssl::UniquePtr<BIO> key_bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_RSAPrivateKey(key_bio.get(), rsa.get(), nullptr, nullptr, 0, nullptr, nullptr);
  identity.private_key_pem = bio_text(key_bio.get());
  return identity;
}

}  // namespace

const tls_identity &test_identity() {
  static const tls_identity identity = make_identity();
  return identity;
}

const tls_identity &other_test_identity() {
  static const tls_identity identity = make_identity();
  return identity;
}

ssl_ctx_st *new_server_context() {
  SSL_CTX *context = SSL_CTX_new(TLS_method());
  const tls_identity &identity = test_identity();
  bssl::UniquePtr<BIO> certificate_bio(BIO_new_mem_buf(
      identity.certificate_pem.data(), static_cast<int>(identity.certificate_pem.size())));
  bssl::UniquePtr<X509> certificate(
      PEM_read_bio_X509(certificate_bio.get(), nullptr, nullptr, nullptr));
  bssl::UniquePtr<BIO> key_bio(BIO_new_mem_buf(identity.private_key_pem.data(),
                                               static_cast<int>(identity.private_key_pem.size())));
  bssl::UniquePtr<RSA> rsa(PEM_read_bio_RSAPrivateKey(key_bio.get(), nullptr, nullptr, nullptr));
  SSL_CTX_use_certificate(context, certificate.get());
  SSL_CTX_use_RSAPrivateKey(context, rsa.get());
  return context;
}

#endif  // TORVANE_WITH_TLS
