// SIGINT at random moments of real runs: before the program runs any code of
// its own, during start-up and parsing, sweeps, between chunks, after the run
// loop and during the final records.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "run.h"

namespace {

// Even runs test with MSCAN over both patterns, odd runs with the other four
// algorithms from MARCH through IMOVE.
std::vector<std::string> args(const std::string& logs, bool online, int kind) {
  const bool slow = e2e::build_kind() != "plain";
  const std::string tp = kind == 0
                             ? std::string("MSCAN -data ALL -size ") + (slow ? "2" : "256")
                             : std::string("MARCH,MASEST,BMOVE,IMOVE -size ") + (slow ? "2" : "8");
  return ts::split_words("-dev MEM -lv " + std::string(online ? "1" : "0") + " -path " +
                         MEMTEST_DATA_PATH " -trc " + logs + " -tp " + tp);
}

// A canceled run ends with exit status 2 and one status 2 record, the last
// record but for process records of a log rotation, preceded in online mode
// by the Canceled progress record; any other run ends normally.
std::string judge(const e2e::Result& r, bool online) {
  if (!r.error.empty()) return r.error;
  if (r.exit_status == 1) return ts::of_type(r.records, 2).size() == 1 ? "" : "not one status";
  if (r.exit_status != 2) return "exit status " + std::to_string(r.exit_status);
  ts::Status st;
  ts::Progress p;
  const auto statuses = ts::of_type(r.records, 2);
  const auto progress = ts::of_type(r.records, 3);
  size_t last = r.records.size();
  while (last > 0 && r.records[last - 1].type == 6) --last;
  if (statuses.size() != 1 || !parse_status(statuses[0], &st) || st.status != 2) {
    return "not one status 2";
  }
  if (last == 0 || r.records[last - 1].raw != statuses[0].raw) return "status 2 is not last";
  if (online && (!parse_progress(progress.back(), &p) || p.state != 3 ||
                 p.text != "I0399:<<memtest Canceled>>")) {
    return "no Canceled progress record before the status";
  }
  return "";
}

TEST(CancelTest, StressRandomMoments) {
  std::mt19937 rng(20261206);
  // Spread the signals over the length of an uninterrupted run, and past it.
  std::vector<std::uniform_real_distribution<double>> delay;
  for (int kind = 0; kind < 2; ++kind) {
    ts::TempDir first;
    const e2e::Result plain = e2e::run(args(first.path(), true, kind));
    ASSERT_EQ(judge(plain, true), "");
    delay.emplace_back(0.0, std::max(0.05, 1.2 * plain.seconds));
  }
  int canceled = 0;
  for (int i = 0; i < 200; ++i) {
    ts::TempDir logs;
    const bool online = i % 3 != 2;
    e2e::Options opts;
    opts.sigint_on_first_output = i % 10 == 0;
    opts.sigint_blocked = !opts.sigint_on_first_output;
    opts.sigint_after = opts.sigint_blocked ? (i % 10 == 1 ? 0.0 : delay[i % 2](rng)) : -1;
    opts.sigint_count = i % 7 == 0 ? 2 : 1;
    opts.timeout = 60;
    const e2e::Result r = e2e::run(args(logs.path(), online, i % 2), opts);
    EXPECT_EQ(judge(r, online), "") << "run " << i;
    canceled += r.exit_status == 2;
  }
  EXPECT_GT(canceled, 50);  // the delays are spread over the run: both outcomes occur
}

}  // namespace
