#pragma once

// The run-time binding of libxml2. The library is looked for only as libxml2.so.2 in the
// program's own folder (a libxml2 elsewhere on the search path is never used) and bound function
// by function, so that a missing or outdated library fails the XML checks with a message instead
// of stopping the server.
//
// Parsing never loads anything from outside the document: an entity loader that refuses every
// external entity and external DTD is installed when the library is first set up. The process-wide
// set-up (xmlInitParser) runs once, at the first canonicalization; the tear-down
// (xmlCleanupParser, xmlMemoryDump) once, by LibXmlShutdown when no thread uses the library any
// more; canonicalizations of different threads run in parallel in between.

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <memory>
#include <string>

#include "platform/os/dyn_lib.h"

namespace verify {

// LibXmlPath returns the path the library is loaded from: the program's folder + "/libxml2.so.2".
std::string LibXmlPath();

// FindDll returns an empty text when the library loads and exports all eleven required names;
// otherwise "Не установлен libxml2.so.2!" or the update message followed by the missing names,
// comma separated (Windows-1251).
std::string FindDll();

class LibXmlF {
 public:
  // Loads the library and resolves the entry points; a library that lacks one is dropped and the
  // binding holds none (Usable is false).
  LibXmlF();
  virtual ~LibXmlF();
  LibXmlF(const LibXmlF&) = delete;
  LibXmlF& operator=(const LibXmlF&) = delete;

  // Usable is true when the library and every entry point (the entity loader's and the error
  // handler's setters included) are bound.
  bool Usable() const { return library != nullptr; }

  // SetUpOnce runs the process-wide set-up the first time any binding calls it.
  void SetUpOnce() const;

  decltype(&::xmlC14NDocDumpMemory) xmlC14NDocDumpMemory = nullptr;
  decltype(&::xmlCleanupParser) xmlCleanupParser = nullptr;
  decltype(&::xmlDocGetRootElement) xmlDocGetRootElement = nullptr;
  xmlFreeFunc* xmlFree = nullptr;  // libxml2 exports xmlFree as a variable holding the function
  decltype(&::xmlFreeDoc) xmlFreeDoc = nullptr;
  decltype(&::xmlInitParser) xmlInitParser = nullptr;
  decltype(&::xmlMemoryDump) xmlMemoryDump = nullptr;
  decltype(&::xmlReadMemory) xmlReadMemory = nullptr;
  decltype(&::xmlSubstituteEntitiesDefault) xmlSubstituteEntitiesDefault = nullptr;
  decltype(&::xmlXPathFreeObject) xmlXPathFreeObject = nullptr;
  decltype(&::__xmlLoadExtDtdDefaultValue) __xmlLoadExtDtdDefaultValue = nullptr;
  decltype(&::xmlSetExternalEntityLoader) xmlSetExternalEntityLoader = nullptr;
  decltype(&::xmlSetGenericErrorFunc) xmlSetGenericErrorFunc = nullptr;

  // QuietThread stops libxml2 from printing its messages on the calling thread (they would mix
  // with the log on standard error); failures are reported by their results.
  void QuietThread() const;

 private:
  std::unique_ptr<platform::DynamicLibrary> library;
};

// LibXmlShutdown tears libxml2's process-wide state down if it was ever set up. Call once, after
// every thread that canonicalizes has ended.
void LibXmlShutdown();

}  // namespace verify
