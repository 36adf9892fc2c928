#pragma once

// CryptoLibrary is the process-wide set-up of the cryptographic services: the GOST engine (GOST R
// 34.10-2001/2012 keys and signatures, GOST R 34.11-94 and 34.11-2012 digests) and the download
// library. The host creates one at start-up and keeps it for the life of the process; creating
// more is harmless (the set-up runs once). A machine without the GOST engine logs that once and
// still verifies RSA and ECDSA.

namespace platform {

class CryptoLibrary {
 public:
  CryptoLibrary();
  CryptoLibrary(const CryptoLibrary&) = delete;
  CryptoLibrary& operator=(const CryptoLibrary&) = delete;

  // GostAvailable is true when the GOST engine was loaded.
  static bool GostAvailable();
};

// EnsureCryptoLibrary runs the set-up if nobody has yet; stand-ins call it before their first use
// of a library so that a unit test needs no set-up of its own.
void EnsureCryptoLibrary();

}  // namespace platform
