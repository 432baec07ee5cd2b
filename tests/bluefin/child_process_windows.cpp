#include <process.h>

#include "child_process.h"

namespace bluefin_test {

int RunChild(const std::string &path, const std::string &argument) {
  // _spawnv joins the arguments into one command line: quote the path, which
  // may hold blanks; the argument is an address without any.
  const std::string quoted = "\"" + path + "\"";
  const char *argv[] = {quoted.c_str(), argument.c_str(), nullptr};
  const intptr_t status = _spawnv(_P_WAIT, path.c_str(), argv);
  return status < 0 ? -1 : static_cast<int>(status);
}

}  // namespace bluefin_test
