// Cancellation of the real binary by SIGINT at random moments.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "e2e_support.h"

namespace {

using e2e::RunResult;

#ifdef MEMTEST_E2E_SLOW
// Sanitized and emulated builds sweep memory many times slower: keep the
// runs short.
constexpr const char* kSize = "2";
constexpr double kMaxLatency = 10.0;
#else
constexpr const char* kSize = "256";
constexpr double kMaxLatency = 1.0;
#endif

std::vector<std::string> run_args(const std::string& logdir, const char* level) {
  return e2e::memtest_args(logdir, level, {"-tp", "MSCAN", "-size", kSize, "-data", "ALL"});
}

struct Outcome {
  bool canceled = false;
  std::string problem;  // empty when the run ended in one of the allowed ways
};

// A canceled run ends with exit status 2 and exactly one status 2 record, the
// last record of the stream; a run that had finished ends normally.
Outcome judge(const RunResult& r, bool online) {
  Outcome o;
  if (!r.parse_error.empty()) {
    o.problem = "output: " + r.parse_error;
    return o;
  }
  if (r.term_signal != 0) {
    o.problem = "ended by signal " + std::to_string(r.term_signal);
    return o;
  }
  const auto statuses = e2e::of_type(r.records, 2);
  int cancels = 0;
  for (const auto& s : statuses) {
    e2e::Status st;
    if (!e2e::parse_status(s, &st)) {
      o.problem = "bad status body";
      return o;
    }
    cancels += st.status == 2;
  }
  if (r.exit_status == 2) {
    o.canceled = true;
    if (cancels != 1) o.problem = "canceled with " + std::to_string(cancels) + " status 2 records";
    // Writing the status to the trace log may rotate it, so process records
    // can follow; nothing else may.
    size_t last = r.records.size();
    while (last > 0 && r.records[last - 1].type == 6) --last;
    if (last == 0 || r.records[last - 1].type != 2) o.problem = "status 2 is not last";
    if (online) {
      const auto progress = e2e::of_type(r.records, 3);
      e2e::Progress p;
      if (progress.empty() || !e2e::parse_progress(progress.back(), &p) ||
          p.text != "I0399:<<memtest Canceled>>" || p.state != 3) {
        o.problem = "no Canceled progress record before the status";
      }
    }
    return o;
  }
  if (r.exit_status == 1) {
    if (cancels != 0) o.problem = "normal end with a status 2 record";
    if (statuses.empty()) o.problem = "normal end without status";
    return o;
  }
  o.problem = "exit status " + std::to_string(r.exit_status);
  return o;
}

TEST(CancelTest, CanceledRunSendsIxx90CanceledProgressAndStatus2) {
  e2e::TempDir logs;
  std::vector<std::string> args = {"-dev", "MEM",       "-lv", "1",     "-path",    e2e::data_dir(),
                                   "-trc", logs.path(), "-tp", "MSCAN", "-runtime", "30"};
  e2e::RunOptions opts;
  opts.sigint_after = 1.5;
  const RunResult r = e2e::run_memtest(args, opts);
  ASSERT_EQ(r.parse_error, "");
  EXPECT_EQ(r.exit_status, 2);
  const auto logs_sent = e2e::of_type(r.records, 1);
  ASSERT_FALSE(logs_sent.empty());
  EXPECT_THAT(logs_sent.back().body, testing::HasSubstr(",I0390,"));
  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 1u);
  e2e::Status st;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &st));
  EXPECT_EQ(st.status, 2u);
  EXPECT_EQ(st.flags, 0x02u);
  EXPECT_THAT(st.text, testing::HasSubstr("RESULT  : CANCEL ( PASS:"));
  const Outcome o = judge(r, true);
  EXPECT_TRUE(o.canceled);
  EXPECT_EQ(o.problem, "");
  EXPECT_LT(r.signal_to_exit, kMaxLatency);
}

