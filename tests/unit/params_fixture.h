// Shared set-up of the keyword parser and pre-scan tests: every global they
// touch is reset around each test, trace lines go to a temporary log, and the
// whole outcome renders as one "key=value" line so a table row can name only
// what differs from the defaults.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_inf.h"
#include "state/memstruct.h"
#include "params/param.h"
#include "test_support.h"

namespace params_test {

constexpr uint64_t kMiB = 0x100000;
constexpr uint64_t kGiB = 0x40000000;
constexpr uint32_t kUntouched = 0xDEADBEEF;

// An argument vector as the program gets it: program name first, null last.
class Args {
 public:
  explicit Args(std::vector<std::string> args) : text_(std::move(args)) {
    text_.insert(text_.begin(), "memtest");
    for (std::string& s : text_) ptrs_.push_back(s.data());
    ptrs_.push_back(nullptr);
  }
  char** argv() { return ptrs_.data(); }

 private:
  std::vector<std::string> text_;
  std::vector<char*> ptrs_;
};

inline void reset_param_globals() {
  ParamStruct = ParamStruct_t{};
  std::memset(Fake_Err, 0, sizeof Fake_Err);
  execute_time = 30000;
  execute_time_used = execute_infinity_used = execute_size_used = 0;
  execute_waitsec = execute_waitsec_used = execute_pa_used = execute_cancel = 0;
  Ex_test_ad = 0;
  Ex_pmem_FIND = 0;
  lpTempString = nullptr;
  Total_Execute_Size = 0x200000;
  Algo_Count_ForProgress = 0;
  Ex_dwTestLevel = 0;
  memstruct_clear(&VykTp2MemStruct);
  VykTp2MemStruct.param = &ParamStruct;
  std::memset(&Error_Details, 0, sizeof Error_Details);
  TEST_INF.runtime = 0;
  set_param_text_alloc(nullptr);
}

// Allocation seam that fails its n-th call (counted from 1); 0 never fails.
inline int g_alloc_calls = 0;
inline int g_alloc_fail_at = 0;
inline void* failing_alloc(size_t size) {
  if (++g_alloc_calls == g_alloc_fail_at) return nullptr;
  return std::malloc(size);
}

inline std::string size_text(uint64_t v) {
  if (v != 0 && v % kGiB == 0) return std::to_string(v / kGiB) + "G";
  if (v != 0 && v % kMiB == 0) return std::to_string(v / kMiB) + "M";
  return std::to_string(v);
}

inline std::string mode_text(uint16_t m) {
  const std::pair<uint16_t, const char*> kNames[] = {
      {kTestWhole, "whole"},     {kTestOneByOne, "one"}, {kUseAll, "all"},
      {kUsePse36, "pse36"},      {kUseUser, "user"},     {kUseAwe, "awe"},
      {kDataCrossTalk, "cross"}, {kDataRepeat, "repeat"}};
  for (const auto& [value, name] : kNames) {
    if (value == m) return name;  // kUseAll equals kDataAll
  }
  return std::to_string(m);
}

using State = std::map<std::string, std::string>;

inline State parse_kv(const std::string& text) {
  State s;
  std::istringstream in(text);
  for (std::string kv; in >> kv;) {
    const size_t eq = kv.find('=');
    s[kv.substr(0, eq)] = eq == std::string::npos ? "" : kv.substr(eq + 1);
  }
  return s;
}

// "k=v k=v" over a base text; every key must be one the base names.
inline State overlay(const std::string& base, const std::string& text) {
  State s = parse_kv(base);
  for (const auto& [k, v] : parse_kv(text)) {
    EXPECT_TRUE(s.count(k)) << "unknown key " << k;
    s[k] = v;
  }
  return s;
}

inline std::string joined(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) out += (a.size() > 40 ? a.substr(0, 40) + "..." : a) + " ";
  return out;
}

inline std::string render(const State& s) {
  std::string out;
  for (const auto& [k, v] : s) out += k + "=" + v + " ";
  return out;
}

class ParamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_param_globals();
    g_alloc_calls = g_alloc_fail_at = 0;
    std::snprintf(TEST_INF.trace_log_base, sizeof TEST_INF.trace_log_base, "%s",
                  dir_.file("memot").c_str());
    TEST_INF.log_size_limit = 1 << 24;
    TEST_INF.log_generations = 2;
    TEST_INF.debug_enabled = 0;
  }
  void TearDown() override {
    TEST_INF.trace_log_base[0] = '\0';
    reset_param_globals();
  }

  std::string trace() const { return testsupport::read_file(dir_.file("memot_log.0")); }

  // One parse as the main sequence makes it: algo_array zeroed first.
  uint32_t parse(Args& args) {
    std::memset(algo_, 0, sizeof algo_);
    err_ = kUntouched;
    return VykTp2ParseParam2(args.argv(), &VykTp2MemStruct, algo_, &err_);
  }
  std::string algos() const {
    std::string s;
    for (uint8_t b : algo_) s += b == kAlgoSelected ? 'w' : (b == 0 ? '0' : '?');
    return s;
  }

  // Everything a parse or pre-scan may set.
  State state(int64_t rc) const {
    std::string fakes;
    for (int i = 0; i < 6; ++i) fakes += Fake_Err[i] ? '1' : '0';
    char text[512];
    std::snprintf(
        text, sizeof text,
        "rc=%lld err=%s size=%s test=%s use=%s data=%s algos=%s fakes=%s lv=%u time=%llu tused=%u "
        "inf=%u sused=%u wait=%u wused=%u pa=0x%llx pmem=%u algo=%u nonpse=%u unit=%u sa=%u rt=%u "
        "count=%u total=%s",
        static_cast<long long>(rc), err_ == kUntouched ? "-" : std::to_string(err_).c_str(),
        size_text(ParamStruct.dwSize).c_str(), mode_text(ParamStruct.wTestMode).c_str(),
        mode_text(ParamStruct.wUseMode).c_str(), mode_text(ParamStruct.wDataMode).c_str(),
        algos().c_str(), fakes.c_str(), Ex_dwTestLevel.load(),
        static_cast<unsigned long long>(execute_time), execute_time_used.load(),
        execute_infinity_used.load(), execute_size_used.load(), execute_waitsec.load(),
        execute_waitsec_used.load(), static_cast<unsigned long long>(Ex_test_ad),
        Ex_pmem_FIND.load(), unsigned{VykTp2MemStruct.algo_no.load()},
        unsigned{VykTp2MemStruct.use_nonpse}, static_cast<unsigned>(VykTp2MemStruct.size_unit),
        ParamStruct.dwSaValue, static_cast<unsigned>(TEST_INF.runtime), Algo_Count_ForProgress,
        size_text(Total_Execute_Size).c_str());
    return parse_kv(text);
  }

  testsupport::OutputCapture out_;  // the log rotation's process records
  testsupport::TempDir dir_;
  uint8_t algo_[5] = {};
  uint32_t err_ = kUntouched;
};

}  // namespace params_test
