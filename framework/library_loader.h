// Loading a module's shared library: dlopen on POSIX, LoadLibraryW on
// Windows. The only platform #if of the device manager lives behind this.
#ifndef VFW_LIBRARY_LOADER_H
#define VFW_LIBRARY_LOADER_H

#include <string>

namespace vfw::detail {

// Null on failure; LastLoaderError() then says why.
void *LoadSharedLibrary(const std::string &path);
// The library at path when this process has it loaded, else null; takes no
// reference.
void *LoadedLibrary(const std::string &path);
// Null when the library has no such export.
void *FindExport(void *library, const std::string &name);
// False on failure.
bool UnloadSharedLibrary(void *library);
// The loader's text for the calling thread's last failure, naming subject
// (the library's path or the export's name); fallback when the loader has
// no text.
std::wstring LastLoaderError(const char *fallback, const std::string &subject);

}  // namespace vfw::detail

#endif  // VFW_LIBRARY_LOADER_H
