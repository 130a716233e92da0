// The run-setting pre-scan.
#include <string>
#include <vector>

#include "params_fixture.h"

namespace params_test {
namespace {

// A pre-scan without keywords; the parser's fields stay as reset.
const char kDefaults[] =
    "rc=1 err=- size=0 test=0 use=0 data=0 algos=00000 fakes=000000 lv=0 time=70000 tused=0 "
    "inf=0 sused=0 wait=0 wused=0 pa=0x0 pmem=0 algo=0 nonpse=0 unit=0 sa=0 rt=0 count=1 "
    "total=2M";

const struct {
  std::vector<std::string> args;
  const char* want;  // differences from kDefaults
  const char* trace = nullptr;
} kCases[] = {
    {{}, ""},
    {{"-lv", "0"}, "time=1000"},
    {{"-lv", "1"}, "lv=1"},
    {{"-lv", "2"}, "lv=2 time=600000"},
    {{"-lv", "3"}, "lv=3 time=770000"},
    {{"-lv", "7"}, "lv=7"},
    {{"-lv", "x"}, ""},
    {{"-lv", "1", "-runtime", "60"}, "lv=1 time=60000 tused=1 rt=60"},
    {{"-runtime", "60", "-lv", "1"}, "lv=1 time=60000 tused=1 rt=60"},
    {{"-lv", "1", "/runtime", "60"}, "lv=1 time=60000 tused=1 rt=60"},
    {{"-tp", "WHOLE", "-data", "ALL", "-size", "64", "-lv", "1"},
     "lv=1 sused=1 count=6 total=768M",
     ",00000,Pre_Getp_ForProgress()  Total_Execute_Size=0x30000000(0x4000000 * 6 * 2)\n"},
    {{"-lv", "2", "-size", "64"}, "lv=2 time=600000 sused=1 total=64M"},
    {{"-lv", "1", "-tp", "MSCANX,MARCH"}, "lv=1 count=3 total=6M"},
    {{"-tp", "MSCAN", "-tp", "mscan"}, "count=2 total=4M"},
    {{"-data", "ALL", "-data", "REPEAT"}, ""},
    {{"-data", "ALL", "-data", "BAD"}, "total=4M"},
    {{"-lv", "1", "-size", "64", "-runtime", "60"}, "lv=1 time=60000 tused=1 rt=60"},
    {{"-lv", "3", "-runtime", "60", "-size", "64"}, "lv=3 time=60000 tused=1 rt=60"},
    {{"-lv", "0", "-size", "64"}, "sused=1 total=64M"},
    {{"-lv", "0", "-size", "FULL"}, ""},
    {{"-lv", "3", "-size", "FULL"}, "lv=3 time=770000 sused=1"},
    {{"-lv", "1", "-size", "2GB", "-tp", "IMOVE"}, "lv=1 sused=1 count=2 total=4G"},
    {{"-use", "FOO", "-data", "BAR", "-tp", "NONE"}, ""},
    {{"-tp", "PMEM"}, "pmem=1"},
    {{"-tp", "ABORT", "-pa", "3", "-waitsec", "4", "-runtime", "0"},
     "fakes=000001 time=4294967295000 tused=1 inf=1 wait=4 wused=1 pa=0xc000000 pmem=1",
     "Pre_Getp_ForProgress(-RUNTIME)  dec_vl=0, execute_time=0x0, execute_time_used=1\n"},
    {{"-path", "/data", "-pa", "z"}, ""},
    // "-lv2" fits, the long value does not: nothing after it is read.
    {{"-lv", "2", "-trc", std::string(2100, 'a'), "-runtime", "5"},
     "lv=2 time=600000",
     "Pre_Getp_ForProgress()  Parameter text over 2047 characters, cut\n"},
};

TEST_F(ParamsTest, PrescanTable) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(joined(c.args));
    reset_param_globals();
    Ex_dwTestLevel = 9;  // the pre-scan sets the level in every case
    const size_t mark = trace().size();
    Args args(c.args);
    const int32_t rc = Pre_Getp_ForProgress(args.argv());
    EXPECT_EQ(render(state(rc)), render(overlay(kDefaults, c.want)));
    EXPECT_EQ(lpTempString, nullptr);
    if (c.trace) {
      EXPECT_NE(trace().find(c.trace, mark), std::string::npos) << trace();
    }
  }
}

TEST_F(ParamsTest, PrescanThenParseAgree) {
  Args args({"-dev", "MEM", "-lv", "1", "-size", "64", "-runtime", "600", "-tp", "PMEM"});
  ASSERT_EQ(Pre_Getp_ForProgress(args.argv()), 1);
  ASSERT_EQ(parse(args), 1u);
  EXPECT_EQ(execute_time, 600000u);
  EXPECT_EQ(execute_size_used.load(), 0u);
  EXPECT_EQ(ParamStruct.dwSize, 64 * kMiB);  // the PMEM read block
  EXPECT_EQ(VykTp2MemStruct.algo_no.load(), kAlgoPmem);
}

TEST_F(ParamsTest, PrescanCancel) {
  execute_cancel = 1;
  Args args({"-lv", "2"});
  EXPECT_EQ(Pre_Getp_ForProgress(args.argv()), 4);
  EXPECT_EQ(Ex_dwTestLevel.load(), 0u);
}

TEST_F(ParamsTest, PrescanAllocationFailures) {
  Args args({"-lv", "2", "-tp", "PMEM", "/runtime", "5"});
  for (int fail_at = 1; fail_at <= 3; ++fail_at) {
    SCOPED_TRACE(fail_at);
    reset_param_globals();
    set_param_text_alloc(&failing_alloc);
    g_alloc_calls = 0;
    g_alloc_fail_at = fail_at;
    EXPECT_EQ(Pre_Getp_ForProgress(args.argv()), 16);
    EXPECT_EQ(lpTempString, nullptr);
    EXPECT_EQ(execute_time_used.load(), fail_at > 1 ? 1u : 0u);  // slash pass done
    EXPECT_EQ(Ex_dwTestLevel.load(), fail_at > 2 ? 2u : 0u);     // setting pass done
    EXPECT_EQ(Ex_pmem_FIND.load(), 0u);                          // selection pass not
  }
  const std::string t = trace();
  for (const char* suffix : {"\n", " 2\n", " 3\n"}) {
    EXPECT_NE(t.find(std::string(",00000,Pre_Getp_ForProgress() malloc error") + suffix),
              std::string::npos);
  }
  EXPECT_EQ(t.find("Total_Execute_Size"), std::string::npos);
}

}  // namespace
}  // namespace params_test
