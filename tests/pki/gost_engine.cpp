// ENGINE_* is deprecated in OpenSSL 3.0, yet the Debian GOST module is only an engine.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "tests/pki/gost_engine.h"

#include <openssl/engine.h>

#include <memory>
#include <mutex>

#include "tests/pki/handles.h"
#include "tests/pki/internal.h"

namespace tests::pki {
namespace {

using EnginePtr = std::unique_ptr<ENGINE, FreeWith<ENGINE_free>>;

bool Load() {
  EnginePtr engine(ENGINE_by_id("gost"));
  if (!engine) return ReportFailure("ENGINE_by_id(\"gost\")");
  if (ENGINE_init(engine.get()) != 1) return ReportFailure("ENGINE_init(gost)");
  // The default tables take their own references, so ours are dropped on return.
  const bool registered = ENGINE_set_default(engine.get(), ENGINE_METHOD_ALL) == 1;
  ENGINE_finish(engine.get());
  if (!registered) return ReportFailure("ENGINE_set_default(gost)");
  return true;
}

}  // namespace

bool LoadGostEngine() {
  static std::once_flag once;
  static bool loaded = false;
  std::call_once(once, [] { loaded = Load(); });
  return loaded;
}

}  // namespace tests::pki
