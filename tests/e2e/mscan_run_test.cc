// MSCAN runs of the real binary, clean and with an injected compare error.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using e2e::RunResult;
using testing::HasSubstr;

TEST(MscanRunTest, SixtyFourMegabytesBothPatternsPass) {
  e2e::TempDir logs;
  const RunResult r = e2e::run_memtest(
      e2e::memtest_args(logs.path(), "1", {"-tp", "MSCAN", "-size", "64", "-data", "ALL"}));
  ASSERT_EQ(r.parse_error, "");
  EXPECT_EQ(r.exit_status, 1);
  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 1u);
  e2e::Status st;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &st));
  EXPECT_EQ(st.status, 1u);
  // One pass per MSCAN chunk and pattern pass.
  EXPECT_THAT(st.text, HasSubstr("RESULT  : OK ( PASS:  2 )\n"));
}

void expect_one_mscan_error_list(const RunResult& r, unsigned flags) {
  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_FALSE(statuses.empty());
  e2e::Status list;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &list));
  EXPECT_EQ(list.status, 4u);
  EXPECT_EQ(list.flags, flags);
  EXPECT_THAT(list.text, HasSubstr(" ERROR   : MSCAN Data Compare Error(Ref No. 1)\n"));
  EXPECT_THAT(list.text, HasSubstr(" RESULT  : NG ( PASS:  0 )\n"));
  EXPECT_THAT(list.text, HasSubstr(" TITLE   : memtest\n DEVICE  : ADDRESS;0000000000000000\n"));
  // The actual data of the first unit starts EF BE EF BE, read as a word.
  EXPECT_THAT(list.text, HasSubstr(") beefbeef "));
  int error_lists = 0;
  for (const auto& s : statuses) {
    e2e::Status st;
    ASSERT_TRUE(e2e::parse_status(s, &st));
    error_lists += st.text.find("Data Compare Error") != std::string::npos;
  }
  EXPECT_EQ(error_lists, 1);
}

TEST(MscanRunTest, MscanxOnlineReportsOneErrorList) {
  e2e::TempDir logs;
  const RunResult r = e2e::run_memtest(e2e::memtest_args(logs.path(), "1", {"-tp", "MSCANX"}));
  ASSERT_EQ(r.parse_error, "");
  EXPECT_EQ(r.exit_status, 0);  // 1024 in its low 8 bits
  expect_one_mscan_error_list(r, 0x06);
  // Online: the error list is the last status; no further status follows.
  EXPECT_EQ(e2e::of_type(r.records, 2).size(), 1u);
  const auto progress = e2e::of_type(r.records, 3);
  ASSERT_FALSE(progress.empty());
  e2e::Progress p;
  ASSERT_TRUE(e2e::parse_progress(progress.back(), &p));
  EXPECT_EQ(p.text, "I0399:<<memtest Error Ended>>");
  EXPECT_EQ(p.state, 5u);
}

TEST(MscanRunTest, MscanxPatrolReportsErrorListThenErrorEnded) {
  e2e::TempDir logs;
  const RunResult r = e2e::run_memtest(e2e::memtest_args(logs.path(), "0", {"-tp", "MSCANX"}));
  ASSERT_EQ(r.parse_error, "");
  EXPECT_EQ(r.exit_status, 0);
  expect_one_mscan_error_list(r, 0x06);
  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 2u);
  e2e::Status last;
  ASSERT_TRUE(e2e::parse_status(statuses[1], &last));
  EXPECT_EQ(last.status, 4u);
  EXPECT_EQ(last.flags, 0x01u);
  EXPECT_EQ(last.text, " ");
  // Patrol mode: four kind-2 log records go before the error list.
  int kind2 = 0;
  for (const auto& l : e2e::of_type(r.records, 1)) kind2 += l.body.rfind("0x02,", 0) == 0;
  EXPECT_EQ(kind2, 4);
  EXPECT_TRUE(e2e::of_type(r.records, 3).empty());
}

TEST(MscanRunTest, PatrolCleanRunAtLevelZero) {
  e2e::TempDir logs;
  const RunResult r =
      e2e::run_memtest(e2e::memtest_args(logs.path(), "0", {"-tp", "MSCAN", "-data", "REPEAT"}));
  ASSERT_EQ(r.parse_error, "");
  EXPECT_EQ(r.exit_status, 1);
  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 1u);
  e2e::Status st;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &st));
  EXPECT_EQ(st.status, 1u);
  EXPECT_EQ(st.flags, 0x03u);
}

}  // namespace
