#include "library_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "calls.h"
#include "device_manager.h"

namespace vfw::detail {

#if defined(_WIN32)

namespace {

std::wstring WidenUtf8(const std::string &text) {
  const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
  return wide;
}

// GetLastError is per thread and survives until the next failing call, so
// the failure read here is the loader's own.
DWORD gNoError = 0;

}  // namespace

void *LoadSharedLibrary(const std::string &path) {
  ::SetLastError(gNoError);
  return reinterpret_cast<void *>(LoadLibraryW(WidenUtf8(path).c_str()));
}

void *FindExport(void *library, const std::string &name) {
  ::SetLastError(gNoError);
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name.c_str()));
}

void *LoadedLibrary(const std::string &path) {
  return reinterpret_cast<void *>(GetModuleHandleW(WidenUtf8(path).c_str()));
}

bool UnloadSharedLibrary(void *library) {
  ::SetLastError(gNoError);
  return FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
}

// Windows' message names neither the library nor the export, unlike
// dlerror's, so the subject leads it.
std::wstring LastLoaderError(const char *fallback, const std::string &subject) {
  const DWORD code = GetLastError();
  const std::wstring lead = WidenUtf8(subject) + L": ";
  if (code == 0) {
    return lead + WidenLatin1(fallback);
  }
  wchar_t *text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  std::wstring message = lead + WidenLatin1(fallback) + L" (error " + std::to_wstring(code) + L")";
  if (length != 0 && text != nullptr) {
    message = lead + std::wstring(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
      message.pop_back();
    }
  }
  LocalFree(text);
  return message;
}

#else

void *LoadSharedLibrary(const std::string &path) {
  dlerror();
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void *FindExport(void *library, const std::string &name) {
  dlerror();
  return dlsym(library, name.c_str());
}

bool UnloadSharedLibrary(void *library) {
  dlerror();
  return dlclose(library) == 0;
}

void *LoadedLibrary(const std::string &path) {
  void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  // RTLD_NOLOAD still counts a reference; the loader's own keeps it loaded.
  if (library != nullptr) {
    dlclose(library);
  }
  return library;
}

std::wstring LastLoaderError(const char *fallback, const std::string &) {
  const char *text = dlerror();
  return WidenLatin1(text != nullptr ? text : fallback);
}

#endif

}  // namespace vfw::detail

namespace vfw {

bool IsLibraryLoaded(const std::string &libraryPath) {
  return detail::LoadedLibrary(libraryPath) != nullptr;
}

void *LoadedLibraryExport(const std::string &libraryPath, const std::string &name) {
  void *library = detail::LoadedLibrary(libraryPath);
  return library != nullptr ? detail::FindExport(library, name) : nullptr;
}

}  // namespace vfw
