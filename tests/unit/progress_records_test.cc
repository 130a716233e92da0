// Progress steps of timed, sized and endless runs, driven through a fake
// clock, and the records they send.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/test_inf.h"
#include "common/transmit.h"
#include "driver/memstruct.h"
#include "params/param.h"
#include "pmem/pmem.h"
#include "progress/progress.h"
#include "test_support.h"

namespace {

// Far from the epoch, so a record carrying seconds since the epoch shows.
constexpr time_t kStart = 1700000000;

std::atomic<time_t> g_now{0};
std::atomic<int> g_end_calls{0};
std::atomic<int> g_end_status{-1};
std::atomic<bool> g_claim_result{true};
testsupport::OutputCapture* g_capture = nullptr;
std::string g_output_at_end;

time_t fake_now() {
  return g_now.load();
}
bool fake_claim() {
  return g_claim_result.load();
}
void fake_end(int status) {
  g_end_status = status;
  g_end_calls += 1;
  if (g_capture != nullptr) g_output_at_end = g_capture->text();
}

struct Record {
  uint32_t type = 0;
  uint32_t elapsed = 0, second = 0, percent = 0, state = 0;  // progress
  uint32_t status = 0;                                       // status
  std::string text;
};

// Splits captured output into records, trusting each length field.
std::vector<Record> parse_records(const std::string& out) {
  std::vector<Record> recs;
  size_t pos = 0;
  while ((pos = out.find("ONLPTL,0x", pos)) != std::string::npos) {
    const size_t len = std::stoul(out.substr(pos + 9, 8), nullptr, 16);
    const std::string rest = out.substr(pos + 18, len);
    const size_t nl = rest.find('\n');
    const std::string body = rest.substr(nl + 1);
    Record r;
    r.type = static_cast<uint32_t>(std::stoul(rest.substr(2, 2), nullptr, 16));
    if (r.type == kRecProgress) {
      std::sscanf(body.c_str(), "0x%x,0x%x,0x%x,0x%x,", &r.elapsed, &r.second, &r.percent,
                  &r.state);
      size_t p = 0;
      for (int i = 0; i < 4; ++i) p = body.find(',', p) + 1;
      r.text = body.substr(p, body.size() - p - 1);
    } else if (r.type == kRecStatus) {
      std::sscanf(body.c_str(), "0x%x,", &r.status);
    }
    recs.push_back(r);
    pos += 18 + len;
  }
  return recs;
}

std::vector<Record> running_records(const std::string& out) {
  std::vector<Record> recs;
  for (const Record& r : parse_records(out)) {
    if (r.type == kRecProgress && r.state != 2) recs.push_back(r);
  }
  return recs;
}

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    g_capture = &capture_;
    TEST_INF.test_mode = kModeOnline;
    transmit_setup("memtest", "MEM");
    set_progress_now_fn(&fake_now);
    set_progress_end_fn(&fake_end);
    set_progress_claim_fn(&fake_claim);
    Ex_MemStruct = &VykTp2MemStruct;
    VykTp2MemStruct.algo_no = kAlgoMscan;
    VykTp2MemStruct.data_kind = kDataCrossTalk;
    progress.start_time = static_cast<uint32_t>(kStart);
  }
  void TearDown() override {
    set_progress_now_fn(nullptr);
    set_progress_end_fn(nullptr);
    set_progress_claim_fn(nullptr);
    g_capture = nullptr;
    ResetGlobals();
  }
  static void ResetGlobals() {
    progress = {};
    Ex_thread_counter = 0;
    substantial_f = 0;
    old_times = 0;
    Ex_infini_start_time = 0;
    Ex_infini_cnt = 0;
    std::memset(Ex_progress_end_msg, 0, sizeof Ex_progress_end_msg);
    test_inf_clear();
    Ex_Thread_End_f = 0;
    Ex_pass_cnt = 0;
    Ex_dwTestLevel = 0;
    Ex_MemStruct = nullptr;
    memstruct_clear(&VykTp2MemStruct);
    execute_time_used = 0;
    execute_infinity_used = 0;
    execute_cancel = 0;
    Ex_pmem_FIND = 0;
    Ex_pmem_1round_sec = 0;
    g_now = 0;
    g_end_calls = 0;
    g_end_status = -1;
    g_claim_result = true;
    g_output_at_end.clear();
  }
  void TimeStep(time_t now) {
    g_now = now;
    innovate_progress_time(&progress, text_);
  }
  void EndlessStep(time_t now) {
    g_now = now;
    innovate_progress_infinity(&progress, text_);
  }
  std::string MakeMessage(uint32_t pass) {
    progress_make_message(&progress, text_, &pass);
    return text_;
  }

  testsupport::OutputCapture capture_;
  char text_[48] = {};
};

