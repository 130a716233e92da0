// The read pass over simulated physical memory: blocks, rounds and laps, the
// counters it keeps, and how the main sequence hands over to it.
#include <chrono>
#include <cstdio>
#include <sstream>

#include "driver/main_seq.h"
#include "fixture.h"
#include "golden.h"
#include "params/param.h"
#include "pmem/pmem_map.h"
#include "pmem/pmem_read.h"
#include "pmem_sim_device.h"
#include "state/memstruct.h"
#include "state/pmem_state.h"

namespace {

using ull = unsigned long long;

std::string format(const char* fmt, ull a = 0, ull b = 0, ull c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, fmt, a, b, c);
  return text;
}

class PmemReadTest : public ut::MemtestTest {
 protected:
  // Pre-scans "-dev MEM words", probes at levels 1 to 3 and makes `calls`
  // read passes over `map`; returns what they did.
  std::string run(const std::string& map, const std::string& words, int calls) {
    ut::use_sim(map);
    ut::Args args("-dev MEM " + words);
    Pre_Getp_ForProgress(args.argv());
    VykTp2MemStruct.dwTestLevel = Ex_dwTestLevel;
    std::string out, starts;
    int shown = 0;  // long runs show their first 40 block starts
    uint64_t est = 0, status = 0, done = 0;
    if (Ex_dwTestLevel >= 1 && Ex_dwTestLevel <= 3) {
      const int rc = get_exec_time(&est);
      out += format("estimate result %llu, %llu seconds\n", ull(rc), est);
      if (rc != 0) calls = 0;
    }
    for (int c = 0; c < calls; ++c) {
      out +=
          format("read result %llu\n", VykTp2PMEMRead(0x4000000, &status, &VykTp2MemStruct, &done));
      for (uint64_t a : ut::g_sim.dev.block_starts)
        starts += ++shown <= 40 ? format(" %llx", a) : "";
      ut::g_sim.dev.block_starts.clear();
      starts += c + 1 < calls ? " |" : "";
    }
    out += format("bytes 0x%llx, mirrored 0x%llx\n", done, Ex_dwlDebug_MSize.load());
    out += format("passes %llu, round word 0x%llx, copy 0x%llx\n", Ex_pass_cnt.load(), status >> 32,
                  Ex_dwDebug_TKind.load() >> 32);
    out += format("last block 0x%llx-0x%llx, execute_time %llu\n", Ex_test_ad_now,
                  Ex_test_ad_end_now.load(), execute_time);
    out += format("error class %llu ", Error_Details.error_class) + Error_Details.function_name;
    out += format(", result word %llu\n", Ex_dwReturnValue.load());
    out += format("device opened %llu, closed %llu\n", ull(ut::g_sim.opens), ull(ut::g_sim.closes));
    out += format("block buffers at most %llu, held %llu; sleeps %llu\n",
                  ull(ut::g_sim.most_blocks), ull(ut::g_sim.live_blocks), ut::world().sleeps);
    if (shown > 40) starts += format(" ... %llu in all", ull(shown));
    return out + "block starts:" + starts + "\n";
  }
  // The trace lines of the PMEM code.
  std::string pmem_trace() const {
    std::istringstream in(trace_log());
    std::string line, out;
    while (std::getline(in, line)) {
      for (const char* who : {",get_exec_time()", ",search_next_region()", ",VykTp2PMEMRead()"}) {
        if (line.find(who) != std::string::npos) out += line + "\n";
      }
    }
    return out;
  }
};

// name | map | keywords | read calls | clock step (us) | trace: golden pmem/<name>.txt
TEST_F(PmemReadTest, Passes) {
  for (const ts::Row& row : ts::read_table("unit/data/pmem_reads.txt", 6)) {
    SCOPED_TRACE(row.where);
    reset();
    ut::world().step_us = std::stoull(row[4]);
    std::string out = run(row[1], row[2], std::stoi(row[3]));
    if (row[5] == "trace") out += "trace:\n" + pmem_trace();
    EXPECT_TRUE(ts::matches_golden("pmem/" + row[0] + ".txt", out));
  }
}

// PMEM selected: the first chunk step hands over to the read pass, and no
// test chunk is allocated whatever SIZE says.
TEST_F(PmemReadTest, MainSequenceHandsOver) {
  ut::use_sim("ram=1G read=0-640K read=1M-1G");
  ut::Args args("-dev MEM -lv 1 -tp PMEM -size 256");
  Pre_Getp_ForProgress(args.argv());
  uint64_t est = 0;
  ASSERT_EQ(get_exec_time(&est), 0);
  EXPECT_EQ(VYTMEM_Main(1, 0, args.argc(), args.argv()), kRcOk);
  EXPECT_EQ(ut::world().chunk_calls, 0);
  EXPECT_EQ(Ex_pass_cnt.load(), 1u);
  EXPECT_NE(trace_log().find(",_NonPSE36MemoryTest()  PMEM read done..=0x3c0a0000\n"),
            std::string::npos);
}

// One round over 16 GiB: 255 blocks of 64 MiB, each in a fresh buffer.
TEST_F(PmemReadTest, ReadRate) {
  const auto t0 = std::chrono::steady_clock::now();
  const std::string out = run("read=0-16G", "-lv 1 -tp PMEM", 1);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_NE(out.find("bytes 0x3fc000000,"), std::string::npos) << out;
  std::printf("probe and one round of 16 GiB against the simulation: %.0f ms, %.1f GiB/s\n",
              s * 1000, 0x3fc000000 / s / (1 << 30));
}

}  // namespace
