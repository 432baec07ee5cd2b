// The README's table of JSON shapes and exit statuses, read from the README
// itself, so that every test that produces one of its outcomes checks the
// table says what the command does.
#ifndef BLUEFIN_TESTS_TOOLS_DOCUMENTED_OUTCOMES_H
#define BLUEFIN_TESTS_TOOLS_DOCUMENTED_OUTCOMES_H

#include <string>
#include <vector>

#include "child_process.h"

namespace bluefin::tool::test {

// The outcomes the table must have, by their first column.
extern const std::vector<std::string> kDocumentedOutcomes;

// The table's rows' names, in order.
std::vector<std::string> DocumentedOutcomeNames();

// The run's exit status is the one the row gives (for a signal, the one
// given for its name), and its stdout has the row's shape: the same keys,
// and the same numbers where the row shows one; or nothing where the row
// says so.
void ExpectDocumented(const std::string &outcome, const ChildResult &run, int signal = 0);

}  // namespace bluefin::tool::test

#endif  // BLUEFIN_TESTS_TOOLS_DOCUMENTED_OUTCOMES_H