TEST_F(ProgressTest, LevelTwoWithoutRuntimeClimbsThroughOneRoundThenPins) {
  Ex_dwTestLevel = 2;
  progress.total_time = 600;
  for (time_t t = 0; t <= 700; ++t) TimeStep(kStart + t);
  const std::vector<Record> recs = running_records(capture_.text());
  ASSERT_EQ(recs.size(), 701u);
  struct Case {
    size_t tick;
    uint32_t percent, remaining;
  } const cases[] = {{0, 0, 600},  {6, 1, 594},   {300, 50, 300},
                     {599, 99, 1}, {600, 100, 0}, {700, 100, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tick);
    EXPECT_EQ(recs[c.tick].elapsed, c.tick);
    EXPECT_EQ(recs[c.tick].percent, c.percent);
    EXPECT_EQ(recs[c.tick].second, c.remaining);
    EXPECT_EQ(recs[c.tick].state, 1u);
    EXPECT_EQ(recs[c.tick].text, "I0399:<<MSCAN1 w/r Pass=0>>");
  }
  EXPECT_EQ(substantial_f, 1u);
}

TEST_F(ProgressTest, RuntimeRunReportsRemainingAndUnlimitedPercent) {
  execute_time_used = 1;
  progress.total_time = 60;
  Ex_pass_cnt = 7;
  for (time_t t : {30, 60, 90}) TimeStep(kStart + t);
  const std::vector<Record> recs = running_records(capture_.text());
  ASSERT_EQ(recs.size(), 3u);
  const uint32_t expect[3][3] = {{30, 30, 50}, {60, 0, 100}, {90, 0, 150}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(recs[i].elapsed, expect[i][0]);
    EXPECT_EQ(recs[i].second, expect[i][1]);
    EXPECT_EQ(recs[i].percent, expect[i][2]);
    EXPECT_EQ(recs[i].text, "I0399:<<MSCAN1 w/r Pass=7>>");
  }
  EXPECT_EQ(TEST_INF.pass_count.load(), 7u);
}

TEST_F(ProgressTest, CancelDuringRuntimeRunSendsStateThree) {
  execute_time_used = 1;
  progress.total_time = 60;
  TimeStep(kStart + 10);
  execute_cancel = 1;
  TimeStep(kStart + 11);
  const std::vector<Record> recs = running_records(capture_.text());
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].state, 1u);
  EXPECT_EQ(recs[1].state, 3u);
  EXPECT_EQ(recs[1].text, "I0399:<<memtest Canceled>>");
  EXPECT_EQ(recs[1].elapsed, 11u);
  EXPECT_EQ(recs[1].second, 49u);
}

TEST_F(ProgressTest, ZeroRoundLengthSendsZeroPercentAndZeroRemaining) {
  Ex_dwTestLevel = 1;
  Ex_pmem_FIND = 1;  // a PMEM estimate of 0 seconds replaces the 70 s round
  progress.total_time = 0;
  for (time_t t = 0; t < 3; ++t) TimeStep(kStart + t);
  const std::vector<Record> recs = running_records(capture_.text());
  ASSERT_EQ(recs.size(), 3u);
  for (const Record& r : recs) {
    EXPECT_EQ(r.percent, 0u);
    EXPECT_EQ(r.second, 0u);
  }
  EXPECT_EQ(progress.total_time, 1u);  // a total of 0 is never divided by
}

TEST_F(ProgressTest, ClockSetBackIsAbsorbedBelowThreeHundredSeconds) {
  struct Case {
    time_t back;
    bool ends;
  } const cases[] = {{10, false}, {299, false}, {300, true}, {400, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.back);
    ResetGlobals();
    SetUp();
    capture_.clear();
    execute_time_used = 1;
    progress.total_time = 1000;
    TimeStep(kStart + 500);
    TimeStep(kStart + 500 - c.back);
    std::vector<Record> recs = parse_records(capture_.text());
    if (!c.ends) {
      EXPECT_EQ(g_end_calls.load(), 0);
      EXPECT_EQ(recs.size(), 1u);  // nothing in the second the clock went back
      EXPECT_EQ(old_times, static_cast<int32_t>(kStart + 500 - c.back));
      TimeStep(kStart + 501 - c.back);
      recs = running_records(capture_.text());
      ASSERT_EQ(recs.size(), 2u);
      EXPECT_EQ(recs[1].elapsed, static_cast<uint32_t>(501 - c.back));
    } else {
      EXPECT_EQ(g_end_calls.load(), 1);
      EXPECT_EQ(g_end_status.load(), 0);
      const std::vector<Record> at_end = parse_records(g_output_at_end);
      ASSERT_FALSE(at_end.empty());
      EXPECT_EQ(at_end.back().type, kRecStatus);
      EXPECT_EQ(at_end.back().status, 1u);
      EXPECT_TRUE(progress_loop_stopped());
    }
  }
}

