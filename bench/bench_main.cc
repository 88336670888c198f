// The benchmarks of the plug-in, each set against its floor in one run, and
// the host's resident size over many lookups. Not a test: the figures
// depend on the machine; scripts/bench.sh builds and runs this.
//
// Prints Google Benchmark's own table, then one summary with the ratios and
// their targets, and the machine they were measured on.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "bench/resident_size.h"
#include "bench/samples.h"

namespace {

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown processor";
}

// The load averages over 1, 5 and 15 minutes: the machine is shared, and a
// figure means little without them.
std::string LoadAverage() {
  std::ifstream loadavg("/proc/loadavg");
  std::string one, five, fifteen;
  loadavg >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

// A target of 0: the ratio is shown for information only.
void Ratio(const char* what, double mine, double floor, double target, const char* unit) {
  const double ratio = floor > 0 ? mine / floor : 0;
  std::printf("  %-34s %10.2f %s vs floor %10.2f %s   ratio %5.2f", what, mine, unit, floor, unit, ratio);
  if (target > 0) std::printf("  (target <= %.2f: %s)", target, Verdict(ratio <= target));
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  // marlgate-host and the plug-in are found beside this program.
  if (std::getenv("MARLGATE_BIN_DIR") == nullptr) ::setenv("MARLGATE_BIN_DIR", MARLGATE_BIN_DIR, 1);
  // glibc moves its threshold for handing large blocks to mmap as blocks
  // come and go, so whether a multi-megabyte reply text lands on fresh
  // pages (and pays for zeroing them) changes from run to run. Pinned, the
  // runs compare; MARLGATE_BENCH_GLIBC_DEFAULTS=1 measures without.
  const bool pinned = std::getenv("MARLGATE_BENCH_GLIBC_DEFAULTS") == nullptr;
  if (pinned) {
    ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  utsname system{};
  ::uname(&system);
  std::printf("\nSummary (%s, %ld cores, %s %s; malloc thresholds %s; load average %s)\n",
              CpuModel().c_str(), ::sysconf(_SC_NPROCESSORS_ONLN), system.sysname, system.release,
              pinned ? "pinned" : "glibc's defaults", LoadAverage().c_str());
  auto& recorded = bench::Recorded();
  if (recorded.count("reply path/plug-in")) {
    const auto& mine = recorded["reply path/plug-in"];
    const auto& floor = recorded["reply path/bare floor with the transfer"];
    const auto& parse = recorded["reply path/parse and split alone"];
    std::printf(" reply path over loopback, 32768-entry search reply, click to filled list, median of %zu:\n",
                mine.size());
    Ratio("bare floor with the transfer", mine.Quantile(0.5) / 1000, floor.Quantile(0.5) / 1000, 1.5, "ms");
    Ratio("parse and split alone", mine.Quantile(0.5) / 1000, parse.Quantile(0.5) / 1000, 0, "ms");
  }
  if (recorded.count("lookup/plug-in")) {
    const auto& mine = recorded["lookup/plug-in"];
    const auto& floor = recorded["lookup/floor"];
    std::printf(" lookup end to end over loopback, %zu lookups:\n", mine.size());
    Ratio("median", mine.Quantile(0.5), floor.Quantile(0.5), 1.1, "us");
    Ratio("p99", mine.Quantile(0.99), floor.Quantile(0.99), 0, "us");
  }
  if (std::getenv("MARLGATE_BENCH_SKIP_RESIDENT") == nullptr) {
    bench::ResidentSizes sizes = bench::MeasureResidentSizes(10, 10000);
    const long growth = sizes.after_many_kib - sizes.after_few_kib;
    std::printf(" resident size of marlgate-host with the plug-in:\n");
    std::printf("  after %d lookups %ld KiB, after %d lookups %ld KiB: %+ld KiB  (target <= +1024 KiB: %s)\n",
                sizes.few, sizes.after_few_kib, sizes.many, sizes.after_many_kib, growth,
                Verdict(sizes.after_many_kib > 0 && growth <= 1024));
  }
  return 0;
}
