// The physical memory probe that maps readable regions before a PMEM run, over
// the simulated memory device of the tests. The controlling process waits for
// it before the first progress record, so its time matters: each probe of a
// 16 GiB map makes 262144 seek and read pairs.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdlib>

#include "common/platform.h"
#include "params/prescan.h"
#include "physmem_sim.h"
#include "pmem/pmem_map.h"
#include "state/param_block.h"
#include "state/pmem_state.h"

namespace {

physmem::Device g_dev;

const PmemDevice kSimDevice{
    [] { return 3; },
    [](int, uint64_t to) { return g_dev.seek(to); },
    [](int, void*, size_t n) { return g_dev.read(n); },
    [](int) { return 0; },
    [] { return UINT64_MAX; },
    [](size_t n) { return std::malloc(n); },
    [](void* p) { std::free(p); },
};

// Maps: nothing readable below 16 GiB; a stock kernel's first 1 MiB; 200
// readable stripes.
const char* const kMaps[] = {"ram=16G", "ram=16G read=0-1M", "ram=16G stripes=0+200x64M/80M"};

void BM_Probe(benchmark::State& state) {
  g_dev = physmem::Device{};
  if (!physmem::parse(kMaps[state.range(0)], &g_dev.map).empty()) std::abort();
  static Platform sim = kSystemPlatform;
  sim.pmem = kSimDevice;
  set_platform(&sim);
  char a0[] = "memtest", a1[] = "-dev", a2[] = "MEM", a3[] = "-tp", a4[] = "PMEM";
  char* argv[] = {a0, a1, a2, a3, a4, nullptr};
  Pre_Getp_ForProgress(argv);
  uint64_t estimate = 0;
  for (auto _ : state) {
    pmem_state_clear();
    Ex_pmem_FIND = 1;
    benchmark::DoNotOptimize(get_exec_time(&estimate));
  }
  state.counters["regions"] = static_cast<double>(Ex_jump_cnt);
}
BENCHMARK(BM_Probe)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
