// The run-setting pre-scan.
#include <string>
#include <vector>

#include "params_fixture.h"

namespace params_test {
namespace {

class PrescanTest : public ParamsTest {
 protected:
  int32_t prescan(std::vector<std::string> v) {
    v.insert(v.begin(), "memtest");
    Args args(v);
    return Pre_Getp_ForProgress(args.argv());
  }
};

TEST_F(PrescanTest, LevelDefaults) {
  const struct {
    std::vector<std::string> args;
    uint32_t level;
    uint64_t exec_time;
  } kCases[] = {
      {{}, 0, 70000},
      {{"-lv", "0"}, 0, 1000},
      {{"-lv", "1"}, 1, 70000},
      {{"-lv", "2"}, 2, 600000},
      {{"-lv", "3"}, 3, 770000},
      {{"-lv", "7"}, 7, 70000},
      {{"-lv", "x"}, 0, 70000},
  };
  for (const auto& c : kCases) {
    reset_param_globals();
    Ex_dwTestLevel = 9;
    ASSERT_EQ(prescan(c.args), 1);
    EXPECT_EQ(Ex_dwTestLevel.load(), c.level);
    EXPECT_EQ(execute_time, c.exec_time);
    EXPECT_EQ(execute_time_used.load(), 0u);
    EXPECT_EQ(Algo_Count_ForProgress, 1u);
    EXPECT_EQ(Total_Execute_Size, 0x200000u);
  }
}

TEST_F(PrescanTest, RuntimeWinsOverLevelInEitherOrder) {
  for (const auto& v : {std::vector<std::string>{"-lv", "1", "-runtime", "60"},
                        std::vector<std::string>{"-runtime", "60", "-lv", "1"},
                        std::vector<std::string>{"-lv", "1", "/runtime", "60"}}) {
    reset_param_globals();
    ASSERT_EQ(prescan(v), 1);
    EXPECT_EQ(Ex_dwTestLevel.load(), 1u);
    EXPECT_EQ(execute_time, 60000u);
    EXPECT_EQ(execute_time_used.load(), 1u);
    EXPECT_EQ(TEST_INF.runtime, 60u);
  }
}

struct SizeCase {
  const char* name;
  std::vector<std::string> args;
  uint32_t algo_count;
  uint64_t total;
  uint32_t size_used;
  uint64_t exec_time;
};

TEST_F(PrescanTest, PlannedSize) {
  const SizeCase kCases[] = {
      {"whole, all data",
       {"-tp", "WHOLE", "-data", "ALL", "-size", "64", "-lv", "1"},
       6,
       0x30000000,
       1,
       70000},
      {"no tp", {"-lv", "2", "-size", "64"}, 1, 64 * kMiB, 1, 600000},
      {"X counts as plain", {"-lv", "1", "-tp", "MSCANX,MARCH"}, 3, 3 * 2 * kMiB, 0, 70000},
      {"same algorithm twice", {"-tp", "MSCAN", "-tp", "mscan"}, 2, 2 * 2 * kMiB, 0, 70000},
      {"data ALL then REPEAT", {"-data", "ALL", "-data", "REPEAT"}, 1, 2 * kMiB, 0, 70000},
      {"data unknown keeps factor", {"-data", "ALL", "-data", "BAD"}, 1, 4 * kMiB, 0, 70000},
      {"runtime after size", {"-lv", "1", "-size", "64", "-runtime", "60"}, 1, 2 * kMiB, 0, 60000},
      {"runtime before size", {"-lv", "3", "-runtime", "60", "-size", "64"}, 1, 2 * kMiB, 0, 60000},
      {"size at level 0", {"-lv", "0", "-size", "64"}, 1, 64 * kMiB, 1, 70000},
      {"FULL at level 0", {"-lv", "0", "-size", "FULL"}, 1, 2 * kMiB, 0, 70000},
      {"FULL at level 3", {"-lv", "3", "-size", "FULL"}, 1, 2 * kMiB, 1, 770000},
      {"size GB", {"-lv", "1", "-size", "2GB", "-tp", "IMOVE"}, 2, 4 * kGiB, 1, 70000},
      {"pmem is no algorithm", {"-tp", "PMEM"}, 1, 2 * kMiB, 0, 70000},
      {"bad values pass", {"-use", "FOO", "-data", "BAR", "-tp", "NONE"}, 1, 2 * kMiB, 0, 70000},
  };
  for (const SizeCase& c : kCases) {
    SCOPED_TRACE(c.name);
    reset_param_globals();
    ASSERT_EQ(prescan(c.args), 1);
    EXPECT_EQ(Algo_Count_ForProgress, c.algo_count);
    EXPECT_EQ(Total_Execute_Size, c.total);
    EXPECT_EQ(execute_size_used.load(), c.size_used);
    EXPECT_EQ(execute_time, c.exec_time);
    EXPECT_EQ(lpTempString, nullptr);
  }
}

TEST_F(PrescanTest, TotalTrace) {
  ASSERT_EQ(prescan({"-tp", "WHOLE", "-data", "ALL", "-size", "64", "-lv", "1"}), 1);
  EXPECT_NE(trace().find(",00000,Pre_Getp_ForProgress()  "
                         "Total_Execute_Size=0x30000000(0x4000000 * 6 * 2)\n"),
            std::string::npos)
      << trace();
}

TEST_F(PrescanTest, PmemAbortPaWaitsecEndless) {
  ASSERT_EQ(prescan({"-tp", "PMEM"}), 1);
  EXPECT_EQ(Ex_pmem_FIND.load(), 1u);
  EXPECT_EQ(Fake_Err[5], 0);

  reset_param_globals();
  ASSERT_EQ(prescan({"-tp", "ABORT", "-pa", "3", "-waitsec", "4", "-runtime", "0"}), 1);
  EXPECT_EQ(Ex_pmem_FIND.load(), 1u);
  EXPECT_EQ(Fake_Err[5], 1);
  EXPECT_EQ(Ex_test_ad, 3ull << 26);
  EXPECT_EQ(execute_waitsec.load(), 4u);
  EXPECT_EQ(execute_waitsec_used.load(), 1u);
  EXPECT_EQ(execute_infinity_used.load(), 1u);
  EXPECT_EQ(execute_time_used.load(), 1u);
  EXPECT_EQ(execute_time, 0x3E7FFFFFC18u);
  EXPECT_NE(trace().find("Pre_Getp_ForProgress(-RUNTIME)  dec_vl=0, execute_time=0x0, "
                         "execute_time_used=1\n"),
            std::string::npos);

  reset_param_globals();
  ASSERT_EQ(prescan({"-path", "/data", "-pa", "z"}), 1);
  EXPECT_EQ(Ex_test_ad, 0u);
}

TEST_F(PrescanTest, PrescanThenParseAgree) {
  Args args{"memtest", "-dev", "MEM", "-lv", "1", "-size", "64", "-runtime", "600", "-tp", "PMEM"};
  ASSERT_EQ(Pre_Getp_ForProgress(args.argv()), 1);
  ASSERT_EQ(parse(args), 1u);
  EXPECT_EQ(execute_time, 600000u);
  EXPECT_EQ(execute_size_used.load(), 0u);
  EXPECT_EQ(ParamStruct.dwSize, 64 * kMiB);  // the PMEM read block
  EXPECT_EQ(VykTp2MemStruct.algo_no.load(), kAlgoPmem);
}

TEST_F(PrescanTest, Cancel) {
  execute_cancel = 1;
  EXPECT_EQ(prescan({"-lv", "2"}), 4);
  EXPECT_EQ(Ex_dwTestLevel.load(), 0u);
  EXPECT_EQ(lpTempString, nullptr);
}

TEST_F(PrescanTest, AllocationFailures) {
  set_param_text_alloc(&failing_alloc);
  const std::vector<std::string> v{"-lv", "2", "-tp", "PMEM", "/runtime", "5"};
  for (int fail_at = 1; fail_at <= 3; ++fail_at) {
    SCOPED_TRACE(fail_at);
    reset_param_globals();
    set_param_text_alloc(&failing_alloc);
    g_alloc_calls = 0;
    g_alloc_fail_at = fail_at;
    EXPECT_EQ(prescan(v), 16);
    EXPECT_EQ(lpTempString, nullptr);
    EXPECT_EQ(execute_time_used.load(), fail_at > 1 ? 1u : 0u);  // slash pass done
    EXPECT_EQ(Ex_dwTestLevel.load(), fail_at > 2 ? 2u : 0u);     // setting pass done
    EXPECT_EQ(Ex_pmem_FIND.load(), 0u);                          // selection pass not
  }
  const std::string t = trace();
  EXPECT_NE(t.find(",00000,Pre_Getp_ForProgress() malloc error\n"), std::string::npos) << t;
  EXPECT_NE(t.find(",00000,Pre_Getp_ForProgress() malloc error 2\n"), std::string::npos);
  EXPECT_NE(t.find(",00000,Pre_Getp_ForProgress() malloc error 3\n"), std::string::npos);
  EXPECT_EQ(t.find("Total_Execute_Size"), std::string::npos);
}

TEST_F(PrescanTest, OverlongTextKeepsWholeArguments) {
  // "-lv2" fits, the long value does not: the arguments before it are kept
  // whole and nothing after it is read.
  ASSERT_EQ(prescan({"-lv", "2", "-trc", std::string(2100, 'a'), "-runtime", "5"}), 1);
  EXPECT_EQ(Ex_dwTestLevel.load(), 2u);
  EXPECT_EQ(execute_time_used.load(), 0u);
  EXPECT_NE(trace().find("Pre_Getp_ForProgress()  Parameter text over 2047 characters, cut\n"),
            std::string::npos);
}

}  // namespace
}  // namespace params_test