TEST_F(ProgressTest, StartTimeAfterNowEndsWithNoError) {
  progress.total_time = 60;
  TimeStep(kStart - 50);
  EXPECT_EQ(g_end_calls.load(), 1);
  EXPECT_EQ(g_end_status.load(), 0);
  const std::vector<Record> recs = parse_records(g_output_at_end);
  ASSERT_FALSE(recs.empty());
  EXPECT_EQ(recs.back().type, kRecStatus);
  EXPECT_EQ(recs.back().status, 1u);
  EXPECT_TRUE(running_records(g_output_at_end).empty());
}

TEST_F(ProgressTest, ClockBackLeavesTheEndToACancelThatOwnsIt) {
  g_claim_result = false;
  progress.total_time = 60;
  TimeStep(kStart - 50);
  EXPECT_EQ(g_end_calls.load(), 0);
  EXPECT_TRUE(parse_records(capture_.text()).empty());
  EXPECT_TRUE(progress_loop_stopped());
}

TEST_F(ProgressTest, PatrolModeSendsNothing) {
  TEST_INF.test_mode = kModePatrol;
  Ex_dwTestLevel = 1;
  progress.total_time = 70;
  for (time_t t = 0; t < 5; ++t) {
    TimeStep(kStart + t);
    EndlessStep(kStart + t);
  }
  EXPECT_EQ(capture_.text(), "");
  EXPECT_EQ(old_times, 0);
  EXPECT_EQ(Ex_thread_counter, 0u);
}

TEST_F(ProgressTest, EndlessRunRecordsAreTwoSecondsApartAndRoundsRestart) {
  execute_time_used = 1;
  execute_infinity_used = 1;
  Ex_pmem_FIND = 1;
  Ex_pmem_1round_sec = 4;
  Ex_pass_cnt = 2;
  VykTp2MemStruct.algo_no = kAlgoPmem;
  for (time_t t = 0; t <= 8; ++t) EndlessStep(kStart + t);
  const std::vector<Record> recs = running_records(capture_.text());
  // Steps every second, records at 0, 2, 4, 6, 8; the round of 4 s restarts
  // at 4 and at 8, the record of the restarting step keeps its full elapsed.
  const uint32_t expect[5][2] = {{0, 0}, {2, 50}, {4, 100}, {2, 50}, {4, 100}};
  ASSERT_EQ(recs.size(), 5u);
  for (size_t i = 0; i < recs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(recs[i].elapsed, expect[i][0]);
    EXPECT_EQ(recs[i].percent, expect[i][1]);
    EXPECT_EQ(recs[i].second, 0u);  // the total time of an endless run
    EXPECT_EQ(recs[i].text, "I0399:<<PMEM read Pass=2>>");
  }
  EXPECT_EQ(Ex_thread_counter, 5u);
}

TEST_F(ProgressTest, EndlessRunWithoutRoundLengthSendsZeroPercent) {
  execute_time_used = 1;
  execute_infinity_used = 1;
  for (time_t t = 0; t <= 4; ++t) EndlessStep(kStart + t);
  const std::vector<Record> recs = running_records(capture_.text());
  ASSERT_EQ(recs.size(), 3u);
  for (const Record& r : recs) {
    EXPECT_EQ(r.percent, 0u);
    EXPECT_LE(r.elapsed, 2u);
  }
}

TEST_F(ProgressTest, EndlessRunSendsNothingOnceTheTestHasEnded) {
  execute_time_used = 1;
  Ex_Thread_End_f = 1;
  EndlessStep(kStart);
  EXPECT_EQ(capture_.text(), "");
  EXPECT_EQ(Ex_thread_counter, 0u);
}

