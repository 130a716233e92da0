// Progress steps of timed, sized and endless runs, the clock and the pause.
// The thread's loops around them run in every end-to-end run.
#include <cinttypes>

#include "fixture.h"
#include "progress/clock.h"
#include "progress/progress.h"
#include "progress/progress_message.h"
#include "progress/progress_step.h"

namespace {

// One "key=value" of a step list (see progress_steps.txt).
void apply(const std::string& kv) {
  const std::string k = kv.substr(0, kv.find('='));
  const int64_t v = std::stoll(kv.substr(kv.find('=') + 1));
  if (k == "level") Ex_dwTestLevel = v;
  if (k == "tused") execute_time_used = v;
  if (k == "total") progress.total_time = v;
  if (k == "T") Ex_thread_counter = v;
  if (k == "pass") Ex_pass_cnt = v;
  if (k == "algo") VykTp2MemStruct.algo_no = v;
  if (k == "kind") VykTp2MemStruct.data_kind = v;
  if (k == "pmem") Ex_pmem_FIND = v;
  if (k == "round") Ex_pmem_1round_sec = v;
  if (k == "cancel") execute_cancel = v;
  if (k == "endf") Ex_Thread_End_f = v;
  if (k == "claim") ut::world().claim_result = v;
  if (k == "waitsec") execute_waitsec = v;
  if (k == "time") execute_time = v;
  if (k == "ago") Ex_Prev_MSec = memtest_GetTickCount() - v;
  if (k == "now") ut::world().now_us = v;
}

class ProgressSteps : public ut::MemtestTest, public testing::WithParamInterface<ts::Block> {};

TEST_P(ProgressSteps, GiveTheirRecords) {
  auto n = [](uint64_t v) { return std::to_string(v); };
  const ts::Block& b = GetParam();
  Ex_MemStruct = &VykTp2MemStruct;
  progress.start_time = ut::kStartSec;
  char text[48] = {};
  std::vector<std::string> got;
  for (const std::string& step : ts::split_words("algo=23 kind=46 " + b.get("steps"))) {
    const bool endless = step[0] == 'e';
    if (step.find('=') != std::string::npos) {
      apply(step);
    } else if (step == "final") {
      progress_end_make_message_IA(text);
      got.push_back(std::string("final ") + text);
    } else if (step == "ticks") {
      got.push_back("ticks " + n(GetNowTime()) + " " + n(memtest_GetTickCount()));
    } else if (step == "sleep") {
      const int32_t rc = memtest_sleep();
      got.push_back("sleep " + n(rc) + " " + n(ut::world().sleeps));
    } else if (uint64_t l, s, t;
               std::sscanf(step.c_str(), "cmp:%" SCNu64 ":%" SCNu64 ":%" SCNu64, &l, &s, &t) == 3) {
      got.push_back(step + " " + n(memtest_CmpTickCount(l, 300000, &s, &t)));
    } else {
      const size_t dots = step.find("..");
      const int64_t to = std::stoll(step.substr(dots == std::string::npos ? endless : dots + 2));
      for (int64_t at = std::stoll(step.substr(endless)); at <= to; ++at) {
        ut::world().now_us = (ut::kStartSec + at) * 1000000;
        (endless ? innovate_progress_infinity : innovate_progress_time)(&progress, text);
      }
    }
  }
  for (const ts::Record& r : records()) {
    ts::Progress p;  // a status record shows by the progress record sent before it
    if (ts::parse_progress(r, &p))
      got.push_back(n(p.elapsed) + "/" + n(p.second) + "/" + n(p.percent) + "/" + n(p.state) + " " +
                    p.text);
  }
  for (int status : ut::world().ends) got.push_back("end " + n(status));
  EXPECT_EQ(got, b.all("record"));
}

INSTANTIATE_TEST_SUITE_P(Table, ProgressSteps,
                         testing::ValuesIn(ts::read_blocks("unit/data/progress_steps.txt")),
                         [](const auto& info) { return ts::block_id(info.param); });

}  // namespace
