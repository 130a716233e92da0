// The region map over simulated physical memory: the probe and its estimate,
// and the search for the next readable address.
#include <chrono>
#include <cstdio>

#include "fixture.h"
#include "params/param.h"
#include "pmem/pmem_map.h"
#include "pmem_sim_device.h"
#include "state/memstruct.h"
#include "state/pmem_state.h"

namespace {

using ull = unsigned long long;

class PmemMapTest : public ut::MemtestTest {
 protected:
  // Pre-scans `words`, puts `map` behind the device and probes it as the run
  // controller does (levels 1 to 3 only).
  std::string probe(const std::string& map, const std::string& words) {
    ut::use_sim(map);
    ut::Args args("-dev MEM -tp PMEM " + words);
    Pre_Getp_ForProgress(args.argv());
    if (Ex_dwTestLevel == 0) return "";
    uint64_t est = 0;
    const int rc = get_exec_time(&est);
    EXPECT_EQ(ut::g_sim.closes, ut::g_sim.opens);
    const PmemRegion& f = jaddr_t[0];
    const PmemRegion& l = jaddr_t[Ex_jump_cnt > 0 ? Ex_jump_cnt - 1 : 0];
    char text[160];
    std::snprintf(text, sizeof text, "rc=%d cnt=%u first=%llx-%llx last=%llx-%llx est=%llu", rc,
                  Ex_jump_cnt, ull{f.start}, ull{f.end}, ull{l.start}, ull{l.end}, ull{est});
    return text;
  }
};

// map | keywords | table and estimate | a trace line it leaves
TEST_F(PmemMapTest, Maps) {
  for (const ts::Row& row : ts::read_table("unit/data/pmem_maps.txt", 4)) {
    SCOPED_TRACE(row.where);
    reset();
    EXPECT_EQ(probe(row[0], row[1]), row[2]);
    EXPECT_NE(trace_log().find(",00000," + row[3] + "\n"), std::string::npos) << row[3];
  }
}

// map | level | cursor | address | result, address, cursor and device position after
TEST_F(PmemMapTest, Searches) {
  for (const ts::Row& row : ts::read_table("unit/data/pmem_searches.txt", 5)) {
    SCOPED_TRACE(row.where);
    reset();
    probe(row[0], "-lv " + row[1]);
    Ex_sr_jump_cnt = static_cast<uint32_t>(std::stoul(row[2]));
    Ex_found_fd = ut::kSimFd;
    uint64_t a = std::stoull(row[3], nullptr, 0);
    const uint32_t rc = search_next_region(&VykTp2MemStruct, &a);
    char text[96];
    std::snprintf(text, sizeof text, "rc=%u at=%llx cursor=%u pos=%llx", rc, ull{a}, Ex_sr_jump_cnt,
                  ull{ut::g_sim.dev.pos});
    EXPECT_EQ(text, row[4]);
  }
}

// 262144 seek and read pairs over 16 GiB of simulated device.
TEST_F(PmemMapTest, ProbeTime) {
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(probe("ram=16G read=0-640K read=1M-15G", "-lv 1"),
            "rc=0 cnt=2 first=0-a0000 last=100000-3c0000000 est=121");
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("probe of 16 GiB against the simulation: %.1f ms\n", s * 1000);
  EXPECT_LT(s, 1.0);
}

}  // namespace
