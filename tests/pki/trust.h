#pragma once

// A PKI of three levels made on the fly, and certificate store folders to put it in, for tests
// that verify signatures with or without a server.

#include <string>

#include "platform/crypto/cert_store.h"
#include "tests/pki/cert.h"
#include "tests/pki/key.h"

namespace tests {

// A three-level PKI: a root, an intermediate CA and a signer, all of one key kind.
struct Pki {
  pki::Key rootKey, caKey, leafKey;
  pki::Cert root, ca, leaf;
};

// LeafSpec is the signer certificate every test starts from: C=RU, O=Org, SN=Petrov, GN=Petr,
// CN=Petrov Petr, serial 00 A1 B2, valid from a day ago for a year, emailProtection usage.
pki::CertSpec LeafSpec();
// CaSpec is a CA certificate named CN=`name`, O=Org, C=RU.
pki::CertSpec CaSpec(const std::string& name);

// MakePki issues root -> CA -> leaf with keys of `kind`; the leaf follows `leaf`.
Pki MakePki(pki::KeyKind kind, const pki::CertSpec& leaf = LeafSpec());

// AddToStore writes `cert` into the store folder `name` of `location`.
void AddToStore(platform::StoreLocation location, const std::string& name, const pki::Cert& cert);
// AddToFolder writes `cert` into `folder`, made as it is named.
void AddToFolder(const std::string& folder, const pki::Cert& cert);

}  // namespace tests
