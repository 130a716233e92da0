// Shared set-up of the keyword parser and pre-scan tests: every global they
// touch is reset around each test, and their trace lines go to a temporary
// trace log that the test can read.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/test_inf.h"
#include "driver/memstruct.h"
#include "params/param.h"
#include "test_support.h"

namespace params_test {

constexpr uint64_t kMiB = 0x100000;
constexpr uint64_t kGiB = 0x40000000;
constexpr uint32_t kUntouched = 0xDEADBEEF;

// An argument vector as the program gets it: argv[0] is the program name and
// a null entry ends it.
class Args {
 public:
  Args(std::initializer_list<std::string> args) : text_(args) { build(); }
  explicit Args(std::vector<std::string> args) : text_(std::move(args)) { build(); }
  char** argv() { return ptrs_.data(); }

 private:
  void build() {
    for (std::string& s : text_) ptrs_.push_back(s.data());
    ptrs_.push_back(nullptr);
  }
  std::vector<std::string> text_;
  std::vector<char*> ptrs_;
};

inline void reset_param_globals() {
  ParamStruct = ParamStruct_t{};
  std::memset(Fake_Err, 0, sizeof Fake_Err);
  execute_time = 30000;
  execute_time_used = 0;
  execute_infinity_used = 0;
  execute_size_used = 0;
  execute_waitsec = 0;
  execute_waitsec_used = 0;
  execute_pa_used = 0;
  execute_cancel = 0;
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

class ParamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_param_globals();
    g_alloc_calls = 0;
    g_alloc_fail_at = 0;
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
  static std::string fakes() {
    std::string s;
    for (int i = 0; i < 6; ++i) s += Fake_Err[i] ? '1' : '0';
    return s;
  }

  testsupport::OutputCapture out_;  // the log rotation's process records
  testsupport::TempDir dir_;
  uint8_t algo_[5] = {};
  uint32_t err_ = kUntouched;
};

}  // namespace params_test
