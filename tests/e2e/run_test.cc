// Whole runs of the real binary: record streams, final status and exit
// status of ordinary runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "e2e_support.h"

namespace {

using e2e::RunResult;
using testing::HasSubstr;
using testing::StartsWith;

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Every record is whole and its length field counts exactly the bytes after it.
void expect_well_formed(const RunResult& r) {
  EXPECT_EQ(r.parse_error, "");
  for (const auto& rec : r.records) {
    EXPECT_EQ(rec.module, "memtest         ");
    EXPECT_EQ(rec.device, "MEM             ");
  }
}

TEST(RunTest, OnlineLevelOneRunEndsNoError) {
  e2e::TempDir logs;
  const RunResult r = e2e::run_memtest(e2e::memtest_args(logs.path(), "1", {"-tp", "MSCAN"}));
  expect_well_formed(r);
  EXPECT_EQ(r.exit_status, 1);
  ASSERT_GE(r.records.size(), 4u);
  EXPECT_EQ(r.records.front().type, 3u);

  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 1u);
  e2e::Status st;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &st));
  EXPECT_EQ(st.status, 1u);
  EXPECT_EQ(st.flags, 0x02u);
  EXPECT_EQ(st.value, 0u);
  EXPECT_EQ(statuses[0].line_count, 14u);
  EXPECT_THAT(st.text, StartsWith("[[[[ DIAGNOSIS RESULT ]]]]                        Start:20"));
  EXPECT_THAT(st.text, HasSubstr("\nPROGRAM : memtest ( VER. 8.0.0-130207154512 )\n"
                                 "TITLE   : Memory Test\nDEVICE  : MEM\nOPTION  : LEVEL 1\n"
                                 "          TIME  1 [ROUND]\nRESULT  : OK ( PASS:  1 )\n"));

  // The last two progress records: the final text at 100 percent, then the
  // one that goes with the status.
  const auto progress = e2e::of_type(r.records, 3);
  ASSERT_GE(progress.size(), 3u);
  e2e::Progress end, with_status;
  ASSERT_TRUE(e2e::parse_progress(progress[progress.size() - 2], &end));
  ASSERT_TRUE(e2e::parse_progress(progress.back(), &with_status));
  EXPECT_EQ(end.text, "I0399:<<memtest No Error>>");
  EXPECT_EQ(end.percent, 100u);
  EXPECT_EQ(end.state, 1u);
  EXPECT_EQ(with_status.text, "I0399:<<memtest No Error>>");
  EXPECT_EQ(with_status.state, 2u);
  EXPECT_EQ(with_status.percent, 100u);
  // The record stream ends with the status record.
  // (Process records of a log rotation may follow it; this run's log is small.)
  EXPECT_EQ(r.records.back().type, 2u);

  // The trace log of the online mode holds the run's trace lines.
  const std::string trace = read_file(logs.path() + "/memot_log.0");
  EXPECT_THAT(trace, HasSubstr(",00000,main()  memtest_exec() return=1\n"));
  EXPECT_THAT(trace, HasSubstr(",I0307,"));
  EXPECT_THAT(trace, HasSubstr(",RESULT\n,[[[[ DIAGNOSIS RESULT ]]]]"));
}

TEST(RunTest, PatrolLevelZeroRunSendsNoProgressAndStatusWithFlagOne) {
  e2e::TempDir logs;
  const RunResult r = e2e::run_memtest(e2e::memtest_args(logs.path(), "0", {"-tp", "MSCAN"}));
  expect_well_formed(r);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_TRUE(e2e::of_type(r.records, 3).empty());
  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 1u);
  e2e::Status st;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &st));
  EXPECT_EQ(st.status, 1u);
  EXPECT_EQ(st.flags, 0x03u);
  EXPECT_EQ(st.value, 0u);
  EXPECT_THAT(st.text, StartsWith("[[[[ PATROL DIAGNOSIS RESULT ]]]]                 Start:20"));
  EXPECT_THAT(st.text, HasSubstr("OPTION  : LEVEL 0\n"));
  const std::string trace = read_file(logs.path() + "/mempt_log.0");
  EXPECT_THAT(trace, HasSubstr(",I0807,"));
}

TEST(RunTest, FirstLogEntrySendsProcessRecordsAroundTheRotation) {
  e2e::TempDir logs;
  const RunResult r = e2e::run_memtest(e2e::memtest_args(logs.path(), "0", {"-tp", "MSCAN"}));
  expect_well_formed(r);
  const auto process = e2e::of_type(r.records, 6);
  ASSERT_GE(process.size(), 2u);
  EXPECT_EQ(process[0].raw,
            "ONLPTL,0x00000038,0x06,0x01,memtest         ,MEM             ,\n0x00000001\n");
  EXPECT_EQ(process[1].raw,
            "ONLPTL,0x00000038,0x06,0x01,memtest         ,MEM             ,\n0x00000002\n");
}

TEST(RunTest, DebugSwitchWritesTheDebugLog) {
  e2e::TempDir logs;
  const RunResult r =
      e2e::run_memtest(e2e::memtest_args(logs.path(), "1", {"-tp", "MSCAN", "-debug"}));
  EXPECT_EQ(r.exit_status, 1);
  const std::string debug = read_file(logs.path() + "/memod_log.0");
  EXPECT_THAT(debug, HasSubstr("main()  memtest_exec() return=1\n"));
  // The message table is written to the debug log when it is loaded.
  EXPECT_THAT(debug, HasSubstr(",00000,E"));
}

TEST(RunTest, LogDirectoryFromEnvironmentWhenTrcMissing) {
  e2e::TempDir logs;
  e2e::RunOptions opts;
  opts.env.push_back("VYK_log=" + logs.path());
  opts.env.push_back("VYK_data=" + e2e::data_dir());
  const RunResult r = e2e::run_memtest({"-dev", "MEM", "-lv", "1", "-tp", "MSCAN"}, opts);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_THAT(read_file(logs.path() + "/memot_log.0"), HasSubstr("memtest_exec() return=1"));
}

}  // namespace
