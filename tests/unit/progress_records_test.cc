// Progress steps of timed, sized and endless runs under a fake clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/test_inf.h"
#include "common/transmit.h"
#include "state/memstruct.h"
#include "params/param.h"
#include "state/pmem_state.h"
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

struct Record {
  uint32_t type = 0, elapsed = 0, second = 0, percent = 0, state = 0;
  std::string body, text;
};

// Splits captured output into records, trusting each length field.
std::vector<Record> parse_records(const std::string& out, bool running_only = false) {
  std::vector<Record> recs;
  size_t pos = 0;
  while ((pos = out.find("ONLPTL,0x", pos)) != std::string::npos) {
    const size_t len = std::stoul(out.substr(pos + 9, 8), nullptr, 16);
    const std::string rest = out.substr(pos + 18, len);
    pos += 18 + len;
    Record r;
    r.type = static_cast<uint32_t>(std::stoul(rest.substr(2, 2), nullptr, 16));
    r.body = rest.substr(rest.find('\n') + 1);
    if (r.type == kRecProgress) {
      std::sscanf(r.body.c_str(), "0x%x,0x%x,0x%x,0x%x,", &r.elapsed, &r.second, &r.percent,
                  &r.state);
      size_t p = 0;
      for (int i = 0; i < 4; ++i) p = r.body.find(',', p) + 1;
      r.text = r.body.substr(p, r.body.size() - p - 1);
    }
    if (!running_only || (r.type == kRecProgress && r.state != 2)) recs.push_back(r);
  }
  return recs;
}

std::vector<Record> running_records(const std::string& out) {
  return parse_records(out, true);
}

// "elapsed/remaining/percent/state" of the chosen records, space separated.
std::string summary(const std::vector<Record>& recs, std::initializer_list<size_t> picks) {
  std::string s;
  for (size_t i : picks) {
    if (i >= recs.size()) return s + "missing " + std::to_string(i);
    const Record& r = recs[i];
    s += (s.empty() ? "" : " ") + std::to_string(r.elapsed) + "/" + std::to_string(r.second) + "/" +
         std::to_string(r.percent) + "/" + std::to_string(r.state);
  }
  return s;
}

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    g_capture = &capture_;
    TEST_INF.test_mode = kModeOnline;
    transmit_setup("memtest", "MEM");
    set_progress_now_fn([] { return g_now.load(); });
    set_progress_claim_fn([] { return g_claim_result.load(); });
    set_progress_end_fn([](int status) {
      g_end_status = status;
      g_end_calls += 1;
      if (g_capture != nullptr) g_output_at_end = g_capture->text();
    });
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
    test_inf_clear();
    memstruct_clear(&VykTp2MemStruct);
    std::memset(Ex_progress_end_msg, 0, sizeof Ex_progress_end_msg);
    Ex_MemStruct = nullptr;
    Ex_thread_counter = substantial_f = old_times = 0;
    Ex_infini_start_time = Ex_infini_cnt = Ex_Thread_End_f = Ex_pass_cnt = Ex_dwTestLevel = 0;
    execute_time_used = execute_infinity_used = execute_cancel = 0;
    Ex_pmem_FIND = Ex_pmem_1round_sec = 0;
    g_now = g_end_calls = 0;
    g_end_status = -1;
    g_claim_result = true;
    g_output_at_end.clear();
  }
  void TimeStep(time_t t) {
    g_now = kStart + t;
    innovate_progress_time(&progress, text_);
  }
  void EndlessStep(time_t t) {
    g_now = kStart + t;
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
  for (time_t t = 0; t <= 700; ++t) TimeStep(t);
  const std::vector<Record> recs = running_records(capture_.text());
  ASSERT_EQ(recs.size(), 701u);
  EXPECT_EQ(summary(recs, {0, 300, 599, 600, 700}),
            "0/600/0/1 300/300/50/1 599/1/99/1 600/0/100/1 700/0/100/1");
  EXPECT_EQ(recs[300].text, "I0399:<<MSCAN1 w/r Pass=0>>");
  EXPECT_EQ(substantial_f, 1u);
}