TEST_F(ProgressTest, RunningTextFollowsAlgorithmAndDataKind) {
  struct Case {
    uint16_t algo, kind;
    uint32_t pass;
    const char* text;
  } const cases[] = {
      {0, 0, 3, "I0399:<<Start processing Pass=3>>"},
      {kAlgoMscan, 0, 0, "I0399:<<Start processing Pass=0>>"},
      {kAlgoMscan, kDataAll, 1, "I0399:<<Start processing Pass=1>>"},
      {kAlgoMscan, kDataCrossTalk, 3, "I0399:<<MSCAN1 w/r Pass=3>>"},
      {kAlgoMscan, kDataRepeat, 3, "I0399:<<MSCAN2 w/r Pass=3>>"},
      {kAlgoMarch, kDataCrossTalk, 3, "I0399:<<MARCH1 w/r Pass=3>>"},
      {kAlgoMarch, kDataRepeat, 3, "I0399:<<MARCH2 w/r Pass=3>>"},
      {kAlgoMasest, kDataCrossTalk, 3, "I0399:<<MASEST1 w/r Pass=3>>"},
      {kAlgoMasest, kDataRepeat, 3, "I0399:<<MASEST2 w/r Pass=3>>"},
      {kAlgoBmove, kDataCrossTalk, 3, "I0399:<<BMOVE1 w/r Pass=3>>"},
      {kAlgoBmove, kDataRepeat, 3, "I0399:<<BMOVE2 w/r Pass=3>>"},
      {kAlgoImove, kDataCrossTalk, 3, "I0399:<<IMOVE1 w/r Pass=3>>"},
      {kAlgoImove, kDataRepeat, 3, "I0399:<<IMOVE2 w/r Pass=3>>"},
      {kAlgoPmem, 0, 3, "I0399:<<PMEM read Pass=3>>"},
      {kAlgoPmem, kDataRepeat, 3, "I0399:<<PMEM read Pass=3>>"},
      {28, kDataCrossTalk, 3, "I0399:<<Start processing Pass=3>>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    VykTp2MemStruct.algo_no = c.algo;
    VykTp2MemStruct.data_kind = c.kind;
    EXPECT_EQ(MakeMessage(c.pass), c.text);
    EXPECT_STREQ(Ex_progress_end_msg, c.text);
  }
}

TEST_F(ProgressTest, PassNumberWrapsAtTenThousandAndLatchesAt9999) {
  struct Case {
    uint32_t pass;
    const char* text;
  } const sequence[] = {
      {1234, "I0399:<<MSCAN1 w/r Pass=1234>>"}, {12345, "I0399:<<MSCAN1 w/r Pass=2345>>"},
      {9998, "I0399:<<MSCAN1 w/r Pass=9998>>"}, {20001, "I0399:<<MSCAN1 w/r Pass=1>>"},
      {9999, "I0399:<<MSCAN1 w/r Pass=9999>>"}, {12345, "I0399:<<MSCAN1 w/r Pass=9999>>"},
      {3, "I0399:<<MSCAN1 w/r Pass=9999>>"},
  };
  for (const Case& c : sequence) {
    SCOPED_TRACE(c.pass);
    EXPECT_EQ(MakeMessage(c.pass), c.text);
  }
  EXPECT_EQ(Ex_infini_cnt, 9999u);
}

TEST_F(ProgressTest, RunningTextGivesUpWhenTheTestEndsBeforeTheControlBlock) {
  Ex_MemStruct = nullptr;
  Ex_Thread_End_f = 1;
  std::memset(text_, 'x', sizeof text_);
  EXPECT_EQ(MakeMessage(1), "");
  EXPECT_EQ(Ex_progress_end_msg[0], '\0');
}

TEST_F(ProgressTest, FinalTextFollowsCancelAndRuntime) {
  struct Case {
    uint32_t cancel, time_used;
    const char* text;
  } const cases[] = {{1, 1, "I0399:<<memtest Canceled>>"},
                     {1, 0, "I0399:<<memtest Canceled>>"},
                     {0, 0, "I0399:<<memtest No Error>>"},
                     {0, 1, "I0399:<<memtest Completed>>"}};
  for (const Case& c : cases) {
    execute_cancel = c.cancel;
    execute_time_used = c.time_used;
    progress_end_make_message_IA(text_);
    EXPECT_STREQ(text_, c.text);
  }
}

// The real thread: it must report and then end promptly once the run loop
// sets the end flag.
TEST_F(ProgressTest, ThreadReportsUntilTheEndFlagAndReturnsOne) {
  execute_time_used = 1;
  progress.total_time = 60;
  g_now = kStart + 5;
  for (intptr_t arg : {2, 1}) {
    SCOPED_TRACE(arg);
    capture_.clear();
    old_times = 0;
    Ex_Thread_End_f = 0;
    void* result = nullptr;
    std::thread th([&] { result = thread_memtest(reinterpret_cast<void*>(arg)); });
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (running_records(capture_.text()).empty() && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Ex_Thread_End_f = 1;
    th.join();
    EXPECT_EQ(result, reinterpret_cast<void*>(1));
    const std::vector<Record> recs = running_records(capture_.text());
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(recs[0].text, "I0399:<<MSCAN1 w/r Pass=0>>");
    EXPECT_STREQ(Ex_progress_end_msg, "I0399:<<MSCAN1 w/r Pass=0>>");
  }
}

}  // namespace
