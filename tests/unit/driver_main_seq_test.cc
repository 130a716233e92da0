// The main sequence: runs, pattern passes, sweeps and chunks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "algorithms/mscan.h"
#include "common/logfile.h"
#include "common/test_inf.h"
#include "common/transmit.h"
#include "driver/main_seq.h"
#include "state/memstruct.h"
#include "params/param.h"
#include "state/pmem_state.h"
#include "progress/clock.h"
#include "test_support.h"

namespace {

constexpr uint64_t kMiB = 0x100000;
constexpr uint64_t kStartUs = 1700000000ull * 1000000;

// Heap behind the chunk seam: real blocks, counted; can be told to fail.
struct FakeHeap {
  int calls = 0;
  int fail_at = -1;  // call number (from 0) that fails; -1: none
  std::vector<uint32_t> sizes;
  std::set<void*> live;
} g_heap;

void* fake_alloc(size_t size) {
  const int call = g_heap.calls++;
  if (call == g_heap.fail_at) return nullptr;
  void* p = std::malloc(size);
  g_heap.sizes.push_back(static_cast<uint32_t>(size));
  g_heap.live.insert(p);
  return p;
}

void fake_free(void* p) {
  g_heap.live.erase(p);
  std::free(p);
}

// Wall clock under test control: `step` microseconds pass on every read.
uint64_t g_now_us = kStartUs;
uint64_t g_step_us = 0;

int fake_timeofday(struct timeval* tv) {
  tv->tv_sec = static_cast<time_t>(g_now_us / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(g_now_us % 1000000);
  g_now_us += g_step_us;
  return 0;
}

// What MSCAN saw between its sweeps.
struct SweepSeen {
  uint16_t data_kind;
  uint16_t algo_no;
  bool chunk_recorded;  // Ex_lpCommittedBuffer / Ex_Committed_dwSize name this chunk
};
std::vector<SweepSeen> g_sweeps;
uint64_t g_hook_advance_ms = 0;

void sweep_hook(void* buffer, uint64_t) {
  const bool recorded = Ex_lpCommittedBuffer.load() == buffer && g_heap.live.count(buffer) == 1 &&
                        Ex_Committed_dwSize.load() == g_heap.sizes.back();
  g_sweeps.push_back({VykTp2MemStruct.data_kind.load(), VykTp2MemStruct.algo_no.load(), recorded});
  g_now_us += g_hook_advance_ms * 1000;
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class MainSeqTest : public ::testing::Test {
 protected:
  void SetUp() override { begin(); }
  void TearDown() override { end(); }

  // Table-driven tests start every case on fresh state.
  void fresh() {
    end();
    begin();
  }

  void begin() {
    out_.clear();
    std::remove(logs_.file("memot_log.0").c_str());
    std::remove(logs_.file("memot_log.1").c_str());
    std::memset(sel_, 0, sizeof sel_);
    std::memset(done_, 0, sizeof done_);
    counters_ = 0;
    test_inf_clear();
    ASSERT_EQ(tp_area_ctl(kAreaCreate, 1024), 0);
    std::snprintf(TEST_INF.data_path, sizeof TEST_INF.data_path, "%s",
                  testsupport::data_dir().c_str());
    TEST_INF.test_mode = kModeOnline;
    ASSERT_EQ(get_msgtbl("onl_msge.txt"), 0);
    std::snprintf(TEST_INF.trace_log_base, sizeof TEST_INF.trace_log_base, "%s",
                  logs_.file("memot").c_str());
    TEST_INF.log_size_limit = 1 << 24;
    TEST_INF.log_generations = 2;
    std::strcpy(TEST_INF.module_name, "memtest");
    std::strcpy(TEST_INF.device_name, "MEM");
    TEST_INF.test_level = 1;
    transmit_setup("memtest", "MEM");

    memstruct_clear(&VykTp2MemStruct);
    VykTp2MemStruct.param = &ParamStruct;
    ParamStruct = ParamStruct_t{};
    Error_Details = Error_Details_t{};
    std::memset(Fake_Err, 0, sizeof Fake_Err);
    Ex_dwTestLevel = 1;
    Ex_pass_cnt = 0;
    Ex_error_list_level = 0;
    Ex_lpCommittedBuffer = nullptr;
    Ex_Committed_dwSize = 0;
    Ex_dwDebug_TKind = 0;
    Commit_Size = 0x4000000;
    execute_time = 30000;
    execute_time_used = 0;
    execute_infinity_used = 0;
    execute_size_used = 0;
    execute_waitsec = 0;
    execute_waitsec_used = 0;
    execute_cancel = 0;
    Ex_pmem_FIND = 0;
    Ex_test_ad = 0;

    g_heap = FakeHeap{};
    set_chunk_allocator(&fake_alloc, &fake_free);
    g_sweeps.clear();
    g_hook_advance_ms = 0;
    set_mscan_sweep_hook(&sweep_hook);
    g_now_us = kStartUs;
    g_step_us = 0;
    set_timeofday_fn(&fake_timeofday);
    Ex_Prev_MSec = memtest_GetTickCount();
  }

  void end() {
    // Whatever a test did, no chunk may be left held or on the heap.
    EXPECT_TRUE(g_heap.live.empty());
    EXPECT_EQ(Ex_lpCommittedBuffer.load(), nullptr);
    EXPECT_EQ(Ex_Committed_dwSize.load(), 0u);
    for (const SweepSeen& s : g_sweeps) EXPECT_TRUE(s.chunk_recorded);
    set_chunk_allocator(nullptr, nullptr);
    set_mscan_sweep_hook(nullptr);
    set_timeofday_fn(nullptr);
    tp_area_ctl(kAreaFreeAll, 0);
    test_inf_clear();
    Commit_Size = 0x4000000;
    execute_time = 30000;
    Ex_dwTestLevel = 0;
    Ex_pass_cnt = 0;
    Ex_error_list_level = 0;
    Ex_dwDebug_TKind = 0;
    Ex_pmem_FIND = 0;
    std::memset(Fake_Err, 0, sizeof Fake_Err);
    memstruct_clear(&VykTp2MemStruct);
  }

  uint32_t run(std::vector<std::string> args) {
    args.insert(args.begin(), "memtest");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return VYTMEM_Main(Ex_dwTestLevel, Ex_dwTestLevel == 0 ? 1 : 0, static_cast<int>(args.size()),
                       argv.data());
  }

  // One pattern pass (cross talk) with the parameters set directly.
  uint32_t pass(uint16_t mode, const char* sel5, uint64_t size, uint32_t pattern_pass = 1) {
    ParamStruct.dwSize = size;
    ParamStruct.wTestMode = mode;
    for (int i = 0; i < 5; ++i) sel_[i] = sel5[i] == 'w' ? kAlgoSelected : 0;
    VykTp2MemStruct.data_kind = kDataCrossTalk;
    return VykTp2NonPSE36MemoryTest(&VykTp2MemStruct, &counters_, done_, sel_, pattern_pass);
  }

  std::string trace() const { return testsupport::read_file(logs_.file("memot_log.0")); }

  testsupport::TempDir logs_;
  testsupport::OutputCapture out_;
  uint8_t sel_[5] = {};
  uint64_t done_[5] = {};
  uint64_t counters_ = 0;
};

// Chunk size and count: at most Commit_Size per chunk, remainder untested,
// each chunk taken anew for each of MSCAN's four one-by-one sweeps.
TEST_F(MainSeqTest, ChunksPerSweep) {
  struct Case {
    const char* name;
    uint64_t size, commit;
    uint32_t level;
    uint64_t clock_step_ms;  // 50 at level 0: MSCAN's sweeps stop at once
    uint32_t chunk;
    size_t allocations, mscan_calls;
  } cases[] = {
      {"2MiB one chunk", 2 * kMiB, 0x4000000, 1, 0, 0x200000, 4, 1},
      {"100MiB one 64MiB chunk", 100 * kMiB, 0x4000000, 0, 50, 0x4000000, 4, 1},
      {"five chunks and a remainder", 5 * 0x10000 + 0x2800, 0x10000, 1, 0, 0x10000, 20, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    Commit_Size = c.commit;
    Ex_dwTestLevel = c.level;
    g_step_us = c.clock_step_ms * 1000;
    EXPECT_EQ(pass(kTestOneByOne, "w----", c.size), kRcOk);
    EXPECT_EQ(g_heap.sizes, std::vector<uint32_t>(c.allocations, c.chunk));
    EXPECT_EQ(g_sweeps.size(), c.mscan_calls);
    EXPECT_EQ(Ex_pass_cnt.load(), c.mscan_calls);  // one per successful MSCAN chunk
    EXPECT_EQ(TEST_INF.pass_count.load(), c.mscan_calls);
    EXPECT_EQ(VykTp2MemStruct.algo_no.load(), 0);
  }
}

// Sweep plans by mode and selection; a selected algorithm that is not in this
// build ends the run as a parameter error instead of passing untested.
TEST_F(MainSeqTest, SweepPlans) {
  struct Case {
    const char* name;
    uint16_t mode;
    const char* sel;
    uint32_t pmem;
    uint32_t result;
    size_t allocations, mscan_calls;
    uint32_t passes;
    const char* traced;
    const char* not_traced;
  } cases[] = {
      {"MSCAN and IMOVE one by one", kTestOneByOne, "w---w", 0, kRcOk, 4, 1, 1,
       "MSCAN done..=0x200000", "Moving Inversion is not"},
      {"MARCH alone", kTestOneByOne, "-w---", 0, kRcParam, 1, 0, 0, "MARCH is not available",
       "MSCAN done"},
      {"IMOVE alone", kTestOneByOne, "----w", 0, kRcParam, 1, 0, 0,
       "Moving Inversion is not available", "MSCAN done"},
      {"nothing selected", kTestOneByOne, "-----", 0, kRcOk, 0, 0, 0, "Ended", "is not available"},
      {"WHOLE", kTestWhole, "wwwww", 0, kRcParam, 3, 1, 0, "MASEST is not available",
       "MARCH is not"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    Ex_pmem_FIND = c.pmem;
    EXPECT_EQ(pass(c.mode, c.sel, 2 * kMiB), c.result);
    EXPECT_EQ(out_.text().find(" ABORT   : Parameter Error\n") != std::string::npos,
              c.result == kRcParam);
    EXPECT_EQ(Ex_lpCommittedBuffer.load(), nullptr);
    EXPECT_EQ(g_heap.calls, static_cast<int>(c.allocations));
    EXPECT_EQ(g_sweeps.size(), c.mscan_calls);
    EXPECT_EQ(Ex_pass_cnt.load(), c.passes);
    EXPECT_EQ(counters_, c.mscan_calls);  // only calls that ran are counted
    const std::string t = trace();
    EXPECT_NE(t.find(c.traced), std::string::npos);
    EXPECT_EQ(t.find(c.not_traced), std::string::npos);
  }
}

// Levels 2, and 3 on the second pattern pass, count one more pass at the end
// of a pattern pass when MSCAN, MASEST, BMOVE and IMOVE all did work (here on
// top of the one pass of the single MSCAN chunk).
TEST_F(MainSeqTest, EndOfPassCount) {
  struct Case {
    uint32_t level, pattern_pass;
    bool bmove_done;
    uint32_t passes;
  } cases[] = {{2, 1, true, 2}, {2, 1, false, 1}, {3, 1, true, 1},
               {3, 2, true, 2}, {1, 2, true, 1},  {0, 2, true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "level " << c.level << " pass " << c.pattern_pass);
    fresh();
    Ex_dwTestLevel = c.level;
    done_[2] = done_[4] = 8;
    done_[3] = c.bmove_done ? 8 : 0;
    EXPECT_EQ(pass(kTestOneByOne, "w----", 2 * kMiB, c.pattern_pass), kRcOk);
    EXPECT_EQ(done_[0], 2 * kMiB);
    EXPECT_EQ(Ex_pass_cnt.load(), c.passes);
  }
}

// Counter bytes stop at 255; the low half is published after MSCAN.
TEST_F(MainSeqTest, CallCountersSaturate) {
  Commit_Size = 0x10000;
  counters_ = 0x000000AA000000FEull;
  Ex_dwDebug_TKind = 0x1234567800000000ull;
  EXPECT_EQ(pass(kTestOneByOne, "w----", 3 * 0x10000), kRcOk);
  EXPECT_EQ(counters_, 0x000000AA000000FFull);
  EXPECT_EQ(Ex_dwDebug_TKind.load(), 0x12345678000000FFull);
}

// Level 0: a chunk is not started once 1000 ms have passed since the sweep
// began, and the pattern pass then ends normally.
TEST_F(MainSeqTest, TimeCheckBeforeChunkAtLevel0) {
  struct Case {
    uint64_t per_chunk_ms;
    int allocations;
  } cases[] = {{0, 12}, {999, 2}, {1000, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.per_chunk_ms);
    fresh();
    Ex_dwTestLevel = 0;
    Commit_Size = 0x10000;
    g_hook_advance_ms = c.per_chunk_ms;
    EXPECT_EQ(pass(kTestOneByOne, "w----", 3 * 0x10000), kRcOk);
    EXPECT_EQ(g_heap.calls, c.allocations);
    EXPECT_EQ(VykTp2MemStruct.algo_no.load(), 0);
    EXPECT_NE(trace().find("Releasing user Memory"), std::string::npos);
  }
}

// A whole run through the parser, with the argument and counter traces.
TEST_F(MainSeqTest, TypicalRun) {
  Ex_dwDebug_TKind = 0x0000000500000003ull;  // counters carry on from earlier runs
  EXPECT_EQ(run({"-lv", "1", "-tp", "MSCAN"}), kRcOk);
  EXPECT_EQ(g_heap.sizes, std::vector<uint32_t>(4, 0x200000));
  ASSERT_EQ(g_sweeps.size(), 1u);
  EXPECT_EQ(g_sweeps[0].data_kind, kDataCrossTalk);
  EXPECT_EQ(g_sweeps[0].algo_no, kAlgoMscan);
  EXPECT_EQ(Ex_pass_cnt.load(), 1u);
  EXPECT_EQ(VykTp2MemStruct.mem_kind, 0);
  EXPECT_EQ(VykTp2MemStruct.data_kind.load(), 0);
  EXPECT_EQ(Ex_dwDebug_TKind.load(), 0x0000000500000004ull);
  const std::string t = trace();
  EXPECT_NE(t.find(",memtest argv= -lv 1 -tp MSCAN\n"), std::string::npos);
  EXPECT_NE(t.find("_Main()  dwDebug_TKind=0x0000000500000004\n"), std::string::npos);

  run({"-lv", "1"});  // missing arguments show as empty texts
  EXPECT_NE(trace().find(",memtest argv= -lv 1  \n"), std::string::npos);
}

TEST_F(MainSeqTest, DataPatternPasses) {
  struct Case {
    const char* data;
    std::vector<uint16_t> kinds;
  } cases[] = {{"ALL", {kDataCrossTalk, kDataRepeat}},
               {"REPEAT", {kDataRepeat}},
               {"CROSSTALK", {kDataCrossTalk}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    fresh();
    EXPECT_EQ(run({"-lv", "1", "-tp", "MSCAN", "-data", c.data}), kRcOk);
    std::vector<uint16_t> kinds;
    for (const SweepSeen& s : g_sweeps) kinds.push_back(s.data_kind);
    EXPECT_EQ(kinds, c.kinds);
    EXPECT_EQ(Ex_pass_cnt.load(), c.kinds.size());
  }
}

// Level 0: a cross-talk pass that used up its second skips the repeat pass.
TEST_F(MainSeqTest, PassEndTimeCheckAtLevel0) {
  struct Case {
    uint64_t ms;
    size_t passes;
  } cases[] = {{999, 2}, {1000, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    fresh();
    Ex_dwTestLevel = 0;
    g_hook_advance_ms = c.ms;
    EXPECT_EQ(run({"-tp", "MSCAN", "-data", "ALL"}), kRcOk);
    EXPECT_EQ(g_sweeps.size(), c.passes);
    EXPECT_EQ(count_of(trace(), "REPEATE Data Pattern"), c.passes - 1);
  }
}

TEST_F(MainSeqTest, UseAweTestsNothing) {
  EXPECT_EQ(run({"-lv", "1", "-tp", "MSCAN", "-use", "AWE"}), kRcOk);
  EXPECT_EQ(g_heap.calls, 0);
  EXPECT_TRUE(g_sweeps.empty());
  EXPECT_EQ(out_.text().find("ABORT"), std::string::npos);
}

TEST_F(MainSeqTest, AllocationFailureIsSystemCallError) {
  for (int fail_at : {0, 1}) {
    SCOPED_TRACE(fail_at);
    fresh();
    Commit_Size = kMiB;  // -size 2: two chunks
    g_heap.fail_at = fail_at;
    EXPECT_EQ(run({"-lv", "1", "-tp", "MSCAN", "-size", "2"}), kRcSyscall);
    EXPECT_EQ(g_heap.calls, fail_at + 1);
    EXPECT_EQ(g_sweeps.size(), static_cast<size_t>(fail_at));
    EXPECT_EQ(Ex_error_list_level.load(), 0x80000000u);
    const std::string o = out_.text();
    EXPECT_NE(o.find("WARNNING ! CommitMemory 0x100000Byte Couldn't Allocate"), std::string::npos);
    EXPECT_EQ(count_of(o, " ABORT   : System Call Error\n"), 1u);
    EXPECT_NE(o.find("    Function : VirtualAlloc\n"), std::string::npos);
  }
}

TEST_F(MainSeqTest, ParameterErrorsAreListed) {
  struct Case {
    std::vector<std::string> args;
    const char* title;
  } cases[] = {
      {{"-use", "FOO"}, "Starting Parameter Error(/USE Parameter #1)"},
      {{"-tp", "FOO"}, "Starting Parameter Error(/TP Parameter #1)"},
      {{"-tp", "MSCAN", "-data", "XYZ"}, "Starting Parameter Error(/DATA Parameter #1)"},
      {{"-tp", "MSCAN", "-use", "PSE36"}, "Starting Parameter Error(There's no PSE36.)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    fresh();
    std::vector<std::string> args{"-lv", "1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(run(args), kRcParam);
    EXPECT_EQ(g_heap.calls, 0);
    EXPECT_EQ(count_of(out_.text(), std::string(" ABORT   : ") + c.title + "\n"), 1u);
    EXPECT_EQ(Ex_error_list_level.load(), 0x80000000u);
  }
}

TEST_F(MainSeqTest, MscanxGivesOneCompareError) {
  EXPECT_EQ(run({"-lv", "1", "-tp", "MSCANX"}), kRcCompare);
  const std::string o = out_.text();
  EXPECT_EQ(count_of(o, " ERROR   : MSCAN Data Compare Error(Ref No. 1)\n"), 1u);
  EXPECT_EQ(count_of(o, "DIAGNOSIS RESULT"), 1u);  // one list, no abort list after it
  EXPECT_EQ(g_heap.calls, 1);
  EXPECT_EQ(Ex_pass_cnt.load(), 0u);
  EXPECT_EQ(Ex_error_list_level.load(), 0u);
}

}  // namespace