// Percent is not capped once a timed run overruns; a cancel sends state 3.
TEST_F(ProgressTest, RuntimeRunAndCancel) {
  execute_time_used = 1;
  progress.total_time = 60;
  Ex_pass_cnt = 7;
  for (time_t t : {30, 60, 90}) TimeStep(t);
  execute_cancel = 1;
  TimeStep(91);
  const std::vector<Record> recs = running_records(capture_.text());
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(summary(recs, {0, 1, 2, 3}), "30/30/50/1 60/0/100/1 90/0/150/1 91/0/151/3");
  EXPECT_EQ(recs[2].text, "I0399:<<MSCAN1 w/r Pass=7>>");
  EXPECT_EQ(recs[3].text, "I0399:<<memtest Canceled>>");
  EXPECT_EQ(TEST_INF.pass_count.load(), 7u);
}

TEST_F(ProgressTest, ZeroRoundLengthIsNeverDividedBy) {
  Ex_dwTestLevel = 1;
  Ex_pmem_FIND = 1;  // a PMEM estimate of 0 seconds replaces the 70 s round
  for (time_t t = 0; t < 3; ++t) TimeStep(t);
  EXPECT_EQ(summary(running_records(capture_.text()), {0, 2}), "0/0/0/1 2/0/0/1");
  EXPECT_EQ(progress.total_time, 1u);
}

// A clock set back by less than 300 s is absorbed; by 300 s or more (or a
// start time after now) the run ends with No Error.
TEST_F(ProgressTest, ClockSetBack) {
  struct Case {
    std::vector<time_t> steps;
    bool ends;
  } const cases[] = {{{500, 490}, false}, {{500, 201}, false}, {{500, 200}, true}, {{-50}, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.steps.back());
    ResetGlobals();
    SetUp();
    capture_.clear();
    execute_time_used = c.steps.size() > 1;
    progress.total_time = 1000;
    for (time_t t : c.steps) TimeStep(t);
    if (c.ends) {  // a No Error status record goes out before the end seam
      EXPECT_EQ(g_end_calls.load(), 1);
      EXPECT_EQ(g_end_status.load(), 0);
      const std::vector<Record> at_end = parse_records(g_output_at_end);
      ASSERT_FALSE(at_end.empty());
      EXPECT_EQ(at_end.back().type, kRecStatus);
      EXPECT_EQ(at_end.back().body.substr(0, 5), "0x01,");
      EXPECT_TRUE(progress_loop_stopped());
      continue;
    }
    EXPECT_EQ(g_end_calls.load(), 0);
    EXPECT_EQ(parse_records(capture_.text()).size(), 1u);  // nothing in the second gone back
    TimeStep(c.steps.back() + 1);
    const std::vector<Record> recs = running_records(capture_.text());
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[1].elapsed, static_cast<uint32_t>(c.steps.back() + 1));
  }
}

TEST_F(ProgressTest, ClockBackLeavesTheEndToACancelThatOwnsIt) {
  g_claim_result = false;
  progress.total_time = 60;
  TimeStep(-50);
  EXPECT_EQ(g_end_calls.load(), 0);
  EXPECT_EQ(capture_.text(), "");
  EXPECT_TRUE(progress_loop_stopped());
}

TEST_F(ProgressTest, PatrolModeOrEndedTestSendsNothing) {
  TEST_INF.test_mode = kModePatrol;
  Ex_dwTestLevel = 1;
  progress.total_time = 70;
  for (time_t t = 0; t < 5; ++t) {
    TimeStep(t);
    EndlessStep(t);
  }
  TEST_INF.test_mode = kModeOnline;
  execute_time_used = 1;
  Ex_Thread_End_f = 1;
  EndlessStep(6);
  EXPECT_EQ(capture_.text(), "");
  EXPECT_EQ(Ex_thread_counter, 0u);
}

