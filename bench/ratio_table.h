// What the benchmarks measured, gathered for the closing table of ratios.
#ifndef BENCH_RATIO_TABLE_H
#define BENCH_RATIO_TABLE_H

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>

namespace bench {

struct Result {
  double realNs = 0;
  double cpuNs = 0;
  std::map<std::string, double> counters;
};

// By benchmark name ("ModuleAesEncrypt/3088"); results of a child run with
// OpenSSL's CPU features masked carry "@" and the child's label.
std::map<std::string, Result> &Results();

// Prints like the console reporter and keeps each benchmark's median (or its
// only run, without repetitions) in Results().
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override;
};

// The closing table: each measure beside its reference, their ratio, and
// the goal.
void PrintRatioTable(std::ostream &out);

}  // namespace bench

#endif  // BENCH_RATIO_TABLE_H
