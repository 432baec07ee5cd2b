#include "ratio_table.h"

#include <cstdio>
#include <fstream>
#include <optional>

#include "bench/masks.h"

namespace bench {
namespace {

double Nanoseconds(const benchmark::BenchmarkReporter::Run &run, double adjusted) {
  return adjusted / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
}

// By name, or by name and the options the benchmark's registration adds
// ("/iterations:2/repeats:3/manual_time").
std::optional<Result> Find(const std::string &name) {
  for (const auto &[key, result] : Results()) {
    if (key == name || key.rfind(name + "/", 0) == 0) {
      return result;
    }
  }
  return std::nullopt;
}

double Counter(const Result &result, const std::string &name) {
  const auto found = result.counters.find(name);
  return found == result.counters.end() ? 0 : found->second;
}

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      return line.substr(line.find(':') + 2);
    }
  }
  return "unknown CPU";
}

// The goal text of a row that only informs.
constexpr char kInformative[] = "(info)";

void Row(std::ostream &out, const char *measure, const std::string &value, const std::string &reference,
         double ratio, const char *goal, bool met) {
  const bool informative = std::string(goal) == kInformative;
  char line[200];
  std::snprintf(line, sizeof line, "%-38s %12s %32s %7.3f  %-8s %s\n", measure, value.c_str(),
                reference.c_str(), ratio, goal,
                informative ? ""
                : met       ? "met"
                            : "MISSED");
  out << line;
}

std::string Us(double ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
  return text;
}

std::string Ms(double ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f ms", ns / 1e6);
  return text;
}

void AesRows(std::ostream &out, const char *operation, const char *measure) {
  const std::string size = "/" + std::to_string(kAesBufferSize);
  const auto module = Find(std::string("ModuleAes") + operation + size);
  if (!module) {
    return;
  }
  for (const OpenSslMask &mask : kOpenSslMasks) {
    const auto peer = Find(std::string("OpenSslAes") + operation + size + "@" + mask.label);
    if (peer) {
      const std::string reference = "OpenSSL " + std::string(mask.label) + " " + Us(peer->cpuNs);
      const bool isGoal = std::string(mask.label) == kTablePathLabel;
      Row(out, measure, Us(module->cpuNs), reference, peer->cpuNs / module->cpuNs,
          isGoal ? ">= 1.00" : kInformative, !isGoal || peer->cpuNs >= module->cpuNs);
    }
  }
  if (const auto hardware = Find(std::string("OpenSslAes") + operation + size)) {
    Row(out, measure, Us(module->cpuNs), "OpenSSL AES-NI " + Us(hardware->cpuNs),
        hardware->cpuNs / module->cpuNs, kInformative, true);
  }
}

void CopyRow(std::ostream &out, const char *measure, const char *decode, const char *copy) {
  const auto decoded = Find(decode);
  const auto copied = Find(copy);
  if (decoded && copied) {
    Row(out, measure, Us(decoded->cpuNs), "memcpy " + Us(copied->cpuNs), decoded->cpuNs / copied->cpuNs,
        kInformative, true);
  }
}

}  // namespace

std::map<std::string, Result> &Results() {
  static std::map<std::string, Result> results;
  return results;
}

void CollectingReporter::ReportRuns(const std::vector<Run> &runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run &run : runs) {
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    const bool single = run.run_type == Run::RT_Iteration;
    const std::string name = run.run_name.str();
    if (run.error_occurred || !(median || (single && !Results().contains(name)))) {
      continue;
    }
    Result result{
        Nanoseconds(run, run.GetAdjustedRealTime()), Nanoseconds(run, run.GetAdjustedCPUTime()), {}};
    for (const auto &[counter, value] : run.counters) {
      result.counters[counter] = value.value;
    }
    Results()[name] = result;
  }
}

void PrintRatioTable(std::ostream &out) {
  out << "\nVdmBlueFin performance on " << CpuModel() << ", " << benchmark::CPUInfo::Get().num_cpus
      << " CPUs (medians)\n";
  char header[200];
  std::snprintf(header, sizeof header, "%-38s %12s %32s %7s  %-8s %s\n", "Measure", "Module", "Reference",
                "Ratio", "Goal", "");
  out << header << std::string(108, '-') << "\n";

  AesRows(out, "Encrypt", "AES-256 encrypt 3088 B (CPU)");
  AesRows(out, "Decrypt", "AES-256 decrypt 3088 B (CPU)");
  CopyRow(out, "Decode one part, 8192 px (CPU)", "DecodePart", "CopyPart");
  CopyRow(out, "Decode whole image, 92160 px (CPU)", "DecodeImage", "CopyImage");

  if (const auto image = Find("DecryptAndDecodeImage")) {
    Row(out, "Decrypt + decode whole image (CPU)", Ms(image->cpuNs), "goal 0.250 ms", image->cpuNs / 0.25e6,
        "<= 1.00", image->cpuNs <= 0.25e6);
  }
  if (const auto plain = Find("TransferUnshaped")) {
    Row(out, "Transfer, unshaped link: wall", Ms(plain->realNs), "CPU " + Ms(plain->cpuNs),
        plain->cpuNs / plain->realNs, kInformative, true);
  }
  if (const auto shaped = Find("TransferRfcomm")) {
    const double bound = Counter(*shaped, "bound_ms") * 1e6;
    Row(out, "Transfer, RFCOMM-shaped link: wall", Ms(shaped->realNs), "stop-and-wait " + Ms(bound),
        shaped->realNs / bound, "<= 1.05", shaped->realNs <= 1.05 * bound);
  }
  if (const auto alone = Find("ConcurrentCaptures/1")) {
    for (const int n : {4, 16}) {
      const auto many = Find("ConcurrentCaptures/" + std::to_string(n));
      if (many) {
        const std::string measure = std::to_string(n) + " scanners at once: wall a capture";
        Row(out, measure.c_str(), Ms(many->realNs), "one alone " + Ms(alone->realNs),
            many->realNs / alone->realNs, "<= 1.15", many->realNs <= 1.15 * alone->realNs);
      }
    }
  }
  for (const char *name : {"TransferUnshaped", "TransferRfcomm"}) {
    if (const auto transfer = Find(name)) {
      const double allocations = Counter(*transfer, "allocs");
      const double image = Counter(*transfer, "image_allocs");
      Row(out, "Allocations a transfer (host counter)", std::to_string(static_cast<int>(allocations)),
          "the image alone " + std::to_string(static_cast<int>(image)), allocations / image, "== 1.00",
          allocations == image);
      break;
    }
  }
}

}  // namespace bench
