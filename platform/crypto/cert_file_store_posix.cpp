#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/base/last_error.h"
#include "platform/base/win_status.h"
#include "platform/crypto/cert_file_store.h"
#include "platform/crypto/crypto_library.h"
#include "platform/crypto/detail/handles.h"
#include "platform/os/file_io.h"

namespace platform {
namespace {

void FreePkcs7Stack(STACK_OF(PKCS7) * stack) { sk_PKCS7_pop_free(stack, PKCS7_free); }
void FreeSafeBagStack(STACK_OF(PKCS12_SAFEBAG) * stack) {
  sk_PKCS12_SAFEBAG_pop_free(stack, PKCS12_SAFEBAG_free);
}
using Pkcs12Ptr = std::unique_ptr<PKCS12, detail::FreeWith<PKCS12_free>>;
using Pkcs7StackPtr = std::unique_ptr<STACK_OF(PKCS7), detail::FreeWith<FreePkcs7Stack>>;
using SafeBagStackPtr =
    std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), detail::FreeWith<FreeSafeBagStack>>;

void AddX509(X509* x509, CertCollection& out) {
  if (CertContextPtr cert = detail::ImportX509(x509)) out.push_back(std::move(cert));
}

bool AddCertificate(std::span<const uint8_t> der, CertCollection& out) {
  CertContextPtr cert = CertContext::Create(der);
  if (!cert) return false;
  out.push_back(std::move(cert));
  return true;
}

// ReadSignedData appends the certificates of the CMS SignedData `der`; false when it is not one.
bool ReadSignedData(std::span<const uint8_t> der, CertCollection& out) {
  const unsigned char* p = der.data();
  const detail::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
  if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) return false;
  const detail::X509StackPtr certs(CMS_get1_certs(cms.get()));  // null when there are none
  for (int i = 0; i < sk_X509_num(certs.get()); ++i) AddX509(sk_X509_value(certs.get(), i), out);
  return true;
}

// ReadPkcs12 appends the certificate bags of the PKCS #12 file `der`, which must have been written
// without a password; false when it is not such a file.
bool ReadPkcs12(std::span<const uint8_t> der, CertCollection& out) {
  const unsigned char* p = der.data();
  const Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(der.size())));
  if (!p12) return false;
  // "No password" is written two ways: as the empty string, which PKCS #12 encodes as a BMP
  // terminator, or as no bytes at all. The MAC tells which one a file used.
  const char* password = "";
  if (PKCS12_mac_present(p12.get()) && PKCS12_verify_mac(p12.get(), "", 0) != 1) {
    if (PKCS12_verify_mac(p12.get(), nullptr, 0) != 1) return false;  // a real password
    password = nullptr;
  }
  const Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12.get()));
  if (!safes) return false;
  CertCollection found;
  for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
    PKCS7* safe = sk_PKCS7_value(safes.get(), i);
    SafeBagStackPtr bags;
    if (PKCS7_type_is_data(safe)) {
      bags.reset(PKCS12_unpack_p7data(safe));
    } else if (PKCS7_type_is_encrypted(safe)) {
      bags.reset(PKCS12_unpack_p7encdata(safe, password, 0));
    }
    if (!bags) return false;
    for (int j = 0; j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
      const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), j);
      if (PKCS12_SAFEBAG_get_nid(bag) != NID_certBag ||
          PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) {
        continue;  // keys and anything else stay behind
      }
      const detail::X509Ptr x509(PKCS12_SAFEBAG_get1_cert(bag));
      if (x509) AddX509(x509.get(), found);
    }
  }
  out.insert(out.end(), found.begin(), found.end());
  return true;
}

// ReadPem appends the certificates of every certificate and SignedData block of the PEM text
// `bytes`; false when it holds neither.
bool ReadPem(std::span<const uint8_t> bytes, CertCollection& out) {
  const detail::BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  bool read = false;
  for (;;) {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;
    if (!bio || PEM_read_bio(bio.get(), &name, &header, &data, &length) != 1) break;
    const detail::OpenSslStringPtr nameOwner(name), headerOwner(header);
    const detail::OpenSslBytesPtr dataOwner(data);
    const std::span<const uint8_t> der(data, static_cast<size_t>(length));
    const std::string_view type(name);
    if (type == "CERTIFICATE" || type == "X509 CERTIFICATE" || type == "TRUSTED CERTIFICATE") {
      read = AddCertificate(der, out) || read;  // a trusted certificate's trailer is not kept
    } else if (type == "PKCS7" || type == "CMS") {
      read = ReadSignedData(der, out) || read;
    }
  }
  return read;
}

}  // namespace

std::unique_ptr<CertCollection> CertOpenFileStore(const std::string& path) {
  EnsureCryptoLibrary();
  const UniqueFd fd = OpenForReading(path);
  if (!fd) return nullptr;
  const std::optional<std::vector<uint8_t>> bytes = ReadWhole(fd.get());
  if (!bytes) return nullptr;
  auto certs = std::make_unique<CertCollection>();
  const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  ERR_clear_error();
  const bool read = text.find("-----BEGIN ") != std::string_view::npos
                        ? ReadPem(*bytes, *certs)
                        : AddCertificate(*bytes, *certs) || ReadSignedData(*bytes, *certs) ||
                              ReadPkcs12(*bytes, *certs);
  ERR_clear_error();
  if (!read) {
    SetLastError(CRYPT_E_NO_MATCH);
    return nullptr;
  }
  return certs;
}

}  // namespace platform
