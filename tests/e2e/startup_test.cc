// Start-up behaviour of the real binary: the first records, "-vl", and the
// abort lists of a bad command line or a missing message table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using e2e::RunResult;
using testing::HasSubstr;

const char kStartRecord[] =
    "ONLPTL,0x0000006f,0x03,0x01,memtest         ,MEM             ,\n"
    "0x00000000,0x00000000,0x00,0x01,I0399:<<Start processing Pass=0>>\n";
const char kVersionRecord[] =
    "ONLPTL,0x00000042,0x05,0x01,memtest         ,MEM             ,\n"
    "8.0.0-130207154512  \n";

TEST(StartupTest, VersionRequestAnywhereAnswersAndEndsWithZero) {
  const std::vector<std::vector<std::string>> cases = {
      {"-vl"},
      {"-dev", "MEM", "-VL"},
      {"-dev", "MEM", "-lv", "1", "-path", "/nonexistent", "-tp", "MSCAN", "-vl"},
      {"-lv", "9", "-vl"},  // before the options are checked
  };
  for (const auto& args : cases) {
    const RunResult r = e2e::run_memtest(args);
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(r.parse_error, "");
    EXPECT_EQ(r.exit_status, 0);
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[0].raw, kStartRecord);
    EXPECT_EQ(r.records[1].raw, kVersionRecord);
  }
}

TEST(StartupTest, PatrolModeVersionRequestSendsNoProgress) {
  const RunResult r = e2e::run_memtest({"-lv", "0", "-vl"});
  EXPECT_EQ(r.exit_status, 0);
  ASSERT_EQ(r.records.size(), 1u);
  EXPECT_EQ(r.records[0].raw, kVersionRecord);
}

TEST(StartupTest, ModuleNameComesFromTheProgramPath) {
  e2e::RunOptions opts;
  opts.argv0 = "/usr/diag/Memtest2.EXE";
  const RunResult r = e2e::run_memtest({"-vl"}, opts);
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[1].module, "Memtest2        ");
  EXPECT_EQ(r.records[1].device, "MEM             ");
}

struct BadStartCase {
  const char* name;
  std::vector<std::string> args;  // "%DATA%" and "%EMPTY%" are replaced
  const char* title;
  const char* message;  // a free-message text the abort list must carry, or none
  bool online;
};

void PrintTo(const BadStartCase& c, std::ostream* os) {
  *os << c.name;
}

class BadStartTest : public testing::TestWithParam<BadStartCase> {};

