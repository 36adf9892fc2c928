#include <openssl/engine.h>
#include <openssl/err.h>

#include <mutex>

#include "platform/base/log.h"
#include "platform/crypto/crypto_library.h"
#include "platform/crypto/crypto_texts.h"
#include "platform/os/inet.h"

namespace platform {
namespace {

bool gostLoaded = false;

// LoadGostEngine loads the engine and makes it the default for its algorithms, so that certificates
// with GOST keys decode, sign and verify and "md_gost94" is a known digest. The engine stays
// loaded for the life of the process.
bool LoadGostEngine() {
  ENGINE* engine = ENGINE_by_id("gost");
  if (engine == nullptr) return false;
  const bool ready = ENGINE_init(engine) == 1 && ENGINE_set_default(engine, ENGINE_METHOD_ALL) == 1;
  if (ready) ENGINE_finish(engine);  // the defaults hold their own functional references
  ENGINE_free(engine);
  return ready;
}

void SetUp() {
  OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG | OPENSSL_INIT_ENGINE_DYNAMIC, nullptr);
  gostLoaded = LoadGostEngine();
  ERR_clear_error();
  if (!gostLoaded) {
    LogAt(LogLevel::kError, "%s", texts::kLogGostUnavailable);
  }
  EnsureDownloadLibrary();
}

std::once_flag setUpOnce;

}  // namespace

CryptoLibrary::CryptoLibrary() { EnsureCryptoLibrary(); }

bool CryptoLibrary::GostAvailable() {
  EnsureCryptoLibrary();
  return gostLoaded;
}

void EnsureCryptoLibrary() { std::call_once(setUpOnce, SetUp); }

}  // namespace platform
