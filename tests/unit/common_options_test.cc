#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common_test_fixture.h"

namespace {

using commontest::CommonTest;

// argv built from strings; argv[0] is the program path.
struct Argv {
  explicit Argv(std::vector<std::string> args) : store(std::move(args)) {
    store.insert(store.begin(), "/usr/diag/memtest");
    for (auto& s : store) ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(store.size()); }
  char** argv() { return ptrs.data(); }
  std::vector<std::string> store;
  std::vector<char*> ptrs;
};

// Unsets an environment variable for the test and puts it back afterwards.
struct EnvKeep {
  explicit EnvKeep(const char* n) : name(n), had(std::getenv(n) != nullptr) {
    if (had) value = std::getenv(n);
    unsetenv(n);
  }
  ~EnvKeep() { had ? setenv(name, value.c_str(), 1) : unsetenv(name); }
  const char* name;
  bool had;
  std::string value;
};

class OptionsTest : public CommonTest {
 protected:
  void SetUp() override {
    CommonTest::SetUp();
    TEST_INF.test_mode = kModeUnknown;
  }
  static void set_env(const char* name, const char* value) {
    *value ? setenv(name, value, 1) : unsetenv(name);
  }
  EnvKeep data_{"VYK_data"}, log_{"VYK_log"};
};

struct AnalyzeCase {
  std::vector<std::string> args;
  int rc;
  std::string first0;   // expected line 0 of the first free-message list
  std::string second1;  // expected line 1 of the second free-message list
};

const std::string k33(33, 'd');
const std::string k32(32, 'd');
const std::string k261(261, 'p');

TEST_F(OptionsTest, AnalyzeFailureTexts) {
  const std::vector<AnalyzeCase> cases = {
      {{"-dev"}, -1, "\"-dev\" Parameter Nothing", ""},
      {{"-dev", k33}, -1, "", "\"-dev\" Parameter Error ( " + k33 + " )"},
      {{"-lv"}, -1, "\"-lv\" Parameter Nothing", ""},
      {{"-lv", "4"}, -1, "", "\"-lv\" Parameter Error ( 4 )"},
      {{"-lv", "-1"}, -1, "", "\"-lv\" Parameter Error ( -1 )"},
      {{"-lv", "1a"}, -1, "", "\"-lv\" Parameter Error ( 1a )"},
      {{"-runtime"}, -1, "\"-runtime\" Parameter Nothing", ""},
      {{"/runtime"}, -1, "\"-runtime\" Parameter Nothing", ""},
      {{"-runtime", "100000000"}, -1, "", "\"/runtime\" Parameter Error ( 100000000 )"},
      {{"-path"}, -1, "\"-path\" Parameter Nothing", ""},
      // The second list keeps 75 characters of the text.
      {{"-path", k261}, -1, "", ("\"-path\" Parameter Error ( " + k261).substr(0, 75)},
      {{"-trc"}, -1, "", "\"-trc\" Parameter Nothing"},
      {{"-trc", k261}, -1, "", ("\"-trc\" Parameter Error ( " + k261).substr(0, 75)},
      {{"-log"}, -1, "\"-log\" Parameter Nothing", ""},
      {{"-log", "0"}, -1, "", "\"-log\" Parameter Error ( 0 )"},
      {{"-log", "8193"}, -1, "", "\"-log\" Parameter Error ( 8193 )"},
      {{"-log", "8k"}, -1, "", "\"-log\" Parameter Error ( 8k )"},
      {{"-gen"}, -1, "\"-gen\" Parameter Nothing", ""},
      {{"-gen", "0"}, -1, "", "\"-gen\" Parameter Error ( 0 )"},
      {{"-gen", "10"}, -1, "", "\"-gen\" Parameter Error ( 10 )"},
      {{"-dev", "MEM", "-gen", "x", "-lv", "9"}, -1, "", "\"-gen\" Parameter Error ( x )"},
  };
  for (const auto& c : cases) {
    reset();
    eset_init();
    Argv a(c.args);
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    EXPECT_EQ(common_arg_analyze(a.argc(), a.argv()), c.rc);
    EXPECT_EQ(std::string(TEST_INF.err.freemsg[0]), c.first0);
    EXPECT_EQ(std::string(TEST_INF.err.freemsg_p[1]), c.second1);
    EXPECT_EQ(TEST_INF.err.freemsg[1][0], '\0');
    EXPECT_EQ(TEST_INF.err.freemsg_p[0][0], '\0');
  }
}

TEST_F(OptionsTest, AnalyzeAcceptedValues) {
  Argv a({"-DEV", "\"" + k32.substr(2) + "\"", "-LV", "0x3", "/runtime", "99999999", "-path",
          "\"/data dir\"", "-Trc", "/lo\"g", "-log", "8192", "-gen", "9", "-Debug", "SIZE=2M",
          "-lvl", "2"});
  ASSERT_EQ(common_arg_analyze(a.argc(), a.argv()), 0);
  EXPECT_EQ(std::string(TEST_INF.dev_arg), "\"" + k32.substr(2) + "\"");  // quotes kept
  EXPECT_EQ(TEST_INF.test_level, 3u);
  EXPECT_EQ(TEST_INF.test_mode.load(), kModeOnline);
  EXPECT_EQ(TEST_INF.runtime, 99999999u);
  EXPECT_EQ(std::string(TEST_INF.data_path), "/data dir");
  EXPECT_EQ(std::string(TEST_INF.trace_dir), "/log");
  EXPECT_EQ(TEST_INF.log_size_limit, 8388608);
  EXPECT_EQ(TEST_INF.log_generations, 9u);
  EXPECT_EQ(TEST_INF.debug_enabled, 1u);
}

TEST_F(OptionsTest, AnalyzeDefaultsAndKeptValues) {
  TEST_INF.debug_enabled = 1;
  Argv none({"-lvl", "2", "TP=MSCAN"});
  ASSERT_EQ(common_arg_analyze(none.argc(), none.argv()), 0);
  EXPECT_EQ(TEST_INF.log_size_limit, 131072);
  EXPECT_EQ(TEST_INF.log_generations, 4u);
  EXPECT_EQ(TEST_INF.debug_enabled, 0u);
  EXPECT_EQ(TEST_INF.runtime, 0x70000000u);
  EXPECT_EQ(TEST_INF.test_mode.load(), kModeUnknown);  // "-lvl" is not "-lv"

  Argv lv0({"-lv", "0", "-dev", k32, "-gen", "10", "-log", "1"});
  EXPECT_EQ(common_arg_analyze(lv0.argc(), lv0.argv()), -1);
  EXPECT_EQ(TEST_INF.test_mode.load(), kModePatrol);
  EXPECT_EQ(std::string(TEST_INF.dev_arg), k32);
  EXPECT_EQ(TEST_INF.log_size_limit, 131072);  // after the failure: untouched
}

TEST_F(OptionsTest, CheckFailures) {
  struct Case {
    std::vector<std::string> args;
    const char* text;
  };
  const std::vector<Case> cases = {
      {{"-lv", "1", "-path", "/d"}, "\"/dev test-device-name\" Parameter Not Found"},
      {{"-path", "/d"}, "\"/dev test-device-name\" Parameter Not Found"},
      {{"-dev", "MEM", "-path", "/d"}, "\"-lv 0-3\" Parameter Not Found"},
      {{"-dev", "MEM", "-lv", "1"}, "\"-parh directry-name\" Parameter Not Found"},
  };
  for (const auto& c : cases) {
    reset();
    TEST_INF.test_mode = kModeUnknown;
    eset_init();
    Argv a(c.args);
    EXPECT_EQ(common_arg_chk(a.argc(), a.argv()), -1) << c.text;
    EXPECT_STREQ(TEST_INF.err.freemsg_p[1], c.text);
    EXPECT_EQ(TEST_INF.trace_log_base[0], '\0');
  }
  setenv("VYK_data", std::string(261, 'v').c_str(), 1);
  eset_init();
  Argv a({"-dev", "MEM", "-lv", "1"});
  EXPECT_EQ(common_arg_chk(a.argc(), a.argv()), -1);
  EXPECT_STREQ(TEST_INF.err.freemsg_p[1], "\"-parh directry-name\" Parameter Not Found");
}

TEST_F(OptionsTest, CheckDirectoriesAndLogBases) {
  struct Case {
    std::vector<std::string> args;
    std::string vyk_data, vyk_log;
    const char* want;  // data path, trace directory, trace and debug log bases
  };
  const std::string dev[] = {"-dev", "MEM", "-lv"};
  const std::vector<Case> cases = {
      {{"1", "-path", "/d"}, "", "", "/d /d /d/memot /d/memod"},
      {{"0", "-path", "/d"}, "", "", "/d /d /d/mempt /d/mempd"},
      {{"2"}, "/env/data", "/env/log", "/env/data /env/log /env/log/memot /env/log/memod"},
      {{"2", "-trc", "/t"}, "/env/data", "/env/log", "/env/data /t /t/memot /t/memod"},
      {{"3", "-path", "/p"}, "/env/data", "/env/log", "/p /env/log /env/log/memot /env/log/memod"},
      // A VYK_log value that is too long is ignored: the logs follow the data.
      {{"0"},
       "/env/data",
       std::string(261, 'l'),
       "/env/data /env/data /env/data/mempt /env/data/mempd"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    reset();
    TEST_INF.test_mode = kModeUnknown;
    set_env("VYK_data", c.vyk_data.c_str());
    set_env("VYK_log", c.vyk_log.c_str());
    std::vector<std::string> args(std::begin(dev), std::end(dev));
    args.insert(args.end(), c.args.begin(), c.args.end());
    Argv a(args);
    ASSERT_EQ(common_arg_chk(a.argc(), a.argv()), 0);
    EXPECT_EQ(std::string(TEST_INF.data_path) + " " + TEST_INF.trace_dir + " " +
                  TEST_INF.trace_log_base + " " + TEST_INF.debug_log_base,
              c.want);
  }
}

TEST(StrtolxTest, AcceptsAndRejects) {
  const std::pair<const char*, uint64_t> good[] = {{"0", 0},
                                                   {"12", 12},
                                                   {"0x1F", 31},
                                                   {"0XfF", 255},
                                                   {"4294967296", 4294967296ull},
                                                   {"0xffffffffffffffff", UINT64_MAX},
                                                   {"18446744073709551615", UINT64_MAX},
                                                   {"18446744073709551616", 0}};  // 20 digits wrap
  for (const auto& [text, value] : good) {
    uint64_t v = 0xdeadbeef;
    EXPECT_EQ(strtolx(text, &v), 0) << text;
    EXPECT_EQ(v, value) << text;
  }
  // Hex takes at most 16 digits, decimal at most 20.
  for (const char* text : {"", "0x", " 12", "+5", "-1", "1a", "0x1g", "0x0ffffffffffffffff",
                           "000000000000000000001"}) {
    uint64_t v = 0xdeadbeef;
    EXPECT_EQ(strtolx(text, &v), -1) << '"' << text << '"';
    EXPECT_EQ(v, 0xdeadbeefu) << text;
  }
}

TEST(ModuleNameTest, BaseNames) {
  struct Case {
    const char* path;
    int max;
    int rc;
    const char* name;
  };
  const Case cases[] = {{"/usr/diag/memtest", 16, 0, "memtest"},
                        {"/memtest", 16, 0, "memtest"},
                        {"D:memtest.exe", 16, 0, "memtest"},
                        {"x.EXE", 16, 0, "x"},
                        {".exe", 16, 0, ".exe"},
                        {"memtest", 4, 0, "memt"},
                        {"a/b:c", 16, 0, "c"},
                        {"dir/", 16, 0, ""},
                        {"averyveryverylongname", 16, 0, "averyveryverylon"},
                        {"", 16, -1, ""}};
  for (const auto& c : cases) {
    char out[17] = {};
    EXPECT_EQ(get_module_name(out, c.path, c.max), c.rc) << c.path;
    EXPECT_STREQ(out, c.name) << c.path;
  }
}

TEST(TestLevelTest, ModeFromCommandLine) {
  struct Case {
    std::vector<std::string> args;
    int mode;
  };
  const std::vector<Case> cases = {{{}, 1},
                                   {{"-lv", "0"}, 2},
                                   {{"-LV", "3"}, 1},
                                   {{"-lv"}, 1},
                                   {{"-lv", "abc"}, 2},
                                   {{"-lv", "0x0"}, 2},
                                   {{"-lv", "010"}, 1},
                                   {{"SIZE=1", "-Lv", "00"}, 2},
                                   {{"-lvl", "0"}, 1}};
  for (const auto& c : cases) {
    Argv a(c.args);
    EXPECT_EQ(get_test_level(a.argc(), a.argv()), c.mode)
        << (c.args.empty() ? std::string("none") : c.args.back());
  }
}

}  // namespace
