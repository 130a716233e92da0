// The memory test control block, the error detail record and the run state.
// One instance of each per process.
#pragma once

#include <atomic>
#include <cstdint>

struct ParamStruct_t;

// Algorithm numbers (control block algo_no).
inline constexpr uint16_t kAlgoMscan = 23;
inline constexpr uint16_t kAlgoMarch = 24;
inline constexpr uint16_t kAlgoMasest = 25;
inline constexpr uint16_t kAlgoBmove = 26;
inline constexpr uint16_t kAlgoImove = 27;
inline constexpr uint16_t kAlgoPmem = 50;

// Data pattern kinds (control block data_kind, ParamStruct wDataMode).
inline constexpr uint16_t kDataAll = 2;
inline constexpr uint16_t kDataCrossTalk = 46;
inline constexpr uint16_t kDataRepeat = 47;

// Result codes of the memory test routines.
inline constexpr uint32_t kRcOk = 1;
inline constexpr uint32_t kRcDevOpen = 2;
inline constexpr uint32_t kRcCancel = 4;
inline constexpr uint32_t kRcParam = 16;
inline constexpr uint32_t kRcSyscall = 256;
inline constexpr uint32_t kRcCompare = 1024;
inline constexpr uint32_t kRcNoBuffer = 2048;

// Error classes of Error_Details.error_class.
inline constexpr uint32_t kClassParam = 16;
inline constexpr uint32_t kClassSyscall = 256;
inline constexpr uint32_t kClassCompare = 1024;

// algo_no and data_kind are read by the progress thread.
struct VykTp2MemStruct_t {
  uint32_t dwTestLevel;
  uint32_t single_run;
  uint8_t use_nonpse;
  uint8_t pse36_active;
  uint32_t size_unit;
  uint16_t mem_kind;
  std::atomic<uint16_t> algo_no;
  std::atomic<uint16_t> data_kind;
  std::atomic<uint16_t> pattern_bits;
  uint64_t pmem_test_ad;
  uint64_t pmem_test_ad_end;
  ParamStruct_t* param;
};

struct Error_Details_t {
  uint32_t error_class;
  uint32_t error_code;
  const char* name_text;
  const char* device_text;
  uint32_t logical_address;
  uint32_t offset_ref;
  uint64_t physical_address;
  const void* expected_data;
  const void* actual_data;
  uint32_t compare_length;
  uint32_t data_width;
  uint32_t mismatch_offset;
  char function_name[64];
};

extern VykTp2MemStruct_t VykTp2MemStruct;
extern Error_Details_t Error_Details;

// Run state. Atomics are the fields another thread reads or writes.
extern int Ex_argc;
extern char** Ex_argv;
extern std::atomic<uint32_t> Ex_dwTestLevel;
extern std::atomic<int32_t> Ex_ret_thread_memtest;  // initial 1
extern std::atomic<uint32_t> Ex_dwReturnValue;      // initial 1
extern std::atomic<uint32_t> Ex_Thread_End_f;
extern uint64_t Ex_Prev_MSec;
extern std::atomic<uint32_t> Ex_pass_cnt;
extern std::atomic<uint32_t> Ex_error_list_level;
extern std::atomic<void*> Ex_lpCommittedBuffer;
extern std::atomic<uint32_t> Ex_Committed_dwSize;
extern std::atomic<uint64_t> Ex_dwDebug_TKind;
extern std::atomic<VykTp2MemStruct_t*> Ex_MemStruct;
extern char Ex_progress_end_msg[48];
extern uint64_t Commit_Size;  // initial 0x4000000

// Zeroes the control block fields (atomics included), param excepted.
void memstruct_clear(VykTp2MemStruct_t* ctl);
// The control block (param included), the error detail record and the run
// state back to their program-start values.
void run_state_clear();
