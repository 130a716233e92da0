// Timed runs, parameter errors and the exit statuses of the real binary.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using e2e::RunResult;
using testing::HasSubstr;

TEST(RuntimeTest, TimedRunRepeatsUntilTheTimeIsUsedAndCompletes) {
  e2e::TempDir logs;
  const RunResult r =
      e2e::run_memtest(e2e::memtest_args(logs.path(), "1", {"-tp", "MSCAN", "-runtime", "3"}));
  ASSERT_EQ(r.parse_error, "");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_GE(r.seconds, 3.0);
  EXPECT_LT(r.seconds, 8.0);

  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 1u);
  e2e::Status st;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &st));
  EXPECT_EQ(st.status, 3u);
  EXPECT_EQ(st.flags, 0x02u);
  EXPECT_THAT(st.text, HasSubstr("RESULT  : COMPLETED ( PASS:"));
  EXPECT_THAT(st.text, HasSubstr("TIME  0 [MINUTE]\n"));

  // Running records about once a second with growing elapsed time, then the
  // final text carrying the run time and 100 percent.
  std::vector<e2e::Progress> running;
  e2e::Progress final_text;
  const auto progress = e2e::of_type(r.records, 3);
  ASSERT_FALSE(progress.empty());
  // The first is main's start record; the progress thread sends the rest.
  for (size_t k = 1; k < progress.size(); ++k) {
    const auto& rec = progress[k];
    e2e::Progress p;
    ASSERT_TRUE(e2e::parse_progress(rec, &p));
    // Between runs and in the sweeps after MSCAN's the text names no
    // algorithm or another one; every running record carries a pass number.
    if (p.state == 1 && p.text.find(" Pass=") != std::string::npos) running.push_back(p);
    if (p.text == "I0399:<<memtest Completed>>" && p.state == 1) final_text = p;
  }
  ASSERT_GE(running.size(), 2u);
  EXPECT_LE(running.size(), 5u);
  for (size_t i = 1; i < running.size(); ++i) EXPECT_GT(running[i].elapsed, running[i - 1].elapsed);
  EXPECT_EQ(final_text.elapsed, 3u);
  EXPECT_EQ(final_text.percent, 100u);
}

TEST(RuntimeTest, LevelTwoWithoutRuntimeMakesOneRunAndEndsNoError) {
  e2e::TempDir logs;
  const RunResult r = e2e::run_memtest(e2e::memtest_args(logs.path(), "2", {"-tp", "MSCAN"}));
  ASSERT_EQ(r.parse_error, "");
  EXPECT_EQ(r.exit_status, 1);
  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 1u);
  e2e::Status st;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &st));
  EXPECT_EQ(st.status, 1u);
  EXPECT_THAT(st.text, HasSubstr("OPTION  : LEVEL 2\n"));
}

struct ParamErrorCase {
  const char* name;
  std::vector<std::string> keywords;
  const char* title;
};

void PrintTo(const ParamErrorCase& c, std::ostream* os) {
  *os << c.name;
}

class ParamErrorTest : public testing::TestWithParam<ParamErrorCase> {};

TEST_P(ParamErrorTest, AbortListWithTitleAndStatus6) {
  const ParamErrorCase& c = GetParam();
  e2e::TempDir logs;
  const RunResult r = e2e::run_memtest(e2e::memtest_args(logs.path(), "1", c.keywords));
  ASSERT_EQ(r.parse_error, "");
  EXPECT_EQ(r.exit_status, 16);
  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 2u);
  e2e::Status list, last;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &list));
  ASSERT_TRUE(e2e::parse_status(statuses[1], &last));
  EXPECT_EQ(list.status, 6u);
  EXPECT_EQ(list.flags, 0x02u);
  EXPECT_THAT(list.text, HasSubstr(std::string(" ABORT   : ") + c.title + "\n"));
  EXPECT_THAT(list.text, HasSubstr("   The Error Classification was Enything Else.\n"));
  EXPECT_EQ(last.status, 6u);
  EXPECT_EQ(last.flags, 0u);
  EXPECT_EQ(last.text, " ");
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, ParamErrorTest,
    testing::Values(
        ParamErrorCase{"TpNothing", {"-tp", "FOO"}, "Starting Parameter Error(/TP Parameter #1)"},
        ParamErrorCase{"TpTwice",
                       {"-tp", "MSCAN", "-tp", "MSCAN"},
                       "Starting Parameter Error(/TP Parameter #2)"},
        ParamErrorCase{"UseUnknown",
                       {"-tp", "MSCAN", "-use", "NONE"},
                       "Starting Parameter Error(/USE Parameter #1)"},
        ParamErrorCase{"UsePse36",
                       {"-tp", "MSCAN", "-use", "PSE36"},
                       "Starting Parameter Error(There's no PSE36.)"},
        ParamErrorCase{"DataUnknown",
                       {"-tp", "MSCAN", "-data", "ZERO"},
                       "Starting Parameter Error(/DATA Parameter #1)"},
        ParamErrorCase{"SizeTwice",
                       {"-tp", "MSCAN", "-size", "2", "-size", "4"},
                       "Starting Parameter Error(/SIZE Parameter #5)"},
        ParamErrorCase{"SaWithoutUnit",
                       {"-tp", "MSCAN", "-sa", "5"},
                       "Starting Parameter Error(/SA Parameter #1)"},
        // Not in this build: never an untested "No Error".
        ParamErrorCase{"MarchNotInBuild", {"-tp", "MARCH"}, "Parameter Error"},
        ParamErrorCase{"PmemNotInBuild", {"-tp", "PMEM"}, "Parameter Error"}),
    [](const testing::TestParamInfo<ParamErrorCase>& info) { return info.param.name; });

TEST(RuntimeTest, ExitStatusIsTheLowByteOfTheResult) {
  e2e::TempDir logs;
  struct Case {
    std::vector<std::string> args;
    int exit_status;
  };
  const std::vector<Case> cases = {
      {e2e::memtest_args(logs.path(), "1", {"-tp", "MSCAN"}), 1},
      {e2e::memtest_args(logs.path(), "1", {"-tp", "MSCANX"}), 1024 & 0xff},
      {e2e::memtest_args(logs.path(), "1", {"-tp", "NONE"}), 16},
      {{"-dev", "MEM", "-lv", "1"}, 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunResult r = e2e::run_memtest(c.args);
    EXPECT_EQ(r.exit_status, c.exit_status);
  }
}

}  // namespace
