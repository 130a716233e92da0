// The keyword parser over whole argument vectors.
#include <string>
#include <vector>

#include "algorithms/error_disp.h"
#include "params_fixture.h"

namespace params_test {
namespace {

// A parse without memory-test keywords from freshly reset globals.
const char kDefaults[] =
    "rc=1 err=- size=2M test=one use=user data=cross algos=00000 fakes=000000 lv=0 time=30000 "
    "tused=0 inf=0 sused=0 wait=0 wused=0 pa=0x0 pmem=0 algo=0 nonpse=1 unit=0 sa=0 rt=0 "
    "count=0 total=2M";

const char* const kTitles[] = {"Starting Parameter Error(/SIZE Parameter #5)",
                               "Starting Parameter Error(/USE Parameter #1)",
                               "Starting Parameter Error(/USE Parameter #2)",
                               "Starting Parameter Error(/RUNTIME Parameter #1)",
                               "Starting Parameter Error(/TP Parameter #1)",
                               "Starting Parameter Error(/TP Parameter #2)",
                               "Starting Parameter Error(/DATA Parameter #1)",
                               "Starting Parameter Error(/DATA Parameter #2)",
                               "Starting Parameter Error(/SA Parameter #1)",
                               "Starting Parameter Error(/SA Parameter #2)",
                               "Starting Parameter Error(/SA Parameter #3)",
                               "Starting Parameter Error(There's no PSE36.)"};

struct Case {
  const char* name;
  std::vector<std::string> args;
  const char* want;                      // differences from kDefaults
  std::vector<const char*> traces = {};  // trace lines the parse writes
};

const Case kCases[] = {
    {"no keywords", {}, ""},
    {"common options only",
     {"-dev", "MEM", "-lv", "1", "-path", "data", "-trc", "/tmp/log", "-debug", "-log", "9"},
     "lv=1"},
    {"typical",
     {"-dev", "MEM", "-lv", "1", "-path", "data", "-tp", "MSCAN", "-size", "64"},
     "size=64M algos=w0000 lv=1 time=70000 sused=1"},
    {"size GB lv2", {"-lv", "2", "-size", "2GB"}, "size=2G lv=2 time=600000 sused=1"},
    {"size gb", {"-lv", "1", "-size", "5gb"}, "size=5G lv=1 time=70000 sused=1"},
    {"size lv3", {"-lv", "3", "-size", "100"}, "size=100M lv=3 time=770000 sused=1"},
    {"size reads 3 digits", {"-lv", "1", "-size", "1000"}, "size=100M lv=1 time=70000 sused=1"},
    {"size MB", {"-lv", "1", "-SIZE", "64MB"}, "size=64M lv=1 time=70000 sused=1"},
    {"size 0", {"-lv", "1", "-size", "0"}, "lv=1 time=70000 sused=1"},
    {"size FULL", {"-lv", "1", "-size", "FULL"}, "lv=1 time=70000"},
    {"size at level 0 ignored", {"-lv", "0", "-size", "64"}, ""},
    {"LV reads one digit", {"-lv", "12"}, "lv=1"},
    {"LV without digit", {"-lvx"}, ""},
    {"LV keeps a given size",
     {"-lv", "1", "-size", "64", "-lv", "2"},
     "size=64M lv=2 time=70000 sused=1"},
    {"use USER", {"-use", "user"}, ""},
    {"use AWE", {"-use", "AWE"}, "use=awe nonpse=0"},
    {"trailing blank ends the token", {"-use", "AWE "}, "use=awe nonpse=0"},
    {"tp MSCANX", {"-tp", "MSCANX"}, "algos=w0000 fakes=100000"},
    {"tp lower case", {"-tp", "bmovex"}, "algos=000w0 fakes=000100"},
    {"tp WHOLE", {"-tp", "WHOLE"}, "test=whole algos=wwwww"},
    {"WHOLE stops the window", {"-tp", "WHOLE,MSCANX"}, "test=whole algos=wwwww"},
    {"X before WHOLE", {"-tp", "IMOVEX,WHOLE"}, "test=whole algos=wwwww fakes=000010"},
    {"tp list", {"-tp", "MARCH,MASESTX"}, "algos=0ww00 fakes=001000"},
    {"tp window last position", {"-tp", std::string(511, 'z') + "MSCAN"}, "algos=w0000"},
    {"tp window crosses tokens", {"-tp", "MARCH", "-trc", "/var/imove"}, "algos=0w00w"},
    {"tp PMEM forces 64M",
     {"-lv", "1", "-tp", "PMEM", "-size", "8"},
     "size=64M lv=1 time=70000 sused=1 pmem=1 algo=50"},
    {"tp ABORT", {"-tp", "ABORT"}, "size=64M fakes=000001 pmem=1 algo=50"},
    {"data ALL", {"-data", "all"}, "data=all"},
    {"data REPEAT", {"-data", "REPEAT"}, "data=repeat"},
    {"data CROSSTALK", {"-data", "CrossTalk"}, ""},
    {"runtime", {"-lv", "1", "-runtime", "600"}, "lv=1 time=600000 tused=1 rt=600"},
    {"runtime after size",
     {"-lv", "1", "-size", "64", "-runtime", "600"},
     "lv=1 time=600000 tused=1 rt=600"},
    {"runtime before size",
     {"-lv", "1", "-runtime", "600", "-size", "64"},
     "lv=1 time=600000 tused=1 rt=600"},
    {"runtime before LV is passed over", {"-runtime", "60", "-lv", "1"}, "lv=1"},
    {"runtime 0 endless", {"-lv", "1", "-runtime", "0"}, "lv=1 time=4294967295000 tused=1 inf=1"},
    {"runtime at level 0 ignored", {"-runtime", "60"}, ""},
    {"slash runtime at level 0",
     {"/runtime", "0"},
     "time=4294967295000 tused=1 inf=1",
     {"_ParseParam(/RUNTIME)  dec_vl=0, execute_time=0x0, execute_time_used=1\n"}},
    {"runtime trace",
     {"-lv", "1", "-runtime", "30"},
     "lv=1 time=30000 tused=1 rt=30",
     {"_ParseParam(-RUNTIME)  dec_vl=30, execute_time=0x7530, execute_time_used=1\n"}},
    {"runtime 32-bit product",
     {"-lv", "1", "-runtime", "123456789"},
     "lv=1 time=3755743408 tused=1 rt=12345678"},
    {"bad runtime", {"-lv", "1", "-runtime", "x"}, "lv=1"},
    {"bad runtime blocks a later one", {"-lv", "1", "-runtime", "x", "-runtime", "60"}, "lv=1"},
    {"first runtime wins",
     {"-lv", "1", "-runtime", "60", "-runtime", "90"},
     "lv=1 time=60000 tused=1 rt=60"},
    {"waitsec", {"-waitsec", "2"}, "wait=2 wused=1"},
    {"waitsec 0", {"-waitsec", "0"}, "wused=1"},
    {"waitsec bad", {"-waitsec", "s"}, ""},
    {"pa", {"-pa", "1"}, "pa=0x4000000"},
    {"pa hex 8 chars", {"-PA", "123456789"}, "pa=0x48d159e0000000"},
    {"pa ends at non-hex", {"-pa", "fG"}, "pa=0x3c000000"},
    {"pa bad", {"-pa", "g1"}, ""},
    {"path is not pa", {"-path", "/x"}, ""},
    {"PATH is not pa", {"-PATH", "3"}, ""},
    {"sa 0", {"-sa", "0"}, "unit=1"},
    {"sa GB", {"SA1GB"}, "unit=1073741824 sa=1"},
    {"sa MB", {"-sa", "10MB"}, "unit=1048576 sa=10"},
    {"sa 64GB is the limit", {"-sa", "64GB"}, "unit=1073741824 sa=64"},
    {"end traces",
     {"-lv", "1", "-tp", "MSCAN,IMOVE", "-pa", "2", "-size", "64"},
     "size=64M algos=w000w lv=1 time=70000 sused=1 pa=0x8000000",
     {",00000,_ParseParam() Normal End(dwSize=0x4000000 dwlSize=0x4000000)\n",
      ",00000,_ParseParam() algo_array[]={119 0 0 0 119 }\n",
      ",00000,_ParseParam() Start Physical Address(from PA Param.)=0x8000000\n"}},
    // Parameter errors, one row per number.
    {"second SIZE",
     {"-lv", "1", "-size", "64", "-size", "32"},
     "rc=16 err=21 size=64M lv=1 time=70000 sused=1"},
    {"USE value", {"-use", "XYZ"}, "rc=16 err=22"},
    {"blank inside the text", {"-use", "AWE ", "-lv", "1"}, "rc=16 err=22"},
    {"second USE", {"-use", "USER", "-use", "AWE"}, "rc=16 err=23"},
    {"TP selects nothing", {"-tp", "FOO"}, "rc=16 err=25"},
    {"tp window ends after 512", {"-tp", std::string(512, 'z') + "MSCAN"}, "rc=16 err=25"},
    // The first window already runs over the second TP token.
    {"second TP", {"-tp", "MSCAN", "-tp", "MARCH"}, "rc=16 err=26 algos=ww000"},
    {"DATA value", {"-data", "X", "-tp", "MSCAN"}, "rc=16 err=27"},
    {"second DATA", {"-data", "ALL", "-data", "REPEAT"}, "rc=16 err=28 data=all"},
    {"SA without unit", {"-sa", "5"}, "rc=16 err=29"},
    {"SA lower-case unit", {"-sa", "1gb"}, "rc=16 err=29"},
    {"SA not decimal", {"SA1xMB"}, "rc=16 err=30 unit=1048576"},
    {"SA over 64GB",
     {"-sa", "65GB"},
     "rc=16 err=30 unit=1073741824 sa=65",
     {"_ParseParam()  SA over 64GB(dwSaValue=65 size_unit=0x40000000)\n"}},
    {"SA saturating number", {"-sa", "99999999999MB"}, "rc=16 err=30 unit=1048576 sa=2147483647"},
    {"second SA after SA0", {"-sa", "0", "-sa", "0"}, "rc=16 err=31 unit=1"},
    {"second SA", {"-SA1GB", "-SA2MB"}, "rc=16 err=31 unit=1073741824 sa=1"},
    {"USE PSE36",
     {"-use", "PSE36"},
     "rc=16 err=32 use=pse36 nonpse=0",
     {"_ParseParam()  PSE36 Mode is not Supported.\n"}},
    {"USE ALL", {"-use", "ALL"}, "rc=16 err=32 use=all"},
    {"PSE36 checked after the last token",
     {"-use", "PSE36", "-tp", "FOO"},
     "rc=16 err=25 use=pse36 nonpse=0"},
};

TEST_F(ParamsTest, ParseTable) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    reset_param_globals();
    const size_t mark = trace().size();
    Args args(c.args);
    const uint32_t rc = parse(args);
    EXPECT_EQ(render(state(rc)), render(overlay(kDefaults, c.want)));
    EXPECT_EQ(VykTp2MemStruct.dwTestLevel, Ex_dwTestLevel.load());
    EXPECT_EQ(lpTempString, nullptr);
    if (rc == 1) {
      EXPECT_EQ(ParamStruct.dwlSize, ParamStruct.dwSize);
    }
    if (rc == 16) {
      EXPECT_STREQ(param_error_title(err_), kTitles[err_ - 21]);
    }
    for (const char* line : c.traces)
      EXPECT_NE(trace().find(line, mark), std::string::npos) << line;
  }
}

