// Test certificates: a throw-away CA and a server certificate signed by it.
#include "DevService.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tralix::dev {
namespace {

constexpr long kValiditySeconds = 30L * 24 * 3600;
constexpr long kBackdateSeconds = 3600;

template <typename T, void (*Free)(T *)>
struct Owned {
  explicit Owned(T *value) : pointer(value) {
    if (pointer == nullptr) throw std::runtime_error("OpenSSL allocation failed");
  }
  ~Owned() { Free(pointer); }
  Owned(const Owned &) = delete;
  Owned &operator=(const Owned &) = delete;
  T *get() const { return pointer; }
  T *pointer;
};
using OwnedKey = Owned<EVP_PKEY, EVP_PKEY_free>;
using OwnedCert = Owned<X509, X509_free>;
using OwnedBio = Owned<BIO, BIO_free_all>;

void Require(bool ok, const char *what) {
  if (!ok) throw std::runtime_error(std::string("certificate generation: ") + what);
}

bool IsIpLiteral(const std::string &name) {
  unsigned char address[16];
  return inet_pton(AF_INET, name.c_str(), address) == 1 || inet_pton(AF_INET6, name.c_str(), address) == 1;
}

void AddExtension(X509 *certificate, X509 *issuer, int nid, const std::string &value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  Require(extension != nullptr, "extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

X509 *NewCertificate(EVP_PKEY *subjectKey, const std::string &commonName) {
  X509 *certificate = X509_new();
  Require(certificate != nullptr, "X509_new");
  X509_set_version(certificate, 2);
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7F;
  BIGNUM *serialNumber = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(serialNumber, X509_get_serialNumber(certificate));
  BN_free(serialNumber);
  X509_gmtime_adj(X509_getm_notBefore(certificate), -kBackdateSeconds);
  X509_gmtime_adj(X509_getm_notAfter(certificate), kValiditySeconds);
  X509_set_pubkey(certificate, subjectKey);
  X509_NAME *name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Tralix test"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(commonName.c_str()), -1,
                             -1, 0);
  return certificate;
}

std::string CertificatePem(X509 *certificate) {
  OwnedBio bio(BIO_new(BIO_s_mem()));
  Require(PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM certificate");
  char *data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::string PrivateKeyPem(EVP_PKEY *key) {
  OwnedBio bio(BIO_new(BIO_s_mem()));
  Require(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "PEM key");
  char *data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::string ReadFile(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}


// A server certificate for `names`, signed by `ca` with `caKey`.
std::string SignedServerCertificate(EVP_PKEY *serverKey, X509 *ca, EVP_PKEY *caKey, const std::vector<std::string> &names) {
  Require(!names.empty(), "no names");
  OwnedCert server(NewCertificate(serverKey, names.front()));
  X509_set_issuer_name(server.get(), X509_get_subject_name(ca));
  std::string alternativeNames;
  for (const std::string &name : names) {
    if (!alternativeNames.empty()) alternativeNames += ',';
    alternativeNames += (IsIpLiteral(name) ? "IP:" : "DNS:") + name;
  }
  AddExtension(server.get(), ca, NID_subject_alt_name, alternativeNames);
  AddExtension(server.get(), ca, NID_basic_constraints, "critical,CA:FALSE");
  bool rsa = EVP_PKEY_is_a(serverKey, "RSA") == 1;
  AddExtension(server.get(), ca, NID_key_usage, rsa ? "critical,digitalSignature,keyEncipherment" : "critical,digitalSignature");
  AddExtension(server.get(), ca, NID_ext_key_usage, "serverAuth");
  AddExtension(server.get(), ca, NID_authority_key_identifier, "keyid");
  Require(X509_sign(server.get(), caKey, EVP_sha256()) > 0, "sign server certificate");
  return CertificatePem(server.get());
}

}  // namespace

TlsIdentity GenerateTlsIdentity(const std::vector<std::string> &names) {
  Require(!names.empty(), "no names");
  OwnedKey caKey(EVP_EC_gen("P-256"));
  OwnedCert ca(NewCertificate(caKey.get(), "Tralix test CA"));
  X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
  AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
  Require(X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0, "sign CA");

  OwnedKey serverKey(EVP_EC_gen("P-256"));
  std::string server = SignedServerCertificate(serverKey.get(), ca.get(), caKey.get(), names);
  return {server, PrivateKeyPem(serverKey.get()), CertificatePem(ca.get())};
}

TlsIdentity IssueTlsIdentity(const std::string &caCertificatePem, const std::string &caPrivateKeyPem,
                             const std::vector<std::string> &names, bool rsaKey) {
  OwnedBio caText(BIO_new_mem_buf(caCertificatePem.data(), static_cast<int>(caCertificatePem.size())));
  OwnedCert ca(PEM_read_bio_X509(caText.get(), nullptr, nullptr, nullptr));
  OwnedBio keyText(BIO_new_mem_buf(caPrivateKeyPem.data(), static_cast<int>(caPrivateKeyPem.size())));
  OwnedKey caKey(PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr));
  OwnedKey serverKey(rsaKey ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256"));
  std::string server = SignedServerCertificate(serverKey.get(), ca.get(), caKey.get(), names);
  return {server, PrivateKeyPem(serverKey.get()), caCertificatePem};
}

TlsIdentity LoadTlsIdentity(const std::string &certificateFile, const std::string &privateKeyFile,
                            const std::string &caFile) {
  return {ReadFile(certificateFile), ReadFile(privateKeyFile), caFile.empty() ? std::string() : ReadFile(caFile)};
}

}  // namespace tralix::dev
