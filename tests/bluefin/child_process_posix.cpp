#include <spawn.h>
#include <sys/wait.h>

#include "child_process.h"

extern char **environ;

namespace bluefin_test {

int RunChild(const std::string &path, const std::string &argument) {
  std::string program = path;
  std::string text = argument;
  char *argv[] = {program.data(), text.data(), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0)
    return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

}  // namespace bluefin_test
