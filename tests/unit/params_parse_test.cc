// The keyword parser over whole argument vectors.
#include <string>
#include <vector>

#include "algorithms/error_disp.h"
#include "params_fixture.h"

namespace params_test {
namespace {

// What one parse leaves behind. Defaults are the outcome of a parse without
// memory-test keywords from freshly reset globals.
struct Expect {
  uint32_t rc = 1;
  uint32_t err = kUntouched;
  uint64_t size = 2 * kMiB;
  uint16_t test_mode = kTestOneByOne;
  uint16_t use_mode = kUseUser;
  uint16_t data_mode = kDataCrossTalk;
  const char* algos = "00000";
  const char* fakes = "000000";
  uint32_t level = 0;
  uint64_t exec_time = 30000;
  uint32_t time_used = 0;
  uint32_t infinity = 0;
  uint32_t size_used = 0;
  uint32_t waitsec = 0;
  uint32_t waitsec_used = 0;
  uint64_t test_ad = 0;
  uint32_t pmem = 0;
  uint16_t algo_no = 0;
  uint8_t use_nonpse = 1;
  uint32_t size_unit = 0;
  uint32_t sa_value = 0;
  const char* title = nullptr;  // shown for the error number
};

struct Case {
  const char* name;
  std::vector<std::string> args;  // after the program name
  Expect want;
};

class ParseTable : public ParamsTest {
 protected:
  void run(const Case& c) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> v{"memtest"};
    v.insert(v.end(), c.args.begin(), c.args.end());
    Args args(v);
    const Expect& w = c.want;
    EXPECT_EQ(parse(args), w.rc);
    EXPECT_EQ(err_, w.err);
    EXPECT_EQ(ParamStruct.dwSize, w.size);
    if (w.rc == 1) {
      EXPECT_EQ(ParamStruct.dwlSize, w.size);
    }
    EXPECT_EQ(ParamStruct.wTestMode, w.test_mode);
    EXPECT_EQ(ParamStruct.wUseMode, w.use_mode);
    EXPECT_EQ(ParamStruct.wDataMode, w.data_mode);
    EXPECT_EQ(algos(), w.algos);
    EXPECT_EQ(fakes(), w.fakes);
    EXPECT_EQ(Ex_dwTestLevel.load(), w.level);
    EXPECT_EQ(VykTp2MemStruct.dwTestLevel, w.level);
    EXPECT_EQ(execute_time, w.exec_time);
    EXPECT_EQ(execute_time_used.load(), w.time_used);
    EXPECT_EQ(execute_infinity_used.load(), w.infinity);
    EXPECT_EQ(execute_size_used.load(), w.size_used);
    EXPECT_EQ(execute_waitsec.load(), w.waitsec);
    EXPECT_EQ(execute_waitsec_used.load(), w.waitsec_used);
    EXPECT_EQ(Ex_test_ad, w.test_ad);
    EXPECT_EQ(Ex_pmem_FIND.load(), w.pmem);
    EXPECT_EQ(VykTp2MemStruct.algo_no.load(), w.algo_no);
    EXPECT_EQ(VykTp2MemStruct.use_nonpse, w.use_nonpse);
    EXPECT_EQ(VykTp2MemStruct.size_unit, w.size_unit);
    EXPECT_EQ(ParamStruct.dwSaValue, w.sa_value);
    EXPECT_EQ(lpTempString, nullptr);
    if (w.title) {
      EXPECT_STREQ(param_error_title(err_), w.title);
    }
  }
};

const Case kAccepted[] = {
    {"no keywords", {}, {}},
    {"common options only",
     {"-dev", "MEM", "-lv", "1", "-path", "data", "-trc", "/tmp/log", "-debug", "-log", "9"},
     {.level = 1}},
    {"typical",
     {"-dev", "MEM", "-lv", "1", "-path", "data", "-tp", "MSCAN", "-size", "64"},
     {.size = 64 * kMiB, .algos = "w0000", .level = 1, .exec_time = 70000, .size_used = 1}},
    {"size GB lv2",
     {"-lv", "2", "-size", "2GB"},
     {.size = 2 * kGiB, .level = 2, .exec_time = 600000, .size_used = 1}},
    {"size gb lower case",
     {"-lv", "1", "-size", "5gb"},
     {.size = 5 * kGiB, .level = 1, .exec_time = 70000, .size_used = 1}},
    {"size 100 lv3",
     {"-lv", "3", "-size", "100"},
     {.size = 100 * kMiB, .level = 3, .exec_time = 770000, .size_used = 1}},
    {"size 1000 reads 100",
     {"-lv", "1", "-size", "1000"},
     {.size = 100 * kMiB, .level = 1, .exec_time = 70000, .size_used = 1}},
    {"size 64MB",
     {"-lv", "1", "-SIZE", "64MB"},
     {.size = 64 * kMiB, .level = 1, .exec_time = 70000, .size_used = 1}},
    {"size 0",
     {"-lv", "1", "-size", "0"},
     {.size = 2 * kMiB, .level = 1, .exec_time = 70000, .size_used = 1}},
    {"size FULL", {"-lv", "1", "-size", "FULL"}, {.level = 1, .exec_time = 70000}},
    {"size at level 0 ignored", {"-lv", "0", "-size", "64"}, {}},
    {"LV reads one digit", {"-lv", "12"}, {.level = 1}},
    {"LV without digit", {"-lvx"}, {}},
    {"use USER", {"-use", "user"}, {}},
    {"use AWE", {"-use", "AWE"}, {.use_mode = kUseAwe, .use_nonpse = 0}},
    {"tp MSCANX", {"-tp", "MSCANX"}, {.algos = "w0000", .fakes = "100000"}},
    {"tp lower case", {"-tp", "bmovex"}, {.algos = "000w0", .fakes = "000100"}},
    {"tp WHOLE", {"-tp", "WHOLE"}, {.test_mode = kTestWhole, .algos = "wwwww"}},
    {"tp WHOLE stops the window",
     {"-tp", "WHOLE,MSCANX"},
     {.test_mode = kTestWhole, .algos = "wwwww"}},
    {"tp X before WHOLE",
     {"-tp", "IMOVEX,WHOLE"},
     {.test_mode = kTestWhole, .algos = "wwwww", .fakes = "000010"}},
    {"tp list", {"-tp", "MARCH,MASESTX"}, {.algos = "0ww00", .fakes = "001000"}},
    {"tp window last position", {"-tp", std::string(511, 'z') + "MSCAN"}, {.algos = "w0000"}},
    {"tp window crosses token ends", {"-tp", "MARCH", "-trc", "/var/imove"}, {.algos = "0w00w"}},
    {"tp PMEM",
     {"-lv", "1", "-tp", "PMEM", "-size", "8"},
     {.size = 64 * kMiB,
      .level = 1,
      .exec_time = 70000,
      .size_used = 1,
      .pmem = 1,
      .algo_no = kAlgoPmem}},
    {"tp ABORT",
     {"-tp", "ABORT"},
     {.size = 64 * kMiB, .fakes = "000001", .pmem = 1, .algo_no = kAlgoPmem}},
    {"data ALL", {"-data", "all"}, {.data_mode = kDataAll}},
    {"data REPEAT", {"-data", "REPEAT"}, {.data_mode = kDataRepeat}},
    {"data CROSSTALK", {"-data", "CrossTalk"}, {}},
    {"runtime", {"-lv", "1", "-runtime", "600"}, {.level = 1, .exec_time = 600000, .time_used = 1}},
    {"runtime 0 endless",
     {"-lv", "1", "-runtime", "0"},
     {.level = 1, .exec_time = 0x3E7FFFFFC18, .time_used = 1, .infinity = 1}},
    {"runtime at level 0 ignored", {"-runtime", "60"}, {}},
    {"slash runtime at level 0", {"/runtime", "60"}, {.exec_time = 60000, .time_used = 1}},
    {"runtime 8 digits, 32-bit product",
     {"-lv", "1", "-runtime", "123456789"},
     {.level = 1, .exec_time = 3755743408u, .time_used = 1}},
    {"bad runtime", {"-lv", "1", "-runtime", "x"}, {.level = 1}},
    {"bad runtime blocks a later one",
     {"-lv", "1", "-runtime", "x", "-runtime", "60"},
     {.level = 1}},
    {"first runtime wins",
     {"-lv", "1", "-runtime", "60", "-runtime", "90"},
     {.level = 1, .exec_time = 60000, .time_used = 1}},
    {"waitsec", {"-waitsec", "2"}, {.waitsec = 2, .waitsec_used = 1}},
    {"waitsec 0", {"-waitsec", "0"}, {.waitsec_used = 1}},
    {"waitsec bad", {"-waitsec", "s"}, {}},
    {"pa", {"-pa", "1"}, {.test_ad = 0x4000000}},
    {"pa hex 8 chars", {"-PA", "123456789"}, {.test_ad = 0x12345678ull << 26}},
    {"pa ends at non-hex", {"-pa", "fG"}, {.test_ad = 0xFull << 26}},
    {"pa bad", {"-pa", "g1"}, {}},
    {"path is not pa", {"-path", "/x"}, {}},
    {"PATH is not pa", {"-PATH", "3"}, {}},
    {"sa 0", {"-sa", "0"}, {.size_unit = 1}},
    {"sa GB", {"SA1GB"}, {.size_unit = 0x40000000, .sa_value = 1}},
    {"sa MB", {"-sa", "10MB"}, {.size_unit = 0x100000, .sa_value = 10}},
    {"sa 64GB is the limit", {"-sa", "64GB"}, {.size_unit = 0x40000000, .sa_value = 64}},
    {"trailing blank ends the token", {"-use", "AWE "}, {.use_mode = kUseAwe, .use_nonpse = 0}},
};

TEST_F(ParseTable, AcceptedForms) {
  for (const Case& c : kAccepted) {
    reset_param_globals();
    run(c);
  }
}

const Case kErrors[] = {
    {"second SIZE",
     {"-lv", "1", "-size", "64", "-size", "32"},
     {.rc = 16,
      .err = 21,
      .size = 64 * kMiB,
      .level = 1,
      .exec_time = 70000,
      .size_used = 1,
      .title = "Starting Parameter Error(/SIZE Parameter #5)"}},
    {"USE value",
     {"-use", "XYZ"},
     {.rc = 16, .err = 22, .title = "Starting Parameter Error(/USE Parameter #1)"}},
    {"blank inside the text",
     {"-use", "AWE ", "-lv", "1"},
     {.rc = 16, .err = 22, .title = "Starting Parameter Error(/USE Parameter #1)"}},
    {"second USE",
     {"-use", "USER", "-use", "AWE"},
     {.rc = 16, .err = 23, .title = "Starting Parameter Error(/USE Parameter #2)"}},
    {"TP selects nothing",
     {"-tp", "FOO"},
     {.rc = 16, .err = 25, .title = "Starting Parameter Error(/TP Parameter #1)"}},
    {"tp window ends after 512 positions",
     {"-tp", std::string(512, 'z') + "MSCAN"},
     {.rc = 16, .err = 25, .title = "Starting Parameter Error(/TP Parameter #1)"}},
    // The first window already runs over the second TP token.
    {"second TP",
     {"-tp", "MSCAN", "-tp", "MARCH"},
     {.rc = 16,
      .err = 26,
      .algos = "ww000",
      .title = "Starting Parameter Error(/TP Parameter #2)"}},
    {"DATA value",
     {"-data", "X", "-tp", "MSCAN"},
     {.rc = 16, .err = 27, .title = "Starting Parameter Error(/DATA Parameter #1)"}},
    {"second DATA",
     {"-data", "ALL", "-data", "REPEAT"},
     {.rc = 16,
      .err = 28,
      .data_mode = kDataAll,
      .title = "Starting Parameter Error(/DATA Parameter #2)"}},
    {"SA without unit",
     {"-sa", "5"},
     {.rc = 16, .err = 29, .title = "Starting Parameter Error(/SA Parameter #1)"}},
    {"SA lower-case unit",
     {"-sa", "1gb"},
     {.rc = 16, .err = 29, .title = "Starting Parameter Error(/SA Parameter #1)"}},
    {"SA not decimal",
     {"SA1xMB"},
     {.rc = 16,
      .err = 30,
      .size_unit = 0x100000,
      .title = "Starting Parameter Error(/SA Parameter #2)"}},
    {"SA over 64GB",
     {"-sa", "65GB"},
     {.rc = 16,
      .err = 30,
      .size_unit = 0x40000000,
      .sa_value = 65,
      .title = "Starting Parameter Error(/SA Parameter #2)"}},
    {"SA saturating number",
     {"-sa", "99999999999MB"},
     {.rc = 16,
      .err = 30,
      .size_unit = 0x100000,
      .sa_value = 0x7FFFFFFF,
      .title = "Starting Parameter Error(/SA Parameter #2)"}},
    {"second SA after SA0",
     {"-sa", "0", "-sa", "0"},
     {.rc = 16, .err = 31, .size_unit = 1, .title = "Starting Parameter Error(/SA Parameter #3)"}},
    {"second SA",
     {"-SA1GB", "-SA2MB"},
     {.rc = 16,
      .err = 31,
      .size_unit = 0x40000000,
      .sa_value = 1,
      .title = "Starting Parameter Error(/SA Parameter #3)"}},
    {"USE PSE36",
     {"-use", "PSE36"},
     {.rc = 16,
      .err = 32,
      .use_mode = kUsePse36,
      .use_nonpse = 0,
      .title = "Starting Parameter Error(There's no PSE36.)"}},
    {"USE ALL",
     {"-use", "ALL"},
     {.rc = 16,
      .err = 32,
      .use_mode = kUseAll,
      .title = "Starting Parameter Error(There's no PSE36.)"}},
    {"PSE36 checked after the last token",
     {"-use", "PSE36", "-tp", "FOO"},
     {.rc = 16,
      .err = 25,
      .use_mode = kUsePse36,
      .use_nonpse = 0,
      .title = "Starting Parameter Error(/TP Parameter #1)"}},
};

TEST_F(ParseTable, ParameterErrors) {
  for (const Case& c : kErrors) {
    reset_param_globals();
    run(c);
  }
}

TEST_F(ParamsTest, OrderRuntimeAndSize) {
  for (const auto& v :
       {std::vector<std::string>{"memtest", "-lv", "1", "-size", "64", "-runtime", "600"},
        std::vector<std::string>{"memtest", "-lv", "1", "-runtime", "600", "-size", "64"}}) {
    reset_param_globals();
    Args args(v);
    ASSERT_EQ(parse(args), 1u);
    EXPECT_EQ(ParamStruct.dwSize, 2 * kMiB);
    EXPECT_EQ(ParamStruct.dwlSize, 2 * kMiB);
    EXPECT_EQ(execute_size_used.load(), 0u);
    EXPECT_EQ(execute_time, 600000u);
    EXPECT_EQ(TEST_INF.runtime, 600u);
  }
}

TEST_F(ParamsTest, LvAfterRuntimeNeedsThePrescan) {
  // Parsed alone from level 0, the RUNTIME before LV is passed over.
  Args args{"memtest", "-runtime", "60", "-lv", "1"};
  ASSERT_EQ(parse(args), 1u);
  EXPECT_EQ(Ex_dwTestLevel.load(), 1u);
  EXPECT_EQ(execute_time_used.load(), 0u);
  // After the pre-scan has set the level, every parse applies it.
  reset_param_globals();
  ASSERT_EQ(Pre_Getp_ForProgress(args.argv()), 1);
  execute_time = 1;
  ASSERT_EQ(parse(args), 1u);
  EXPECT_EQ(execute_time, 60000u);
  EXPECT_EQ(execute_time_used.load(), 1u);
}

TEST_F(ParamsTest, LvKeepsAGivenSize) {
  Args args{"memtest", "-lv", "1", "-size", "64", "-lv", "2"};
  ASSERT_EQ(parse(args), 1u);
  EXPECT_EQ(ParamStruct.dwSize, 64 * kMiB);
  EXPECT_EQ(Ex_dwTestLevel.load(), 2u);
}

TEST_F(ParamsTest, SaZeroAcceptedInEveryRun) {
  Args args{"memtest", "-sa", "0"};
  EXPECT_EQ(parse(args), 1u);
  EXPECT_EQ(parse(args), 1u);
  EXPECT_EQ(VykTp2MemStruct.size_unit, 1u);
}

TEST_F(ParamsTest, CancelBeforeTheFirstToken) {
  execute_cancel = 1;
  Args args{"memtest", "-lv", "1", "-tp", "MSCAN"};
  EXPECT_EQ(parse(args), 4u);
  EXPECT_EQ(err_, kUntouched);
  EXPECT_EQ(Ex_dwTestLevel.load(), 0u);
  EXPECT_EQ(lpTempString, nullptr);
}

TEST_F(ParamsTest, WorkingTextPublishedOnlyWhileInUse) {
  // The allocation seam sees the buffer; lpTempString points at it during the
  // pass and is cleared afterwards.
  static char* seen = nullptr;
  set_param_text_alloc([](size_t size) -> void* {
    EXPECT_EQ(size, 2048u);
    EXPECT_EQ(lpTempString, nullptr);
    seen = static_cast<char*>(std::malloc(size));
    return seen;
  });
  Args args{"memtest", "-tp", "MSCAN"};
  EXPECT_EQ(parse(args), 1u);
  EXPECT_EQ(lpTempString, nullptr);
  EXPECT_NE(seen, nullptr);
}

TEST_F(ParamsTest, AllocationFailures) {
  Args args{"memtest", "/runtime", "60", "-tp", "MSCAN"};
  g_alloc_fail_at = 1;
  set_param_text_alloc(&failing_alloc);
  EXPECT_EQ(parse(args), 16u);
  EXPECT_EQ(err_, kUntouched);
  EXPECT_STREQ(param_error_title(err_), "Parameter Error");
  EXPECT_EQ(execute_time_used.load(), 0u);

  g_alloc_calls = 0;
  g_alloc_fail_at = 2;
  EXPECT_EQ(parse(args), 16u);
  EXPECT_EQ(err_, kUntouched);
  EXPECT_EQ(execute_time, 60000u);  // the slash pass had run
  EXPECT_EQ(algos(), "00000");
  EXPECT_EQ(lpTempString, nullptr);
  const std::string t = trace();
  EXPECT_NE(t.find(",00000,ParseParam2() malloc error\n"), std::string::npos) << t;
  EXPECT_NE(t.find(",00000,ParseParam2() malloc error 2\n"), std::string::npos) << t;
}

TEST_F(ParamsTest, ArgumentLimits) {
  // The slash pass joins arguments 1 to 31, the dash pass 1 to 32.
  std::vector<std::string> v{"memtest"};
  for (int i = 1; i <= 30; ++i) v.push_back("x");
  v.push_back("/runtime5");  // 31
  v.push_back("-waitsec5");  // 32
  v.push_back("-pa1");       // 33: never joined
  v.push_back("/runtime7");
  Args args(v);
  ASSERT_EQ(parse(args), 1u);
  EXPECT_EQ(execute_time, 5000u);
  EXPECT_EQ(execute_waitsec.load(), 5u);
  EXPECT_EQ(Ex_test_ad, 0u);
}

TEST_F(ParamsTest, OverlongTextIsRefused) {
  // 2047 characters fit.
  Args fits{"memtest", "-tp", "MSCAN", "-trc", std::string(2047 - 8 - 4, 'a')};
  EXPECT_EQ(parse(fits), 1u);
  EXPECT_EQ(algos(), "w0000");

  Args over{"memtest", "-tp", "MSCAN", "-trc", std::string(2047 - 8 - 4 + 1, 'a')};
  EXPECT_EQ(parse(over), 16u);
  EXPECT_EQ(err_, kUntouched);
  EXPECT_EQ(algos(), "00000");
  EXPECT_EQ(lpTempString, nullptr);
  EXPECT_NE(trace().find("_ParseParam()  Parameter text over 2047 characters\n"),
            std::string::npos);
}

TEST_F(ParamsTest, TpWindowStopsAtTheBufferEnd) {
  // The keyword ends on the last character of a full 2047-character text; a
  // cut keyword there selects nothing.
  Args full{"memtest", "-trc", std::string(2047 - 4 - 8, 'a'), "-tpMSCAN"};
  EXPECT_EQ(parse(full), 1u);
  EXPECT_EQ(algos(), "w0000");
  Args cut{"memtest", "-trc", std::string(2047 - 4 - 8, 'a'), "-tpMASES"};
  EXPECT_EQ(parse(cut), 16u);
  EXPECT_EQ(err_, 25u);
}

TEST_F(ParamsTest, EndTraces) {
  Args args{"memtest", "-lv", "1", "-tp", "MSCAN,IMOVE", "-pa", "2", "-size", "64"};
  ASSERT_EQ(parse(args), 1u);
  const std::string t = trace();
  EXPECT_NE(t.find(",00000,_ParseParam() Normal End(dwSize=0x4000000 dwlSize=0x4000000)\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find(",00000,_ParseParam() algo_array[]={119 0 0 0 119 }\n"), std::string::npos);
  EXPECT_NE(t.find(",00000,_ParseParam() Start Physical Address(from PA Param.)=0x8000000\n"),
            std::string::npos);
}

TEST_F(ParamsTest, RuntimeTraces) {
  Args args{"memtest", "/runtime", "0"};
  Ex_dwTestLevel = 1;
  ASSERT_EQ(parse(args), 1u);
  Args dash{"memtest", "-runtime", "30"};
  ASSERT_EQ(parse(dash), 1u);
  const std::string t = trace();
  EXPECT_NE(t.find("_ParseParam(/RUNTIME)  dec_vl=0, execute_time=0x0, execute_time_used=1\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("_ParseParam(-RUNTIME)  dec_vl=30, execute_time=0x7530, execute_time_used=1\n"),
            std::string::npos)
      << t;
  EXPECT_EQ(t.find("PSE36"), std::string::npos);
}

TEST_F(ParamsTest, Pse36TraceAndSaOverLimitTrace) {
  Args pse{"memtest", "-use", "PSE36"};
  EXPECT_EQ(parse(pse), 16u);
  Args sa{"memtest", "-sa", "65GB"};
  EXPECT_EQ(parse(sa), 16u);
  const std::string t = trace();
  EXPECT_NE(t.find("_ParseParam()  PSE36 Mode is not Supported.\n"), std::string::npos);
  EXPECT_NE(t.find("_ParseParam()  SA over 64GB(dwSaValue=65 size_unit=0x40000000)\n"),
            std::string::npos)
      << t;
  EXPECT_EQ(t.find("Normal End"), std::string::npos);
}

TEST(StringToLong, Table) {
  const struct {
    const char* text;
    int mode;
    int32_t rc;
    uint32_t value;  // expected out; 77 = left alone
  } kCases[] = {
      {"", 0, 1, 0},
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
      {"", 1, 1, 0},
  };
  for (const auto& c : kCases) {
    uint32_t out = 77;
    EXPECT_EQ(VykTp2StringToLong(c.text, &out, c.mode), c.rc) << c.text;
    EXPECT_EQ(out, c.value) << c.text;
  }
}

TEST(GetPaStr, SixteenLowerCaseDigitsNoTerminator) {
  const struct {
    uint64_t value;
    const char* text;
  } kCases[] = {
      {0x123456789ABCull, "0000123456789abc"},
      {0, "0000000000000000"},
      {~0ull, "ffffffffffffffff"},
      {0xFEDCBA9876543210ull, "fedcba9876543210"},
  };
  for (const auto& c : kCases) {
    char out[18];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(get_pa_str(c.value, out), 0);
    EXPECT_EQ(std::string(out, 16), c.text);
    EXPECT_EQ(out[16], '#');
  }
}

}  // namespace
}  // namespace params_test