TEST_F(ParamsTest, SaZeroAcceptedInEveryRun) {
  Args args({"-sa", "0"});
  EXPECT_EQ(parse(args), 1u);
  EXPECT_EQ(parse(args), 1u);
}

TEST_F(ParamsTest, CancelBeforeTheFirstToken) {
  execute_cancel = 1;
  Args args({"-lv", "1", "-tp", "MSCAN"});
  EXPECT_EQ(parse(args), 4u);
  EXPECT_EQ(render(state(4)), render(overlay(kDefaults, "rc=4")));
}

TEST_F(ParamsTest, LvAfterRuntimeAppliesOnceThePrescanSetTheLevel) {
  Args args({"-runtime", "60", "-lv", "1"});
  ASSERT_EQ(Pre_Getp_ForProgress(args.argv()), 1);
  execute_time = 1;
  ASSERT_EQ(parse(args), 1u);
  EXPECT_EQ(execute_time, 60000u);
  EXPECT_EQ(execute_time_used.load(), 1u);
}

TEST_F(ParamsTest, AllocationFailures) {
  Args args({"/runtime", "60", "-tp", "MSCAN"});
  set_param_text_alloc(&failing_alloc);
  for (int fail_at : {1, 2}) {
    g_alloc_calls = 0;
    g_alloc_fail_at = fail_at;
    EXPECT_EQ(parse(args), 16u);
    EXPECT_EQ(err_, kUntouched);
    EXPECT_EQ(execute_time_used.load(), fail_at == 2 ? 1u : 0u);  // the slash pass ran
    EXPECT_EQ(algos(), "00000");
    EXPECT_EQ(lpTempString, nullptr);
  }
  const std::string t = trace();
  EXPECT_NE(t.find(",00000,ParseParam2() malloc error\n"), std::string::npos) << t;
  EXPECT_NE(t.find(",00000,ParseParam2() malloc error 2\n"), std::string::npos) << t;
}

