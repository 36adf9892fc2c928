#pragma once

// A certificate file opened as a store, the stand-in for CertOpenStore with the file-name provider
// (CERT_STORE_PROV_FILENAME_W, CERT_STORE_OPEN_EXISTING_FLAG). The file may hold:
//  - one certificate, DER or PEM ("CERTIFICATE", "X509 CERTIFICATE", "TRUSTED CERTIFICATE");
//  - several PEM certificates one after another;
//  - a PKCS #7 / CMS SignedData, DER or PEM ("PKCS7", "CMS"): its certificates;
//  - a PKCS #12 file without a password (an empty one or none): its certificates only, never a
//    key.
// The store lists the certificates in the order the file or message holds them.
//
// Example:
//   std::unique_ptr<platform::CertCollection> certs = platform::CertOpenFileStore(path);
//   if (!certs) return platform::GetLastError();

#include <memory>
#include <string>

#include "platform/crypto/cert_context.h"

namespace platform {

// CertOpenFileStore reads the file `path` and returns its certificates in file order (a
// SignedData without certificates gives an empty collection). Returns null and sets the last
// error: ERROR_FILE_NOT_FOUND (no such file), ERROR_ACCESS_DENIED (unreadable, or not a regular
// file), ERROR_READ_FAULT, or CRYPT_E_NO_MATCH when the file is none of the forms above (a
// PKCS #12 file protected by a password included), as CryptoAPI answers for a file whose content
// matches no store type it knows.
std::unique_ptr<CertCollection> CertOpenFileStore(const std::string& path);

}  // namespace platform
