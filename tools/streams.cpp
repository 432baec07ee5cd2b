#include "tools/streams.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace bluefin::tool {

bool WriteStdout(std::string_view text, Failure *failure) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) {
    return true;
  }
  const int error = errno != 0 ? errno : EIO;
  *failure = Failure{V_E_WIN32, std::string("Cannot write to standard output: ") + std::strerror(error)};
  failure->platformCode = error;
  return false;
}

void WriteStderr(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace bluefin::tool
