// Runs a test's helper program to its end.
#ifndef TESTS_BLUEFIN_CHILD_PROCESS_H
#define TESTS_BLUEFIN_CHILD_PROCESS_H

#include <string>

namespace bluefin_test {

// The child's exit status, or -1 when it could not be started or did not
// exit normally.
int RunChild(const std::string &path, const std::string &argument);

}  // namespace bluefin_test

#endif  // TESTS_BLUEFIN_CHILD_PROCESS_H
