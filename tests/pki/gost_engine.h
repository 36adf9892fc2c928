#pragma once

// The GOST engine for the PKI fixture. OpenSSL 3.0's GOST provider offers digests only; GOST keys
// and signatures come from the engine, which must be the default for every method it implements
// before the first GOST key, digest or signature is made.

namespace tests::pki {

// LoadGostEngine loads the "gost" engine and makes it the default for all its methods, once per
// process (later calls return the first result without loading again). Returns false when the
// engine is missing or refuses to start; the reason goes to standard error. Thread-safe. The
// engine stays registered until OpenSSL's own clean-up at process exit.
bool LoadGostEngine();

}  // namespace tests::pki
