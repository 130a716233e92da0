// Throughput of the five algorithms against bounds measured in the same run.
//
// Every algorithm runs over a 256 MiB buffer taken as four 64 MiB chunks, one
// call per chunk, as a pattern pass of the main sequence calls it (IMOVE on
// the whole chunk, as in WHOLE mode). The same run measures plain sweeps over
// the same chunks (memset, 8-byte loads, memcpy of a chunk's first half onto
// its second) and BMOVE's copies done by memcpy (same calls, same blocks),
// alone and with its compares done by memcmp. The program then prints, per
// algorithm and kind, GB/s of buffer tested and the ratio of its time to its
// bound: the bytes it writes, reads and copies per byte tested (kTraffic),
// each at the measured sweep rate. BMOVE's bound is the time of its copies;
// it is also shown against its copies and compares by memcpy and memcmp, and
// IMOVE against its passes done by memset, memcpy and memcmp: both work on
// areas that the cache may hold (4 MiB blocks, 32 MiB halves), which the
// chunk-sized sweeps do not show.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "algorithms/bmove.h"
#include "algorithms/march.h"
#include "algorithms/march_impl.h"
#include "algorithms/masest.h"
#include "algorithms/masest_impl.h"
#include "algorithms/moving_inversion.h"
#include "algorithms/mscan.h"
#include "block_order_memory.h"
#include "state/memstruct.h"
#include "state/param_block.h"

