#pragma once

// System certificate stores as folders: $QUILMAREND_HOME/stores/CurrentUser/<NAME>/ and
// .../LocalMachine/<NAME>/. Store names match case-insensitively, as on Windows ("AddressBook"
// opens the folder ADDRESSBOOK). The files *.cer, *.crt, *.der and *.pem of the folder (DER or
// PEM) are the store's certificates; an added certificate is written as
// <SHA-1 thumbprint in hex>.cer (DER).
//
// A folder is read again only when its modification time changes (a file added, removed or
// renamed), so repeated look-ups cost one stat.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/crypto/cert_context.h"

namespace platform {

enum class StoreLocation { kCurrentUser, kLocalMachine };

// Dispositions of CertStore::Add, with their Windows values.
inline constexpr uint32_t CERT_STORE_ADD_USE_EXISTING = 2;
inline constexpr uint32_t CERT_STORE_ADD_NEWER = 6;

class CertStore {
 public:
  // CertOpenStore opens the store `name` of `location`; a missing folder is an empty store. The
  // folder is created when the first certificate is added.
  static std::unique_ptr<CertStore> Open(StoreLocation location, std::string_view name);

  // Certificates returns the store's certificates, in file-name order.
  std::shared_ptr<const CertCollection> Certificates() const;

  // FindSubjectCert (CertFindCertificateInStore with CERT_FIND_SUBJECT_CERT) returns the
  // certificate whose issuer and serial number equal those of `info`; null with the last error
  // CRYPT_E_NOT_FOUND when there is none.
  CertContextPtr FindSubjectCert(const CertInfo& info) const;

  // FindExisting (CertFindCertificateInStore with CERT_FIND_EXISTING) returns the store's
  // certificate of the same encoding as `cert`: another certificate with its issuer and serial
  // number (and another key, say) is not it. Null with CRYPT_E_NOT_FOUND when there is none.
  CertContextPtr FindExisting(const CertContext& cert) const;

  // Add (CertAddEncodedCertificateToStore) writes `cert` into the store's folder as
  // <thumbprint>.cer, atomically. A certificate of the store with the same issuer name and serial
  // number is a matching one; `disposition` says what happens when there is one:
  //  - CERT_STORE_ADD_USE_EXISTING: nothing is written, and the add succeeds;
  //  - CERT_STORE_ADD_NEWER: a matching certificate with an earlier NotBefore is replaced (its
  //    file removed, or rewritten without it when it holds others); one with an equal or later
  //    NotBefore makes the add fail with the last error CRYPT_E_EXISTS.
  // Returns false with the last error ERROR_ACCESS_DENIED when a file cannot be written or removed.
  bool Add(const CertContext& cert, uint32_t disposition);

 private:
  explicit CertStore(std::string storeFolder) : folder(std::move(storeFolder)) {}
  std::string folder;
};

// StoreFolder returns the folder of store `name` in `location` (upper-case name).
std::string StoreFolder(StoreLocation location, std::string_view name);

}  // namespace platform
