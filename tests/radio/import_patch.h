// Redirects functions a loaded DLL imports from another DLL by rewriting
// slots of its import address table, in this process only. The PE32 and
// PE32+ layouts come from the headers of the build, so one code path serves
// 32-bit and 64-bit Windows.
#ifndef TESTS_RADIO_IMPORT_PATCH_H
#define TESTS_RADIO_IMPORT_PATCH_H

#include <windows.h>

#include <span>

namespace vdm::radio::test {

struct ImportReplacement {
  const char *name;  // the export's name in the exporting DLL
  FARPROC replacement;
  int patched = 0;  // slots rewritten
};

// Rewrites every slot of module's imports from exporter ("WS2_32.dll", any
// case) that holds one of the named functions: whether imported by name or
// by ordinal, a slot is the function's if it is bound to the address the
// exporter gives for the name. Returns the slots rewritten.
int PatchImports(HMODULE module, const char *exporter, std::span<ImportReplacement> replacements);

// Whether module imports the named function from exporter by ordinal.
bool ImportsByOrdinal(HMODULE module, const char *exporter, const char *name);

}  // namespace vdm::radio::test

#endif  // TESTS_RADIO_IMPORT_PATCH_H
