#include "base/tls_identity.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <utility>

namespace corvenza::emulator {
namespace {

struct Free {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(X509* certificate) const { X509_free(certificate); }
  void operator()(BIO* bio) const { BIO_free(bio); }
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Certificate = std::unique_ptr<X509, Free>;

Error tlsError(const std::string& what) {
  return Error("CorvenzaEmulatorError", 1, std::nullopt, "cannot make the TLS identity: " + what);
}

bool addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, Free> extension(
      X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// A certificate for @p name with @p key, signed by @p issuer (itself when null).
Certificate makeCertificate(const char* name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                            bool authority) {
  Certificate certificate(X509_new());
  if (!certificate) return nullptr;
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
  serial[0] &= 0x7f;  // a positive number
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  const bool serialSet =
      number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
  BN_free(number);
  if (!serialSet) return nullptr;
  X509_set_version(certificate.get(), 2);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 30L * 24 * 3600);
  X509_NAME* subject = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  X509* signer = issuer ? issuer : certificate.get();
  X509_set_issuer_name(certificate.get(), X509_get_subject_name(signer));
  X509_set_pubkey(certificate.get(), key);
  const bool extended =
      authority
          ? addExtension(certificate.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
                addExtension(certificate.get(), signer, NID_key_usage,
                             "critical,keyCertSign,cRLSign")
          : addExtension(certificate.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
                addExtension(certificate.get(), signer, NID_ext_key_usage, "serverAuth") &&
                addExtension(certificate.get(), signer, NID_subject_alt_name,
                             "IP:127.0.0.1,IP:::1,DNS:localhost");
  if (!extended) return nullptr;
  if (X509_sign(certificate.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0) return nullptr;
  return certificate;
}

template <typename Write>
std::string pem(Write write) {
  std::unique_ptr<BIO, Free> bio(BIO_new(BIO_s_mem()));
  if (!bio || write(bio.get()) != 1) return {};
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

}  // namespace

detail::Result<TlsIdentity> makeLoopbackTlsIdentity() {
  Key caKey(EVP_EC_gen("P-256"));
  Key serverKey(EVP_EC_gen("P-256"));
  if (!caKey || !serverKey) return tlsError("no key");
  auto ca = makeCertificate("corvenza-emulator CA", caKey.get(), nullptr, nullptr, true);
  if (!ca) return tlsError("no CA certificate");
  auto server = makeCertificate("127.0.0.1", serverKey.get(), ca.get(), caKey.get(), false);
  if (!server) return tlsError("no server certificate");
  TlsIdentity identity;
  identity.caCertificatePem = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, ca.get()); });
  identity.certificatePem = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, server.get()); });
  identity.privateKeyPem = pem([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  if (identity.caCertificatePem.empty() || identity.certificatePem.empty() ||
      identity.privateKeyPem.empty()) {
    return tlsError("cannot write PEM");
  }
  return identity;
}

}  // namespace corvenza::emulator