TEST_F(ParamsTest, ArgumentLimits) {
  // The slash pass joins arguments 1 to 31, the dash pass 1 to 32.
  std::vector<std::string> v(30, "x");
  v.insert(v.end(), {"/runtime5", "-waitsec5", "-pa1", "/runtime7"});
  Args args(v);
  ASSERT_EQ(parse(args), 1u);
  EXPECT_EQ(execute_time, 5000u);
  EXPECT_EQ(execute_waitsec.load(), 5u);
  EXPECT_EQ(Ex_test_ad, 0u);
}

TEST_F(ParamsTest, TextLimitOf2047) {
  const std::string fill(2047 - 12, 'a');  // with "-tp" "MSCAN" "-trc": 2047 characters
  const struct {
    std::vector<std::string> args;
    uint32_t rc, err;
    const char* algos;
  } kCases[] = {{{"-tp", "MSCAN", "-trc", fill}, 1, kUntouched, "w0000"},
                {{"-tp", "MSCAN", "-trc", fill + "a"}, 16, kUntouched, "00000"},
                // The keyword ends on the last character; a cut one selects nothing.
                {{"-trc", fill, "-tpMSCAN"}, 1, kUntouched, "w0000"},
                {{"-trc", fill, "-tpMASES"}, 16, 25, "00000"}};
  for (const auto& c : kCases) {
    Args args(c.args);
    EXPECT_EQ(parse(args), c.rc);
    EXPECT_EQ(err_, c.err);
    EXPECT_EQ(algos(), c.algos);
  }
  EXPECT_NE(trace().find("_ParseParam()  Parameter text over 2047 characters\n"),
            std::string::npos);
}

