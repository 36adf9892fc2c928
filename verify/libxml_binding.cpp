#include "verify/libxml_binding.h"

#include <mutex>

#include "platform/base/mutex.h"
#include "platform/os/dyn_lib.h"
#include "verify/verify_texts.h"

namespace verify {
namespace {

// The names a usable library must export, in the order they are tested and listed.
constexpr const char* kRequiredNames[] = {
    "xmlC14NDocDumpMemory",
    "xmlCleanupParser",
    "xmlDocGetRootElement",
    "xmlFree",
    "xmlFreeDoc",
    "xmlInitParser",
    "xmlMemoryDump",
    "xmlReadMemory",
    "xmlSubstituteEntitiesDefault",
    "xmlXPathFreeObject",
    "__xmlLoadExtDtdDefaultValue",
};

// RefuseExternalEntity is the entity loader: no file, no network, nothing from outside.
xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
  return nullptr;
}

// IgnoreMessage is the error handler of every thread that canonicalizes.
void IgnoreMessage(void*, const char*, ...) {}

std::once_flag setUpOnce;
// The binding whose tear-down functions LibXmlShutdown calls; set by the first set-up.
platform::Mutex shutdownLock;
std::unique_ptr<LibXmlF> processBinding GUARDED_BY(shutdownLock);

template <typename Function>
void Bind(const platform::DynamicLibrary& library, const char* name, Function& target) {
  target = reinterpret_cast<Function>(library.Symbol(name));
}

}  // namespace

std::string LibXmlPath() { return platform::ProgramDirectory() + "/libxml2.so.2"; }

std::string FindDll() {
  std::unique_ptr<platform::DynamicLibrary> library =
      platform::DynamicLibrary::Load(LibXmlPath(), nullptr);
  if (!library) return texts::kErrorLibXmlNotInstalled;
  std::string missing;
  for (const char* name : kRequiredNames) {
    if (library->Symbol(name) == nullptr) missing += std::string(name) + ",";
  }
  if (missing.empty()) return {};
  missing.pop_back();
  return texts::kErrorLibXmlOutdated + missing;
}

LibXmlF::LibXmlF() {
  library = platform::DynamicLibrary::Load(LibXmlPath(), nullptr);
  if (!library) return;
  Bind(*library, "xmlC14NDocDumpMemory", xmlC14NDocDumpMemory);
  Bind(*library, "xmlCleanupParser", xmlCleanupParser);
  Bind(*library, "xmlDocGetRootElement", xmlDocGetRootElement);
  Bind(*library, "xmlFree", xmlFree);
  Bind(*library, "xmlFreeDoc", xmlFreeDoc);
  Bind(*library, "xmlInitParser", xmlInitParser);
  Bind(*library, "xmlMemoryDump", xmlMemoryDump);
  Bind(*library, "xmlReadMemory", xmlReadMemory);
  Bind(*library, "xmlSubstituteEntitiesDefault", xmlSubstituteEntitiesDefault);
  Bind(*library, "xmlXPathFreeObject", xmlXPathFreeObject);
  Bind(*library, "__xmlLoadExtDtdDefaultValue", __xmlLoadExtDtdDefaultValue);
  Bind(*library, "xmlSetExternalEntityLoader", xmlSetExternalEntityLoader);
  Bind(*library, "xmlSetGenericErrorFunc", xmlSetGenericErrorFunc);
  if (!xmlC14NDocDumpMemory || !xmlCleanupParser || !xmlDocGetRootElement || !xmlFree ||
      !xmlFreeDoc || !xmlInitParser || !xmlMemoryDump || !xmlReadMemory ||
      !xmlSubstituteEntitiesDefault || !xmlXPathFreeObject || !__xmlLoadExtDtdDefaultValue ||
      !xmlSetExternalEntityLoader || !xmlSetGenericErrorFunc) {
    library.reset();
  }
}

LibXmlF::~LibXmlF() = default;

void LibXmlF::SetUpOnce() const {
  std::call_once(setUpOnce, [] {
    auto binding = std::make_unique<LibXmlF>();
    if (!binding->Usable()) return;
    binding->xmlInitParser();
    binding->xmlSetExternalEntityLoader(RefuseExternalEntity);
    const platform::MutexLock lock(shutdownLock);
    processBinding = std::move(binding);
  });
}

void LibXmlF::QuietThread() const { xmlSetGenericErrorFunc(nullptr, IgnoreMessage); }

void LibXmlShutdown() {
  const platform::MutexLock lock(shutdownLock);
  if (!processBinding) return;
  processBinding->xmlCleanupParser();
  processBinding->xmlMemoryDump();
  processBinding.reset();
}

}  // namespace verify
