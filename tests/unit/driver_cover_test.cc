// Cover mode: a pattern pass takes all its chunks before its first sweep,
// keeps them in RAM and gives every one back on each way the pass can end.
// (The cancel's release is in driver_runs_test.cc.)
#include "driver/cover.h"

#include <algorithm>
#include <iterator>
#include <string>

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
    uint32_t err = 0;
    VykTp2ParseParam2(Ex_argv, &VykTp2MemStruct, sel, &err);
    Commit_Size = 1 << 20;
    counters_ = 0;
    std::fill(std::begin(done_), std::end(done_), 0);
    Ex_pass_cnt.store(0);
    return VykTp2Mem(&VykTp2MemStruct, &counters_, done_, sel);
  }
  // What a run leaves that must not depend on how many threads shared it.
  std::string tally() const {
    std::string t = "calls=" + std::to_string(counters_) + " passes=" + std::to_string(Ex_pass_cnt);
    for (uint64_t d : done_) t += " " + std::to_string(d);
    return t;
  }
  size_t count_in_output(const std::string& text) const {
    size_t n = 0;
    const std::string out = output();
    for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
    return n;
  }
  uint64_t counters_ = 0;
  uint64_t done_[5] = {};
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

TEST_F(Cover, ThreeThreadsTakeEachChunkOnceAndCountAsOneThreadDoes) {
  meminfo(1024, 2048);
  ASSERT_EQ(run("-cover -tp MSCAN,MASEST,IMOVE"), kRcOk);
  const std::string one = tally();
  ASSERT_EQ(run("-cover -threads 3 -tp MSCAN,MASEST,IMOVE"), kRcOk);
  EXPECT_EQ(tally(), one);
  EXPECT_EQ(world().chunk_sizes.size(), 8u);  // four chunks for each run
  EXPECT_TRUE(world().live_chunks.empty());
}

TEST_F(Cover, TheFirstErrorOfTheThreadsIsTheOnlyOneReported) {
  meminfo(1024, 2048);
  EXPECT_EQ(run("-cover -threads 4 -tp MSCANX"), kRcCompare);
  EXPECT_EQ(count_in_output("Logical Address="), 1u) << output();
  EXPECT_TRUE(world().live_chunks.empty());
}

TEST_F(Cover, ThreadsZeroMeansOnePerOnlineCpu) {
  world().files["/sys/devices/system/cpu/online"] = "0-2,5\n";
  ut::Args args("-cover -threads 0");
  cover_setup(args.argc(), args.argv());
  EXPECT_EQ(cover_threads(), 4u);
}

TEST_F(Cover, ThreadsOutOfRangeOrWithoutCoverModeAreOne) {
  ut::Args wild("-cover -threads 65");
  cover_setup(wild.argc(), wild.argv());
  EXPECT_EQ(cover_threads(), 1u);
  ut::Args plain("-threads 2");
  cover_setup(plain.argc(), plain.argv());
  EXPECT_EQ(cover_threads(), 1u);
  EXPECT_NE(trace_log().find("-threads has no effect without -cover"), std::string::npos);
}

}  // namespace
