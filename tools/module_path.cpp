#include "tools/module_path.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

namespace bluefin::tool {
namespace {

// The folder of the running executable, with its trailing slash; empty when
// the kernel will not say.
std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) {
    return std::string();
  }
  const std::string executable(path, static_cast<std::size_t>(length));
  return executable.substr(0, executable.rfind('/') + 1);
}

}  // namespace

std::string ModulePath(const std::string &fileName) {
  const std::string folder = ExecutableFolder();
  const std::string installed =
      std::filesystem::path(folder + BLUEFIN_INSTALLED_MODULE_DIR "/" + fileName).lexically_normal().string();
  if (access(installed.c_str(), F_OK) == 0) {
    return installed;
  }
  const std::string built =
      std::filesystem::path(folder + BLUEFIN_BUILD_MODULE_DIR "/" + fileName).lexically_normal().string();
  return access(built.c_str(), F_OK) == 0 ? built : installed;
}

}  // namespace bluefin::tool
