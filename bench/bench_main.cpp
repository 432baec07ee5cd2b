// Runs every benchmark, then OpenSSL's AES again in child processes with
// its CPU features masked, and ends with the table of ratios.
//
//   bluefin_bench [benchmark flags]
//
// Without flags each benchmark runs 5 times and the medians are reported.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/masks.h"
#include "bench/ratio_table.h"

namespace {

constexpr char kChildFlag[] = "--openssl-mask-child=";
constexpr char kChildFilter[] = "^OpenSslAes";

// Removes --openssl-mask-child=<label> from the arguments and returns the
// label (empty in the parent).
std::string TakeChildLabel(std::vector<char *> &args) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (std::strncmp(*it, kChildFlag, sizeof kChildFlag - 1) == 0) {
      std::string label = *it + sizeof kChildFlag - 1;
      args.erase(it);
      return label;
    }
  }
  return {};
}

bool HasFlag(const std::vector<char *> &args, const char *prefix) {
  for (const char *arg : args) {
    if (std::strncmp(arg, prefix, std::strlen(prefix)) == 0) {
      return true;
    }
  }
  return false;
}

std::string SelfPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// The child writes "name<TAB>real ns<TAB>cpu ns" lines on stdout, its usual
// report on stderr.
void PrintForParent() {
  for (const auto &[name, result] : bench::Results()) {
    std::printf("%s\t%.3f\t%.3f\n", name.c_str(), result.realNs, result.cpuNs);
  }
}

void RunMaskedChild(const bench::OpenSslMask &mask, const std::string &repetitions) {
  std::cerr << "\n== OpenSSL AES with OPENSSL_ia32cap=" << mask.value << " (" << mask.label << ") ==\n";
  const std::string command = std::string("OPENSSL_ia32cap='") + mask.value + "' '" + SelfPath() + "' " +
                              kChildFlag + mask.label + " --benchmark_filter='" + kChildFilter + "' " +
                              repetitions + " --benchmark_report_aggregates_only=true";
  FILE *child = popen(command.c_str(), "r");
  if (child == nullptr) {
    std::perror("popen");
    return;
  }
  char line[512];
  while (std::fgets(line, sizeof line, child) != nullptr) {
    std::istringstream fields(line);
    std::string name;
    bench::Result result;
    if (std::getline(fields, name, '\t') && fields >> result.realNs >> result.cpuNs) {
      bench::Results()[name + "@" + mask.label] = result;
    }
  }
  if (pclose(child) != 0) {
    std::cerr << "the " << mask.label << " run failed\n";
  }
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<char *> args(argv, argv + argc);
  const std::string childLabel = TakeChildLabel(args);
  std::string repetitions = "--benchmark_repetitions=5";
  for (const char *arg : args) {
    if (std::strncmp(arg, "--benchmark_repetitions=", 24) == 0) {
      repetitions = arg;
    }
  }
  std::vector<std::string> defaults;
  if (!HasFlag(args, "--benchmark_repetitions=")) {
    defaults.push_back(repetitions);
  }
  if (!HasFlag(args, "--benchmark_report_aggregates_only")) {
    defaults.emplace_back("--benchmark_report_aggregates_only=true");
  }
  for (std::string &flag : defaults) {
    args.push_back(flag.data());
  }

  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
    return 1;
  }

  bench::CollectingReporter reporter;
  if (!childLabel.empty()) {
    reporter.SetOutputStream(&std::cerr);
  }
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (!childLabel.empty()) {
    PrintForParent();
    return 0;
  }

  bool ranOpenSsl = false;
  for (const auto &entry : bench::Results()) {
    ranOpenSsl = ranOpenSsl || entry.first.rfind("OpenSslAes", 0) == 0;
  }
  if (ranOpenSsl) {
    for (const bench::OpenSslMask &mask : bench::kOpenSslMasks) {
      RunMaskedChild(mask, repetitions);
    }
  }
  bench::PrintRatioTable(std::cout);
  benchmark::Shutdown();
  return 0;
}
