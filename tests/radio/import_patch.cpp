#include "tests/radio/import_patch.h"

#include <cstring>

namespace vdm::radio::test {
namespace {

// Calls visit(lookup entry, slot, exporting module) for each function module
// imports from exporter. The lookup table holds names or ordinals; without
// one (an old binder) the slots themselves are all there is.
template <typename Visit>
void ForEachImport(HMODULE module, const char *exporter, Visit visit) {
  auto *const base = reinterpret_cast<BYTE *>(module);
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
    return;
  }
  const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) {
    return;
  }
  const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) {
    return;
  }
  for (auto *descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
       descriptor->Name != 0; ++descriptor) {
    const char *dll = reinterpret_cast<const char *>(base + descriptor->Name);
    const HMODULE exporting = GetModuleHandleA(dll);
    if (_stricmp(dll, exporter) != 0 || exporting == nullptr) {
      continue;
    }
    const DWORD lookupTable =
        descriptor->OriginalFirstThunk != 0 ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
    const auto *lookup = reinterpret_cast<const IMAGE_THUNK_DATA *>(base + lookupTable);
    auto *slot = reinterpret_cast<IMAGE_THUNK_DATA *>(base + descriptor->FirstThunk);
    for (; lookup->u1.AddressOfData != 0; ++lookup, ++slot) {
      visit(*lookup, slot, exporting);
    }
  }
}

}  // namespace

int PatchImports(HMODULE module, const char *exporter, std::span<ImportReplacement> replacements) {
  int total = 0;
  ForEachImport(module, exporter, [&](const IMAGE_THUNK_DATA &, IMAGE_THUNK_DATA *slot, HMODULE exporting) {
    for (ImportReplacement &replacement : replacements) {
      const FARPROC function = GetProcAddress(exporting, replacement.name);
      if (function == nullptr || slot->u1.Function != reinterpret_cast<ULONG_PTR>(function)) {
        continue;
      }
      DWORD protection = 0;
      if (!VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &protection)) {
        continue;
      }
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement.replacement);
      VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection, &protection);
      ++replacement.patched;
      ++total;
    }
  });
  return total;
}

bool ImportsByOrdinal(HMODULE module, const char *exporter, const char *name) {
  bool byOrdinal = false;
  ForEachImport(module, exporter, [&](const IMAGE_THUNK_DATA &lookup, IMAGE_THUNK_DATA *, HMODULE exporting) {
    if (IMAGE_SNAP_BY_ORDINAL(lookup.u1.Ordinal) &&
        GetProcAddress(exporting, MAKEINTRESOURCEA(IMAGE_ORDINAL(lookup.u1.Ordinal))) ==
            GetProcAddress(exporting, name)) {
      byOrdinal = true;
    }
  });
  return byOrdinal;
}

}  // namespace vdm::radio::test