TEST_F(ProgressTest, EndlessRunRecordsAreTwoSecondsApartAndRoundsRestart) {
  execute_time_used = execute_infinity_used = 1;
  Ex_pmem_FIND = 1;
  Ex_pmem_1round_sec = 4;
  Ex_pass_cnt = 2;
  VykTp2MemStruct.algo_no = kAlgoPmem;
  for (time_t t = 0; t <= 8; ++t) EndlessStep(t);
  const std::vector<Record> recs = running_records(capture_.text());
  // Records at 0, 2, 4, 6, 8; the 4 s round restarts at 4 and at 8.
  ASSERT_EQ(recs.size(), 5u);
  EXPECT_EQ(summary(recs, {0, 1, 2, 3, 4}), "0/0/0/1 2/0/50/1 4/0/100/1 2/0/50/1 4/0/100/1");
  EXPECT_EQ(recs[4].text, "I0399:<<PMEM read Pass=2>>");
  EXPECT_EQ(Ex_thread_counter, 5u);
  // Without a round length: percent 0, elapsed stays small.
  ResetGlobals();
  SetUp();
  capture_.clear();
  execute_time_used = execute_infinity_used = 1;
  for (time_t t = 0; t <= 4; ++t) EndlessStep(t);
  const std::vector<Record> plain = running_records(capture_.text());
  ASSERT_EQ(plain.size(), 3u);
  for (const Record& r : plain) {
    EXPECT_EQ(r.percent, 0u);
    EXPECT_LE(r.elapsed, 2u);
  }
}

TEST_F(ProgressTest, RunningTextFollowsAlgorithmAndDataKind) {
  std::vector<std::tuple<uint16_t, uint16_t, std::string>> cases = {
      {0, 0, "Start processing"},
      {kAlgoMscan, 0, "Start processing"},
      {kAlgoMscan, kDataAll, "Start processing"},
      {28, kDataCrossTalk, "Start processing"},
      {kAlgoPmem, 0, "PMEM read"},
      {kAlgoPmem, kDataRepeat, "PMEM read"}};
  const uint16_t algos[] = {kAlgoMscan, kAlgoMarch, kAlgoMasest, kAlgoBmove, kAlgoImove};
  const char* const names[] = {"MSCAN", "MARCH", "MASEST", "BMOVE", "IMOVE"};
  for (int i = 0; i < 5; ++i) {
    cases.emplace_back(algos[i], kDataCrossTalk, std::string(names[i]) + "1 w/r");
    cases.emplace_back(algos[i], kDataRepeat, std::string(names[i]) + "2 w/r");
  }
  for (const auto& [algo, kind, name] : cases) {
    const std::string want = "I0399:<<" + name + " Pass=3>>";
    SCOPED_TRACE(want);
    VykTp2MemStruct.algo_no = algo;
    VykTp2MemStruct.data_kind = kind;
    EXPECT_EQ(MakeMessage(3), want);
    EXPECT_EQ(Ex_progress_end_msg, want);
  }
  // The test ended before the control block existed: no text at all.
  Ex_MemStruct = nullptr;
  Ex_Thread_End_f = 1;
  std::memset(Ex_progress_end_msg, 0, sizeof Ex_progress_end_msg);
  std::memset(text_, 'x', sizeof text_);
  EXPECT_EQ(MakeMessage(1), "");
  EXPECT_EQ(Ex_progress_end_msg[0], '\0');
}

TEST_F(ProgressTest, PassNumberWrapsAtTenThousandAndLatchesAt9999) {
  const std::pair<uint32_t, uint32_t> sequence[] = {{1234, 1234}, {12345, 2345}, {9998, 9998},
                                                    {20001, 1},   {9999, 9999},  {12345, 9999},
                                                    {3, 9999}};
  for (const auto& [pass, shown] : sequence) {
    SCOPED_TRACE(pass);
    EXPECT_EQ(MakeMessage(pass), "I0399:<<MSCAN1 w/r Pass=" + std::to_string(shown) + ">>");
  }
  EXPECT_EQ(Ex_infini_cnt, 9999u);
}

TEST_F(ProgressTest, FinalTextFollowsCancelAndRuntime) {
  const char* const texts[2][2] = {{"No Error", "Completed"}, {"Canceled", "Canceled"}};
  for (uint32_t cancel : {0u, 1u}) {
    for (uint32_t time_used : {0u, 1u}) {
      execute_cancel = cancel;
      execute_time_used = time_used;
      progress_end_make_message_IA(text_);
      EXPECT_EQ(std::string(text_),
                std::string("I0399:<<memtest ") + texts[cancel][time_used] + ">>");
    }
  }
}

// The real thread reports, then ends promptly once the run loop sets the end flag.
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
    while (running_records(capture_.text()).empty() && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
