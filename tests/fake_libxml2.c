/* A library that stands where libxml2.so.2 should, exporting nine of the eleven names the server
 * binds (no xmlC14NDocDumpMemory, no xmlMemoryDump). None of them is ever called. */

void xmlCleanupParser(void) {}
void* xmlDocGetRootElement(void* document) { return document; }
void (*xmlFree)(void*) = 0;
void xmlFreeDoc(void* document) { (void)document; }
void xmlInitParser(void) {}
void* xmlReadMemory(const char* buffer, int size, const char* url, const char* encoding,
                    int options) {
  (void)buffer, (void)size, (void)url, (void)encoding, (void)options;
  return 0;
}
int xmlSubstituteEntitiesDefault(int value) { return value; }
void xmlXPathFreeObject(void* object) { (void)object; }
int* __xmlLoadExtDtdDefaultValue(void) {
  static int value;
  return &value;
}
