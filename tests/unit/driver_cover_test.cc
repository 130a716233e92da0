// Cover mode: a pattern pass takes all its chunks before its first sweep,
// keeps them in RAM and gives every one back on each way the pass can end.
// (The cancel's release is in driver_runs_test.cc.)
#include "driver/cover.h"
#include "driver/main_seq.h"
#include "fixture.h"
#include "params/parse_param.h"
#include "params/prescan.h"

namespace {

using ut::world;

class Cover : public ut::MemtestTest {
 protected:
  // One run over a 4 MiB size in 1 MiB chunks; returns its result.
  uint32_t run(const std::string& words) {
    ut::Args args("-lv 1 " + words + " -size 4");
    cover_setup(args.argc(), args.argv());
    Pre_Getp_ForProgress(Ex_argv = args.argv());
    uint8_t sel[5] = {};
    uint64_t done[5] = {}, counters = 0;
    uint32_t err = 0;
    VykTp2ParseParam2(Ex_argv, &VykTp2MemStruct, sel, &err);
    Commit_Size = 1 << 20;
    return VykTp2Mem(&VykTp2MemStruct, &counters, done, sel);
  }
  static void meminfo(int avail_mib, int total_mib) {
    world().files["/proc/meminfo"] = "MemTotal: " + std::to_string(total_mib * 1024) +
                                     " kB\nMemAvailable: " + std::to_string(avail_mib * 1024) +
                                     " kB\n";
  }
  bool output_has(const std::string& text) const {
    return output().find(text) != std::string::npos;
  }
};

TEST_F(Cover, EachChunkOfThePassIsTakenOnceLockedAndGivenBack) {
  meminfo(1024, 2048);
  EXPECT_EQ(run("-cover -tp MSCAN,MASEST"), kRcOk);
  // Five sweeps (MSCAN to IMOVE) over four chunks, taken once.
  EXPECT_EQ(world().chunk_sizes.size(), 4u);
  EXPECT_TRUE(world().live_chunks.empty());
  EXPECT_TRUE(world().locked.empty());
  EXPECT_NE(trace_log().find("holding 0x4 chunks of 0x100000 bytes, 0 not locked"),
            std::string::npos);
}

TEST_F(Cover, AMemoryErrorGivesTheChunksBack) {
  EXPECT_EQ(run("-cover -tp MSCANX"), kRcCompare);
  EXPECT_EQ(world().chunk_sizes.size(), 4u);
  EXPECT_TRUE(world().live_chunks.empty());
}

TEST_F(Cover, AFailedAllocationGivesBackWhatWasTaken) {
  world().chunk_fail_at = 2;
  EXPECT_EQ(run("-cover -tp MSCAN"), kRcSyscall);
  EXPECT_TRUE(output_has("Function : VirtualAlloc")) << output();
  EXPECT_TRUE(world().live_chunks.empty());
}

TEST_F(Cover, ASizeBeyondMemAvailableLessTheReserveIsRefusedBeforeAnyChunk) {
  meminfo(259, 1024);  // 256 MiB of reserve leave 3 MiB
  EXPECT_EQ(run("-cover -tp MSCAN"), kRcSyscall);
  EXPECT_EQ(world().chunk_calls, 0);
  EXPECT_TRUE(output_has("Function : VirtualAlloc")) << output();
  EXPECT_NE(trace_log().find("0x400000 bytes do not fit: MemAvailable 0x10300000 less a reserve "
                             "of 0x10000000"),
            std::string::npos);
  meminfo(260, 1024);
  EXPECT_EQ(run("-cover -tp MSCAN"), kRcOk);
}

}  // namespace
