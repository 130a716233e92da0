// The parameter block, the fault-injection switches and the run settings that
// the keyword parser and pre-scan fill and every subsystem reads.
#pragma once

#include <atomic>
#include <cstdint>

#include "state/process_end.h"  // execute_cancel, the cancel request

// wTestMode / wUseMode values.
inline constexpr uint16_t kTestWhole = 3;
inline constexpr uint16_t kTestOneByOne = 4;
inline constexpr uint16_t kUseAll = 2;
inline constexpr uint16_t kUsePse36 = 27;
inline constexpr uint16_t kUseUser = 28;
inline constexpr uint16_t kUseAwe = 48;

inline constexpr uint8_t kAlgoSelected = 'w';

struct ParamStruct_t {
  uint64_t dwSize;
  uint32_t dwSizeCount;
  uint64_t dwlSize;
  uint16_t wTestMode;
  uint16_t wTpCount;
  uint16_t wUseMode;
  uint16_t wUseCount;
  uint16_t wDataMode;
  uint16_t wDataCount;
  uint32_t dwSaValue;
};

extern ParamStruct_t ParamStruct;
extern uint8_t Fake_Err[8];

// Run settings; the flags are read by the progress and cancel threads.
extern uint64_t execute_time;  // initial 30000
extern std::atomic<uint32_t> execute_time_used;
extern std::atomic<uint32_t> execute_infinity_used;
extern std::atomic<uint32_t> execute_size_used;
extern std::atomic<uint32_t> execute_waitsec;
extern std::atomic<uint32_t> execute_waitsec_used;
extern std::atomic<uint32_t> execute_pa_used;
extern uint64_t Ex_test_ad;
extern std::atomic<uint32_t> Ex_pmem_FIND;
extern char* lpTempString;

// Pre-scan results.
extern uint64_t Total_Execute_Size;  // initial 0x200000
extern uint32_t Algo_Count_ForProgress;

// Everything above back to its program-start value.
void param_block_clear();
