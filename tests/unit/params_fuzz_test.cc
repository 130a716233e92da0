// Random argument vectors through the pre-scan and the parser: whatever the
// text, no crash, no overrun, and only the documented outcomes.
#include <random>
#include <set>
#include <string>
#include <vector>

#include "params_fixture.h"

namespace params_test {
namespace {

constexpr const char* kWords[] = {
    "LV",     "RUNTIME",   "SIZE",   "FULL",   "GB",    "USE",     "ALL",   "USER",
    "AWE",    "PSE36",     "TP",     "WHOLE",  "MSCAN", "MSCANX",  "MARCH", "MARCHX",
    "MASEST", "MASESTX",   "BMOVE",  "BMOVEX", "IMOVE", "IMOVEX",  "PMEM",  "ABORT",
    "DATA",   "CROSSTALK", "REPEAT", "SA",     "0",     "MB",      "PA",    "WAITSEC",
    "path",   "dev",       "MEM",    "trc",    "debug", "runtime",
};

// Well-formed pairs, so that the duplicate and mode checks are reached too.
constexpr const char* kPairs[][2] = {
    {"-lv", "1"},      {"-lv", "3"},      {"-size", "64"},   {"-size", "2GB"},  {"-runtime", "60"},
    {"-runtime", "0"}, {"-use", "USER"},  {"-use", "AWE"},   {"-use", "PSE36"}, {"-tp", "MSCAN"},
    {"-tp", "PMEM"},   {"-data", "ALL"},  {"-sa", "0"},      {"-sa", "1GB"},    {"-pa", "1"},
    {"-waitsec", "1"}, {"/runtime", "5"}, {"-path", "data"},
};

struct Gen {
  std::mt19937 rng{20240611};
  uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); }
  std::string word() {
    std::string w = kWords[below(std::size(kWords))];
    for (char& c : w) c = below(3) == 0 && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return w;
  }
  std::string chars(uint32_t n, char first, uint32_t range) {
    std::string s;
    for (uint32_t i = 0; i < n; ++i) s += static_cast<char>(first + below(range));
    return s;
  }
  std::string number() { return chars(1 + below(12), '0', 10); }
  std::string piece() {
    const uint32_t k = below(9);
    if (k < 3) return std::string(1, "-/ "[k]);
    if (k < 5) return number();
    return k == 5 ? chars(1 + below(6), 1, 255) : word();  // noise never holds a NUL
  }
  std::string value() {
    switch (below(6)) {
      case 0:
        return number() + (below(2) ? "GB" : "MB");
      case 1:
        return number();
      case 2:
        return word() + (below(3) == 0 ? "X" : "");
      case 3:
        return word() + "," + word();
      default:
        return piece();
    }
  }
  std::string arg() {
    std::string s = below(3) != 0 ? std::string(1, "-/"[below(2)]) : "";
    if (below(2) == 0) return s + word();  // a keyword alone; its value may follow
    for (uint32_t i = 1 + below(3); i > 0; --i) s += below(2) ? value() : piece();
    return s;
  }
  std::string long_arg() {
    if (below(2) == 0) return chars(1000 + below(3000), 1, 255);
    return std::string(1000 + below(2000), "-/ a"[below(4)]);
  }
};

bool valid_size(uint64_t size) {
  if (size == 0 || size % kMiB != 0) return false;
  return size <= 999 * kMiB || (size % kGiB == 0 && size <= 999 * kGiB);
}

TEST_F(ParamsTest, RandomArgumentVectors) {
  Gen gen;
  int results[3] = {};
  std::set<uint32_t> numbers;
  for (int iter = 0; iter < 4000; ++iter) {
    SCOPED_TRACE(iter);
    reset_param_globals();
    std::vector<std::string> v;
    for (uint32_t n = gen.below(gen.below(4) == 0 ? 40 : 10); n > 0; --n) {
      const uint32_t kind = gen.below(3);
      if (kind == 0) {
        const auto& pair = kPairs[gen.below(std::size(kPairs))];
        v.insert(v.end(), {pair[0], pair[1]});
      } else {
        v.push_back(kind == 1 ? gen.arg() : gen.value());
      }
    }
    if (gen.below(10) == 0)
      v.insert(v.begin() + gen.below(static_cast<uint32_t>(v.size()) + 1), gen.long_arg());
    size_t joined_length = 0;  // what the dash pass joins: arguments 1 to 32
    for (size_t i = 0; i < v.size() && i < 32; ++i) joined_length += v[i].size();
    Args args(v);

    const bool cancel = gen.below(50) == 0;
    const bool no_memory = gen.below(50) == 0;
    if (no_memory) {
      set_param_text_alloc(&failing_alloc);
      g_alloc_calls = 0;
      g_alloc_fail_at = static_cast<int>(1 + gen.below(5));
    }

    const int32_t pre = Pre_Getp_ForProgress(args.argv());
    EXPECT_EQ(pre, no_memory && g_alloc_fail_at <= 3 ? 16 : 1);
    EXPECT_EQ(lpTempString, nullptr);
    EXPECT_TRUE(Algo_Count_ForProgress >= 1 && Algo_Count_ForProgress <= 6);
    EXPECT_LE(Ex_dwTestLevel.load(), 9u);
    if (pre == 1) {
      EXPECT_TRUE(Total_Execute_Size % kMiB == 0 && Total_Execute_Size != 0);
    }

    if (cancel) execute_cancel = 1;
    const uint32_t rc = parse(args);
    EXPECT_EQ(lpTempString, nullptr);
    ASSERT_TRUE(rc == 1 || rc == 4 || rc == 16) << rc;
    results[rc == 1 ? 0 : (rc == 4 ? 1 : 2)]++;
    if (rc == 4) {
      EXPECT_TRUE(cancel);
    }
    if (rc == 16) {
      numbers.insert(err_);
      EXPECT_TRUE((err_ >= 21 && err_ <= 32 && err_ != 24) || err_ == kUntouched) << err_;
      // Without an allocation failure, only an over-long text fails unnumbered.
      if (err_ == kUntouched && !no_memory) {
        EXPECT_GT(joined_length, 2047u);
      }
    } else {
      EXPECT_EQ(err_, kUntouched);
    }
    EXPECT_TRUE(valid_size(ParamStruct.dwSize)) << ParamStruct.dwSize;
    if (rc == 1) {
      EXPECT_EQ(ParamStruct.dwSize, ParamStruct.dwlSize);
      EXPECT_TRUE(ParamStruct.wTestMode == kTestWhole || ParamStruct.wTestMode == kTestOneByOne);
      EXPECT_TRUE(ParamStruct.wUseMode == kUseUser || ParamStruct.wUseMode == kUseAwe);
      EXPECT_TRUE(ParamStruct.wDataMode == kDataAll || ParamStruct.wDataMode == kDataCrossTalk ||
                  ParamStruct.wDataMode == kDataRepeat);
      EXPECT_LE(static_cast<uint64_t>(ParamStruct.dwSaValue) * VykTp2MemStruct.size_unit,
                0x1000000000ull);
      for (uint8_t b : algo_) EXPECT_TRUE(b == 0 || b == kAlgoSelected);
    }
  }
  // The generator reaches every outcome.
  EXPECT_GT(results[0], 100);
  EXPECT_GT(results[1], 5);
  EXPECT_GT(results[2], 100);
  EXPECT_EQ(numbers, (std::set<uint32_t>{21, 22, 23, 25, 26, 27, 28, 29, 30, 31, 32, kUntouched}));
}

}  // namespace
}  // namespace params_test
