// MSCAN throughput against the plain memory bandwidth of the same buffer.
//
// Each MSCAN iteration writes and then reads and compares the whole buffer;
// the baseline is one sweep of plain 8-byte stores followed by one sweep of
// plain 8-byte loads over the same buffer. After the runs the program prints
// MSCAN time / baseline time for each pattern kind.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "algorithms/mscan.h"
#include "state/memstruct.h"
#include "state/param_block.h"

namespace {

constexpr uint64_t kBufferBytes = 256ull << 20;

uint64_t* buffer() {
  static uint64_t* buf = [] {
    auto* p = static_cast<uint64_t*>(std::aligned_alloc(4096, kBufferBytes));
    if (p == nullptr) {
      std::fprintf(stderr, "cannot allocate %llu bytes\n",
                   static_cast<unsigned long long>(kBufferBytes));
      std::exit(1);
    }
    std::memset(p, 0, kBufferBytes);  // fault the pages in before timing
    return p;
  }();
  return buf;
}

// No sweep time limit, no pause, no fault injection, no cancel.
void untimed_run_settings() {
  Ex_dwTestLevel = 4;
  execute_time_used = 0;
  execute_waitsec_used = 0;
  execute_cancel = 0;
  std::memset(Fake_Err, 0, sizeof Fake_Err);
}

void BM_Mscan(benchmark::State& state) {
  untimed_run_settings();
  const auto kind = static_cast<uint16_t>(state.range(0));
  uint64_t* buf = buffer();
  for (auto _ : state) {
    uint64_t done = 0;
    uint32_t rc = VykTp2MSCAN(kind, buf, kBufferBytes, nullptr, &done);
    if (rc != kRcOk || done != kBufferBytes) {
      state.SkipWithError("MSCAN did not pass the whole buffer");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
  state.SetLabel(kind == kDataCrossTalk ? "cross talk" : "repeat");
}

void BM_PlainWriteRead(benchmark::State& state) {
  // volatile keeps every access a single 8-byte store or load.
  volatile uint64_t* buf = buffer();
  const uint64_t units = kBufferBytes / 8;
  uint64_t value = 0x0123456789abcdefull;
  for (auto _ : state) {
    for (uint64_t i = 0; i < units; ++i) buf[i] = value;
    benchmark::ClobberMemory();
    uint64_t acc = 0;
    for (uint64_t i = 0; i < units; ++i) acc ^= buf[i];
    benchmark::DoNotOptimize(acc);
    value = ~value;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
  state.SetLabel("8-byte stores + 8-byte loads");
}

BENCHMARK(BM_PlainWriteRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mscan)->Arg(kDataCrossTalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mscan)->Arg(kDataRepeat)->Unit(benchmark::kMillisecond);

// Console output as usual, and the time per iteration of every run kept for
// the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With repetitions the median stands for the benchmark; the time of an
    // aggregate, divided by its iteration count, is per iteration too.
    for (const Run& r : runs) {
      if (r.error_occurred || r.iterations <= 0) continue;
      if (r.run_type != Run::RT_Iteration && r.aggregate_name != "median") continue;
      double n = static_cast<double>(r.iterations);
      times_[r.run_name.function_name + args_of(r)] = {r.real_accumulated_time / n,
                                                       r.cpu_accumulated_time / n};
    }
  }
  static std::string args_of(const Run& r) {
    return r.run_name.args.empty() ? "" : "/" + r.run_name.args;
  }
  struct Times {
    double real;
    double cpu;
  };
  const std::map<std::string, Times>& times() const { return times_; }

 private:
  std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const auto& t = reporter.times();
  auto base = t.find("BM_PlainWriteRead");
  if (base == t.end()) return 0;
  const double gb = static_cast<double>(kBufferBytes) / 1e9;
  const RatioReporter::Times& b = base->second;
  std::printf("\nbuffer %llu MiB, per iteration: wall ms / cpu ms, GB/s of buffer by wall / cpu\n",
              static_cast<unsigned long long>(kBufferBytes >> 20));
  std::printf("plain write+read   %7.2f / %7.2f ms  %6.2f / %6.2f GB/s\n", b.real * 1e3,
              b.cpu * 1e3, gb / b.real, gb / b.cpu);
  const struct {
    const char* name;
    const char* label;
  } kinds[] = {{"BM_Mscan/46", "cross talk"}, {"BM_Mscan/47", "repeat"}};
  for (const auto& k : kinds) {
    auto it = t.find(k.name);
    if (it == t.end()) continue;
    const RatioReporter::Times& m = it->second;
    std::printf(
        "MSCAN %-12s %7.2f / %7.2f ms  %6.2f / %6.2f GB/s  ratio MSCAN / (write + read) "
        "= %.3f wall, %.3f cpu\n",
        k.label, m.real * 1e3, m.cpu * 1e3, gb / m.real, gb / m.cpu, m.real / b.real,
        m.cpu / b.cpu);
  }
  return 0;
}