TEST_P(BadStartTest, EndsInAbortListAndStatus255) {
  const BadStartCase& c = GetParam();
  e2e::TempDir empty;
  e2e::TempDir logs;
  std::vector<std::string> args;
  for (const auto& a : c.args) {
    if (a == "%DATA%") {
      args.push_back(e2e::data_dir());
    } else if (a == "%LOGS%") {
      args.push_back(logs.path());
    } else if (a == "%EMPTY%") {
      args.push_back(empty.path());
    } else {
      args.push_back(a);
    }
  }
  bool has_trc = false;
  for (const auto& a : args) has_trc = has_trc || a == "-trc";
  if (!has_trc) {
    args.push_back("-trc");
    args.push_back(logs.path());
  }
  const RunResult r = e2e::run_memtest(args);
  EXPECT_EQ(r.parse_error, "");
  EXPECT_EQ(r.exit_status, 255);

  const auto statuses = e2e::of_type(r.records, 2);
  ASSERT_EQ(statuses.size(), 2u);
  e2e::Status abort_list, final_status;
  ASSERT_TRUE(e2e::parse_status(statuses[0], &abort_list));
  ASSERT_TRUE(e2e::parse_status(statuses[1], &final_status));
  EXPECT_EQ(abort_list.status, 6u);
  EXPECT_EQ(abort_list.flags, 0x02u);
  EXPECT_THAT(abort_list.text, HasSubstr(std::string(" ABORT   : ") + c.title + "\n"));
  if (c.message != nullptr) {
    EXPECT_THAT(abort_list.text, HasSubstr(std::string(" ") + c.message + "\n"));
  }
  // Action texts come from the message table, which is not loaded yet when
  // the start fails: the list carries the title and the option texts alone.
  EXPECT_THAT(abort_list.text, testing::Not(HasSubstr(" ACTION  :")));
  EXPECT_THAT(abort_list.text, HasSubstr(" RESULT  : ABORT ( PASS:  0 )\n"));
  EXPECT_THAT(abort_list.text, HasSubstr(" PROGRAM : memtest ( VER. 8.0.0-130207154512 )\n"));
  // The run controller's start-up failure ends as an abort with flags 1.
  EXPECT_EQ(final_status.status, 6u);
  EXPECT_EQ(final_status.flags, 0x01u);
  EXPECT_EQ(final_status.value, 0u);
  EXPECT_EQ(final_status.text, " ");

  const auto logs_sent = e2e::of_type(r.records, 1);
  ASSERT_FALSE(logs_sent.empty());
  const std::string& last_log = logs_sent.back().body;
  EXPECT_EQ(last_log.substr(0, 11), "0x01,E0309,");
  EXPECT_THAT(last_log, HasSubstr(",<<memtest>> abnormal end. device:<<MEM>>\n"));

  // Every status record is preceded by the progress record of its state in
  // online mode; patrol mode sends no progress at all.
  const auto progress = e2e::of_type(r.records, 3);
  if (c.online) {
    ASSERT_GE(progress.size(), 3u);
    e2e::Progress p;
    ASSERT_TRUE(e2e::parse_progress(progress.back(), &p));
    EXPECT_EQ(p.text, "I0399:<<memtest Aborted>>");
    EXPECT_EQ(p.state, 5u);
  } else {
    EXPECT_TRUE(progress.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, BadStartTest,
    testing::Values(
        BadStartCase{"MissingDev",
                     {"-lv", "1", "-path", "%DATA%"},
                     "common parameter error",
                     "\"/dev test-device-name\" Parameter Not Found",
                     true},
        BadStartCase{"MissingDevAndLevel",
                     {"-path", "%DATA%"},
                     "common parameter error",
                     "\"/dev test-device-name\" Parameter Not Found",
                     true},
        BadStartCase{"MissingLevel",
                     {"-dev", "MEM", "-path", "%DATA%"},
                     "common parameter error",
                     "\"-lv 0-3\" Parameter Not Found",
                     true},
        BadStartCase{"MissingPath",
                     {"-dev", "MEM", "-lv", "1"},
                     "common parameter error",
                     "\"-parh directry-name\" Parameter Not Found",
                     true},
        BadStartCase{"LevelTooHigh",
                     {"-dev", "MEM", "-lv", "4", "-path", "%DATA%"},
                     "common parameter error",
                     "\"-lv\" Parameter Error ( 4 )",
                     true},
        BadStartCase{"LevelNotANumber",
                     {"-dev", "MEM", "-lv", "1a", "-path", "%DATA%"},
                     "common parameter error",
                     "\"-lv\" Parameter Error ( 1a )",
                     true},
        BadStartCase{"LevelWithoutValue",
                     {"-dev", "MEM", "-path", "%DATA%", "-trc", "%LOGS%", "-lv"},
                     "common parameter error",
                     "\"-lv\" Parameter Nothing",
                     true},
        BadStartCase{"DevTooLong",
                     {"-dev", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456", "-lv", "1", "-path", "%DATA%"},
                     "common parameter error",
                     "\"-dev\" Parameter Error ( ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456 )",
                     true},
        BadStartCase{"LogSizeZero",
                     {"-dev", "MEM", "-lv", "1", "-path", "%DATA%", "-log", "0"},
                     "common parameter error",
                     "\"-log\" Parameter Error ( 0 )",
                     true},
        BadStartCase{"GenerationsTooMany",
                     {"-dev", "MEM", "-lv", "1", "-path", "%DATA%", "-gen", "10"},
                     "common parameter error",
                     "\"-gen\" Parameter Error ( 10 )",
                     true},
        BadStartCase{"RuntimeTooLong",
                     {"-dev", "MEM", "-lv", "1", "-path", "%DATA%", "-runtime", "100000000"},
                     "common parameter error",
                     "\"/runtime\" Parameter Error ( 100000000 )",
                     true},
        BadStartCase{"TraceDirWithoutValue",
                     {"-dev", "MEM", "-lv", "1", "-path", "%DATA%", "-trc"},
                     "common parameter error",
                     "\"-trc\" Parameter Nothing",
                     true},
        BadStartCase{"MessageTableMissingOnline",
                     {"-dev", "MEM", "-lv", "1", "-path", "%EMPTY%"},
                     "message table error",
                     nullptr,
                     true},
        BadStartCase{"MessageTableMissingPatrol",
                     {"-dev", "MEM", "-lv", "0", "-path", "%EMPTY%"},
                     "message table error",
                     nullptr,
                     false}),
    [](const testing::TestParamInfo<BadStartCase>& info) { return info.param.name; });

}  // namespace