TEST(CancelTest, PatrolLevelZeroCancel) {
  e2e::TempDir logs;
  std::vector<std::string> args = {"-dev", "MEM",       "-lv", "0",     "-path",    e2e::data_dir(),
                                   "-trc", logs.path(), "-tp", "MSCAN", "-waitsec", "5"};
  e2e::RunOptions opts;
  opts.sigint_after = 0.3;
  const RunResult r = e2e::run_memtest(args, opts);
  const Outcome o = judge(r, false);
  EXPECT_EQ(o.problem, "");
  // Level 0 pauses nowhere, so the run may already be over; when it was
  // canceled, patrol mode sends no progress record.
  if (o.canceled) {
    EXPECT_TRUE(e2e::of_type(r.records, 3).empty());
  }
}

TEST(CancelTest, SignalBeforeTheProgramRunsCancelsWhenTheParentBlocksIt) {
  e2e::TempDir logs;
  e2e::RunOptions opts;
  opts.start_with_sigint_blocked = true;
  opts.sigint_after = 0;
  const RunResult r = e2e::run_memtest(run_args(logs.path(), "1"), opts);
  const Outcome o = judge(r, true);
  EXPECT_TRUE(o.canceled);
  EXPECT_EQ(o.problem, "");
}

TEST(CancelTest, TwoSignalsInQuickSuccessionGiveOneCanceledStatus) {
  for (int i = 0; i < 5; ++i) {
    e2e::TempDir logs;
    std::vector<std::string> args = {"-dev",  "MEM",           "-lv",      "1",
                                     "-path", e2e::data_dir(), "-trc",     logs.path(),
                                     "-tp",   "MSCAN",         "-runtime", "20"};
    e2e::RunOptions opts;
    opts.sigint_after = 0.2 + 0.1 * i;
    opts.sigint_count = 2;
    const RunResult r = e2e::run_memtest(args, opts);
    const Outcome o = judge(r, true);
    EXPECT_TRUE(o.canceled);
    EXPECT_EQ(o.problem, "");
  }
}

// SIGINT at random moments: before the handler is set up (on the very first
// record), during parsing and start-up, during a sweep, between chunks, after
// the run loop and during the final records.
TEST(CancelTest, StressRandomMoments) {
  std::mt19937 rng(20261206);
  // Spread the signals over the length of an uninterrupted run on this
  // machine and build, and a little past its end.
  double span = 0;
  {
    e2e::TempDir logs;
    const RunResult plain = e2e::run_memtest(run_args(logs.path(), "1"));
    ASSERT_EQ(judge(plain, true).problem, "");
    ASSERT_EQ(plain.exit_status, 1);
    span = std::max(0.05, 1.2 * plain.seconds);
  }
  std::uniform_real_distribution<double> delay(0.0, span);
  constexpr int kRuns = 200;
  int canceled = 0, finished = 0;
  std::vector<double> latencies;
  std::vector<std::string> problems;
  for (int i = 0; i < kRuns; ++i) {
    e2e::TempDir logs;
    const bool online = i % 4 != 3;
    e2e::RunOptions opts;
    if (i % 10 == 0) {
      opts.sigint_on_first_output = true;
    } else {
      // A signal may come before the program runs any code of its own; only
      // the parent's signal mask can hold it then.
      opts.start_with_sigint_blocked = true;
      opts.sigint_after = i % 10 == 1 ? 0.0 : delay(rng);
    }
    opts.sigint_count = i % 7 == 0 ? 2 : 1;
    opts.timeout = 60;
    const RunResult r = e2e::run_memtest(run_args(logs.path(), online ? "1" : "0"), opts);
    const Outcome o = judge(r, online);
    if (!o.problem.empty()) {
      problems.push_back("run " + std::to_string(i) + ": " + o.problem);
      continue;
    }
    if (o.canceled) {
      ++canceled;
      latencies.push_back(r.signal_to_exit);
    } else {
      ++finished;
    }
  }
  std::sort(latencies.begin(), latencies.end());
  const double median = latencies.empty() ? 0 : latencies[latencies.size() / 2];
  const double worst = latencies.empty() ? 0 : latencies.back();
  std::printf(
      "cancel stress: %d runs, %d canceled, %d finished normally, %zu problems; "
      "signal-to-exit median %.1f ms, max %.1f ms\n",
      kRuns, canceled, finished, problems.size(), median * 1000, worst * 1000);
  for (const auto& p : problems) ADD_FAILURE() << p;
  // The delays are spread over the run, so both outcomes must occur.
  EXPECT_GT(canceled, kRuns / 4);
}

}  // namespace
