#include "documented_outcomes.h"

#include <signal.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

namespace bluefin::tool::test {
namespace {

constexpr char kTableHeader[] = "| Outcome | Exit status | stdout with `--json` |";

struct Row {
  std::string exitStatus;
  std::string json;
};

// The cell's text without its code marks and surrounding blanks.
std::string Trim(std::string text) {
  std::erase(text, '`');
  const std::size_t start = text.find_first_not_of(' ');
  const std::size_t end = text.find_last_not_of(' ');
  return start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
}

std::vector<std::string> Cells(const std::string &line) {
  std::vector<std::string> cells;
  std::stringstream stream(line.substr(1));
  std::string cell;
  while (std::getline(stream, cell, '|')) {
    cells.push_back(Trim(cell));
  }
  return cells;
}

// name -> row, in the README's order as well.
const std::vector<std::pair<std::string, Row>> &Table() {
  static const std::vector<std::pair<std::string, Row>> table = [] {
    std::vector<std::pair<std::string, Row>> rows;
    std::ifstream readme(BLUEFIN_README_PATH);
    std::string line;
    bool inTable = false;
    while (std::getline(readme, line)) {
      if (line == kTableHeader) {
        inTable = true;
        std::getline(readme, line);  // the |---| line
        continue;
      }
      if (inTable && (line.empty() || line[0] != '|')) {
        break;
      }
      if (inTable) {
        const std::vector<std::string> cells = Cells(line);
        if (cells.size() >= 3) {
          rows.emplace_back(cells[0], Row{cells[1], cells[2]});
        }
      }
    }
    return rows;
  }();
  return table;
}

std::set<std::string> Keys(const std::string &json) {
  std::set<std::string> keys;
  const std::regex key(R"re("([A-Za-z]+)":)re");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), key); it != std::sregex_iterator(); ++it) {
    keys.insert((*it)[1]);
  }
  return keys;
}

// The first number each key shows.
std::map<std::string, std::string> Numbers(const std::string &json) {
  std::map<std::string, std::string> numbers;
  const std::regex number(R"re("([A-Za-z]+)": (-?[0-9]+))re");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), number); it != std::sregex_iterator(); ++it) {
    numbers.emplace((*it)[1], (*it)[2]);
  }
  return numbers;
}

int DocumentedExitStatus(const std::string &cell, int signal) {
  if (signal == 0) {
    return std::stoi(cell);
  }
  const char *name = signal == SIGHUP    ? "SIGHUP"
                     : signal == SIGINT  ? "SIGINT"
                     : signal == SIGQUIT ? "SIGQUIT"
                     : signal == SIGTERM ? "SIGTERM"
                                         : "?";
  const std::regex entry("([0-9]+) " + std::string(name));
  std::smatch match;
  if (!std::regex_search(cell, match, entry)) {
    ADD_FAILURE() << "the README gives no exit status for " << name << ": " << cell;
    return -1;
  }
  return std::stoi(match[1]);
}

}  // namespace

const std::vector<std::string> kDocumentedOutcomes = {
    "capture",
    "capture --count N",
    "info",
    "devices",
    "a failure",
    "a failure with a hint",
    "a usage error",
    "--timeout ran out",
    "cancelled by a signal",
    "cancelled while connecting",
    "cancelled during capture --count N",
};

std::vector<std::string> DocumentedOutcomeNames() {
  std::vector<std::string> names;
  for (const auto &[name, row] : Table()) {
    names.push_back(name);
  }
  return names;
}

void ExpectDocumented(const std::string &outcome, const ChildResult &run, int signal) {
  ASSERT_NE(std::find(kDocumentedOutcomes.begin(), kDocumentedOutcomes.end(), outcome),
            kDocumentedOutcomes.end())
      << outcome;
  const auto &table = Table();
  const auto row =
      std::find_if(table.begin(), table.end(), [&](const auto &entry) { return entry.first == outcome; });
  ASSERT_NE(row, table.end()) << "the README's table has no row '" << outcome << "'";
  EXPECT_EQ(run.exitStatus, DocumentedExitStatus(row->second.exitStatus, signal)) << outcome << "\n"
                                                                                  << run.err;
  const std::string &documented = row->second.json;
  if (documented.find('{') == std::string::npos) {
    EXPECT_EQ(run.out, "") << outcome;
    return;
  }
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << outcome << ": one line\n" << run.out;
  EXPECT_EQ(Keys(run.out), Keys(documented)) << outcome << "\n" << run.out << "\n" << documented;
  const std::map<std::string, std::string> seen = Numbers(run.out);
  for (const auto &[key, value] : Numbers(documented)) {
    EXPECT_EQ(seen.count(key) ? seen.at(key) : "", value) << outcome << ": " << key << "\n" << run.out;
  }
}

}  // namespace bluefin::tool::test