namespace {

constexpr uint64_t kBufferBytes = 256ull << 20;
constexpr uint64_t kChunkBytes = 64ull << 20;  // the main sequence's chunk size
constexpr int kImovePasses = 65;               // 32 rounds of two, then the constants

unsigned char* buffer() {
  static unsigned char* buf = [] {
    auto* p = static_cast<unsigned char*>(std::aligned_alloc(4096, kBufferBytes));
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

enum Algo : int { kMscan, kMarch, kMasest, kBmove, kImove };
constexpr const char* kAlgoNames[] = {"MSCAN", "MARCH", "MASEST", "BMOVE", "IMOVE"};

// MARCH and MASEST as they were before their order-sensitive sweeps went
// unit by unit.
uint32_t block_order_run(Algo algo, uint16_t kind, void* chunk, VykTp2MemStruct_t* ctl,
                         uint64_t* done) {
  BlockOrderMemory mem(chunk);
  return algo == kMarch ? march_body(mem, kind, chunk, kChunkBytes, ctl, done)
                        : masest_body(mem, kind, chunk, kChunkBytes, ctl, done);
}

// range(0): the algorithm; range(1): the data kind (BMOVE: 64 or 128-bit
// noise); range(2): 1 for the block-order MARCH or MASEST.
void BM_Algorithm(benchmark::State& state) {
  untimed_run_settings();
  const auto algo = static_cast<Algo>(state.range(0));
  const auto kind = static_cast<uint16_t>(state.range(1));
  const bool block_order = state.range(2) == 1;
  VykTp2MemStruct_t* ctl = &VykTp2MemStruct;
  ctl->single_run = kind == 64 ? 1 : 0;
  unsigned char* buf = buffer();
  for (auto _ : state) {
    for (uint64_t off = 0; off < kBufferBytes; off += kChunkBytes) {
      void* chunk = buf + off;
      uint64_t done = 0;
      const uint32_t rc = block_order       ? block_order_run(algo, kind, chunk, ctl, &done)
                          : algo == kMscan  ? VykTp2MSCAN(kind, chunk, kChunkBytes, ctl, &done)
                          : algo == kMarch  ? VykTp2MARCH(kind, chunk, kChunkBytes, ctl, &done)
                          : algo == kMasest ? VykTp2MASEST(kind, chunk, kChunkBytes, ctl, &done)
                          : algo == kBmove  ? VykTp2BMOVE(kind, chunk, kChunkBytes, ctl, 0, &done)
                                            : Vyk_moving_inversion(chunk, kChunkBytes, ctl, &done);
      // MARCH leaves its done counter at the first sweep's end: the whole chunk.
      if (rc != kRcOk || done != kChunkBytes) {
        state.SkipWithError("the algorithm did not pass the whole chunk");
        return;
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
}

enum Sweep : int { kWrite, kRead, kCopy };

// One plain sweep over a chunk: memset, 8-byte loads (eight accumulators, so
// that the compiler can use vector loads), or memcpy of its first half onto
// its second.
void sweep_chunk(Sweep sweep, unsigned char* chunk, int value) {
  if (sweep == kWrite) {
    std::memset(chunk, value, kChunkBytes);
  } else if (sweep == kRead) {
    const auto* words = reinterpret_cast<const uint64_t*>(chunk);
    uint64_t acc[8] = {};
    for (uint64_t i = 0; i < kChunkBytes / 8; i += 8) {
      for (int k = 0; k < 8; ++k) acc[k] ^= words[i + k];
    }
    benchmark::DoNotOptimize(acc);
  } else {
    std::memcpy(chunk + kChunkBytes / 2, chunk, kChunkBytes / 2);
  }
  benchmark::ClobberMemory();
}

// The rate of a plain sweep over a chunk the same sweep has just gone over,
// as the algorithms sweep a chunk several times in a row: every chunk is
// swept twice and the second sweep timed. Bytes processed: the buffer, or
// for kCopy the bytes copied (half the buffer).
void BM_Sweep(benchmark::State& state) {
  const auto sweep = static_cast<Sweep>(state.range(0));
  unsigned char* buf = buffer();
  int value = 0x5A;
  for (auto _ : state) {
    double seconds = 0;
    for (uint64_t off = 0; off < kBufferBytes; off += kChunkBytes) {
      sweep_chunk(sweep, buf + off, value);
      const auto start = std::chrono::steady_clock::now();
      sweep_chunk(sweep, buf + off, value ^ 0xFF);
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.SetIterationTime(seconds);
    value ^= 0x0F;
  }
  const uint64_t bytes = sweep == kCopy ? kBufferBytes / 2 : kBufferBytes;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetLabel(sweep == kWrite ? "write" : sweep == kRead ? "read" : "copy");
}

// BMOVE's moves by memcpy: per 4 MiB block, 64 rounds of the first half
// onto the second, the second back 24 bytes on and the last 24 bytes to the
// start; range(0) 1 adds the compare of each round by memcmp.
void BM_BmoveMoves(benchmark::State& state) {
  constexpr uint64_t kBlock = 4 << 20, kHalf = kBlock / 2, kStep = 24;
  const bool compare = state.range(0) == 1;
  unsigned char* buf = buffer();
  int differ = 0;
  for (auto _ : state) {
    for (unsigned char* p = buf; p < buf + kBufferBytes; p += kBlock) {
      for (int round = 0; round < 64; ++round) {
        std::memcpy(p + kHalf, p, kHalf);
        std::memcpy(p + kStep, p + kHalf, kHalf - kStep);
        std::memcpy(p, p + kBlock - kStep, kStep);
        benchmark::ClobberMemory();
        if (compare) differ |= std::memcmp(p + kStep, p + kHalf, kHalf - kStep);
      }
    }
  }
  benchmark::DoNotOptimize(differ);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
  state.SetLabel(compare ? "copies and compares" : "copies");
}

// IMOVE's passes by the library: per chunk, 65 times the first half filled
// by memset, copied onto the second by memcpy and compared by memcmp, each in
// 32 KiB spans as IMOVE makes them.
void BM_ImovePasses(benchmark::State& state) {
  constexpr uint64_t kHalf = kChunkBytes / 2, kSpan = 0x8000;
  unsigned char* buf = buffer();
  int differ = 0;
  for (auto _ : state) {
    for (unsigned char* s = buf; s < buf + kBufferBytes; s += kChunkBytes) {
      unsigned char* d = s + kHalf;
      for (int pass = 0; pass < kImovePasses; ++pass) {
        for (uint64_t f = 0; f < kHalf; f += kSpan) std::memset(s + f, pass, kSpan);
        for (uint64_t f = 0; f < kHalf; f += kSpan) std::memcpy(d + f, s + f, kSpan);
        benchmark::ClobberMemory();
        for (uint64_t f = 0; f < kHalf; f += kSpan) differ |= std::memcmp(d + f, s + f, kSpan);
      }
    }
  }
  benchmark::DoNotOptimize(differ);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
}

BENCHMARK(BM_Sweep)->Arg(kWrite)->Arg(kRead)->Arg(kCopy)->UseManualTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_BmoveMoves)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImovePasses)->Unit(benchmark::kMillisecond);

// The algorithms and kinds measured, in the order shown.
struct Case {
  Algo algo;
  int kind;
  const char* label;
  int block_order = 0;
};
constexpr Case kCases[] = {
    {kMscan, kDataCrossTalk, "cross talk"},
    {kMscan, kDataRepeat, "repeat"},
    {kMarch, kDataCrossTalk, "cross talk"},
    {kMarch, kDataCrossTalk, "blocks, c.t.", 1},
    {kMarch, kDataRepeat, "repeat"},
    {kMarch, kDataRepeat, "blocks, rep.", 1},
    {kMasest, kDataCrossTalk, "cross talk"},
    {kMasest, kDataCrossTalk, "blocks, c.t.", 1},
    {kMasest, kDataRepeat, "repeat"},
    {kMasest, kDataRepeat, "blocks, rep.", 1},
    {kBmove, 128, "128-bit noise"},
    {kBmove, 64, "64-bit noise"},
    {kImove, 0, "-"},
};
std::string case_name(const Case& k) {
  return "BM_Algorithm/algo:" + std::to_string(k.algo) + "/kind:" + std::to_string(k.kind) +
         "/blocks:" + std::to_string(k.block_order);
}
BENCHMARK(BM_Algorithm)
    ->ArgNames({"algo", "kind", "blocks"})
    ->Apply([](benchmark::internal::Benchmark* b) {
      for (const Case& c : kCases) b->Args({c.algo, c.kind, c.block_order});
    })
    ->Unit(benchmark::kMillisecond);

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
      const std::string args = r.run_name.args.empty() ? "" : "/" + r.run_name.args;
      seconds_[r.run_name.function_name + args] =
          r.real_accumulated_time / static_cast<double>(r.iterations);
    }
  }
  // Seconds per iteration of a benchmark, 0 when it did not run.
  double seconds(const std::string& name) const {
    auto it = seconds_.find(name);
    return it == seconds_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> seconds_;
};

// Bytes each algorithm moves per byte tested: written, read and copied.
struct Traffic {
  double write, read, copy;
};
constexpr Traffic kTraffic[] = {
    {1, 1, 0},  // MSCAN: write sweep, read sweep
    {3, 2, 0},  // MARCH: write; read and invert; read and restore
    {1, 3, 0},  // MASEST: pairs; each unit with its mirror; all pairs again
    {0, 0, 0},  // BMOVE: bound by its copies (BM_BmoveMoves)
    // IMOVE: per pass the source half filled, copied and compared with the
    // destination half.
    {kImovePasses * 0.5, kImovePasses * 1.0, kImovePasses * 0.5},
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const double write = reporter.seconds("BM_Sweep/0"), read = reporter.seconds("BM_Sweep/1");
  const double copy = reporter.seconds("BM_Sweep/2") * 2;  // per buffer's worth of bytes copied
  const double bmove_copies = reporter.seconds("BM_BmoveMoves/0");
  const double bmove_moves = reporter.seconds("BM_BmoveMoves/1");
  const double imove_passes = reporter.seconds("BM_ImovePasses");
  if (write == 0 || read == 0 || copy == 0 || bmove_copies == 0 || bmove_moves == 0 ||
      imove_passes == 0) {
    return 0;
  }
  const double gb = static_cast<double>(kBufferBytes) / 1e9;
  std::printf("\n%llu MiB as %llu MiB chunks, GB/s of buffer tested\n",
              static_cast<unsigned long long>(kBufferBytes >> 20),
              static_cast<unsigned long long>(kChunkBytes >> 20));
  std::printf("sweeps: write %.2f GB/s, read %.2f GB/s, memcpy %.2f GB/s copied\n", gb / write,
              gb / read, gb / copy);
  std::printf("%-7s %-14s %9s %7s %9s %6s\n", "algo", "kind", "ms", "GB/s", "bound ms", "ratio");
  for (const Case& k : kCases) {
    const double t = reporter.seconds(case_name(k));
    if (t == 0) continue;
    const Traffic& c = kTraffic[k.algo];
    const double bound =
        k.algo == kBmove ? bmove_copies : c.write * write + c.read * read + c.copy * copy;
    std::printf("%-7s %-14s %9.1f %7.2f %9.1f %6.2f", kAlgoNames[k.algo], k.label, t * 1e3, gb / t,
                bound * 1e3, t / bound);
    // Each round also compares the spans its second copy wrote and read:
    // half the bytes the copies move, read once more.
    if (k.algo == kBmove) std::printf("  (%.2f of its copies and compares)", t / bmove_moves);
    if (k.algo == kImove) std::printf("  (%.2f of its passes by the library)", t / imove_passes);
    // The unit-order sweeps against the block-order ones just below.
    const Case blocks{k.algo, k.kind, "", 1};
    const double tb = k.block_order == 0 ? reporter.seconds(case_name(blocks)) : 0;
    if (tb > 0) std::printf("  (%.2fx the GB/s of the block order)", tb / t);
    std::printf("\n");
  }
  return 0;
}