TEST(StringToLong, Table) {
  const struct {
    const char* text;
    int mode;
    int32_t rc;
    uint32_t value;  // 77: left alone
  } kCases[] = {{"", 0, 1, 0},
                {"0", 0, 1, 0},
                {"123", 0, 1, 123},
                {"0042", 0, 1, 42},
                {"12a", 0, 16, 77},
                {"-1", 0, 16, 77},
                {" 1", 0, 16, 77},
                {"+1", 0, 16, 77},
                {"2147483647", 0, 1, 0x7FFFFFFF},
                {"2147483648", 0, 1, 0x7FFFFFFF},
                {"99999999999999999999", 0, 1, 0x7FFFFFFF},
                {"ff", 1, 1, 255},
                {"FF", 1, 1, 255},
                {"7fffffff", 1, 1, 0x7FFFFFFF},
                {"80000000", 1, 1, 0x7FFFFFFF},
                {"fg", 1, 16, 77},
                {"12", 2, 1, 12},
                {"a", 2, 16, 77},
                {"", 1, 1, 0}};
  for (const auto& c : kCases) {
    uint32_t out = 77;
    EXPECT_EQ(VykTp2StringToLong(c.text, &out, c.mode), c.rc) << c.text;
    EXPECT_EQ(out, c.value) << c.text;
  }
}

TEST(GetPaStr, SixteenLowerCaseDigitsNoTerminator) {
  const std::pair<uint64_t, const char*> kCases[] = {{0x123456789ABCull, "0000123456789abc"},
                                                     {0, "0000000000000000"},
                                                     {0xFEDCBA9876543210ull, "fedcba9876543210"}};
  for (const auto& [value, text] : kCases) {
    char out[18];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(get_pa_str(value, out), 0);
    EXPECT_EQ(std::string(out, 17), std::string(text) + "#");
  }
}

}  // namespace
}  // namespace params_test
