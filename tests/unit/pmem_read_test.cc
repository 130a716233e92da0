// The physical memory read over a simulated /dev/mem: whole runs of the main
// sequence (the region map and its estimate first at levels 1 to 3) that hand
// over to the read pass.
#include <cstdlib>
#include <regex>
#include <sstream>

#include "driver/main_seq.h"
#include "fixture.h"
#include "params/prescan.h"
#include "physmem_sim.h"
#include "pmem/pmem_map.h"
#include "state/param_block.h"

namespace {

using ts::format;

struct Sim {
  physmem::Device dev;
  int opens = 0, closes = 0, live = 0, most = 0;  // descriptors; block buffers held now, at most
} g_sim;
constexpr int kFd = 99;
const PmemDevice kSimDevice{
    [] { return g_sim.dev.map.open_fails ? (errno = EACCES, -1) : (++g_sim.opens, kFd); },
    [](int, uint64_t to) { return g_sim.dev.seek(to); },
    [](int, void*, size_t n) { return g_sim.dev.read(n); },
    [](int) { return ++g_sim.closes, 0; },
    [] { return g_sim.dev.map.as_limit; },
    [](size_t n) -> void* {
      if (g_sim.dev.map.alloc_fails) return nullptr;
      g_sim.most = std::max(g_sim.most, ++g_sim.live);
      return std::malloc(n);
    },
    [](void* p) { --g_sim.live, std::free(p); },
};

class PmemTest : public ut::MemtestTest {
 protected:
  // Puts `map` behind the device, pre-scans "-dev MEM words" and probes at
  // levels 1 to 3 as the run controller does; returns the table and estimate.
  std::string start(const std::string& map, const std::string& words) {
    g_sim = Sim{};
    EXPECT_EQ(physmem::parse(map, &g_sim.dev.map), "");
    platform_.pmem = kSimDevice;
    args_ = ut::Args("-dev MEM " + words);
    Pre_Getp_ForProgress(args_.argv());
    if (Ex_dwTestLevel == 0) return "";
    uint64_t est = 0;
    const int rc = get_exec_time(&est);
    const PmemRegion &f = jaddr_t[0], &l = jaddr_t[Ex_jump_cnt > 0 ? Ex_jump_cnt - 1 : 0];
    return format("rc=%llu cnt=%llu est=%llu first=%llx-%llx last=%llx-%llx", rc, Ex_jump_cnt, est,
                  f.start, f.end, l.start, l.end);
  }
  // Runs the main sequence `runs` times and tells what the read passes did.
  std::string read(int runs) {
    std::string out, starts;
    for (int i = 0, shown = 0; i < runs && Ex_dwReturnValue == 1; ++i) {
      out += format("run result %llu\n",
                    VYTMEM_Main(Ex_dwTestLevel, Ex_dwTestLevel == 0, args_.argc(), args_.argv()));
      for (uint64_t a : g_sim.dev.block_starts) starts += ++shown <= 40 ? format(" %llx", a) : "";
      starts += format(i + 1 < runs ? " |" : shown > 40 ? " ... %llu in all" : "", shown);
      g_sim.dev.block_starts.clear();
    }
    out += format(
               "bytes 0x%llx, passes %llu, round word 0x%llx\nlast block 0x%llx-0x%llx\n"
               "execute_time %llu, result word %llu, error class %llu ",
               Ex_dwlDebug_MSize.load(), Ex_pass_cnt.load(), Ex_dwDebug_TKind.load() >> 32,
               Ex_test_ad_now, Ex_test_ad_end_now.load(), execute_time, Ex_dwReturnValue.load(),
               Error_Details.error_class) +
           Error_Details.function_name;
    out += format(
        "\ndevice opened %llu, closed %llu; chunks %llu; block buffers at most %llu, "
        "held %llu; sleeps %llu\n",
        g_sim.opens, g_sim.closes, ut::world().chunk_calls, g_sim.most, g_sim.live,
        ut::world().sleeps);
    return out + "block starts:" + starts + "\n";
  }
  ut::Args args_{""};
};

// name | map | keywords | runs | microseconds the clock moves at every reading | trace or -
class PmemRun : public PmemTest, public testing::WithParamInterface<ts::Row> {};

TEST_P(PmemRun, MatchesGolden) {
  const ts::Row& row = GetParam();
  ut::world().step_us = std::stoull(row[4]);
  std::string out = "probe " + start(row[1], row[2]) + "\n";
  out += read(std::stoi(row[3]));
  std::istringstream trace(row[5] == "trace" ? trace_log() : "");
  const std::regex pmem(",(get_|search_|VykTp2PMEM|_Main\\(\\))|PMEM read done");
  for (std::string line; std::getline(trace, line);)
    out += std::regex_search(line, pmem) ? line + "\n" : "";
  EXPECT_TRUE(ts::matches_golden("pmem/" + row[0] + ".txt", out));
}

INSTANTIATE_TEST_SUITE_P(Table, PmemRun,
                         testing::ValuesIn(ts::read_table("unit/data/pmem_runs.txt", 6)),
                         [](const auto& info) { return info.param[0]; });

}  // namespace
