// The common test information block shared by the suite's test modules.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>

// Version of the module, sent in the version record and the result texts.
inline constexpr char kModuleVersion[] = "8.0.0";
inline constexpr char kModuleBuild[] = "130207154512";

// Test modes held in TEST_INF.test_mode.
inline constexpr uint32_t kModeUnknown = 0;
inline constexpr uint32_t kModeOnline = 1;
inline constexpr uint32_t kModePatrol = 2;

// One message-table entry: five-character number and text, 87 bytes.
struct MsgEntry {
  char msgno[6];
  char text[81];
};
static_assert(sizeof(MsgEntry) == 87);

// Bits of ErrorRecord::eset_flags.
inline constexpr uint32_t kEsetInfo = 0x001;
inline constexpr uint32_t kEsetDate = 0x002;
inline constexpr uint32_t kEsetTitle = 0x004;
inline constexpr uint32_t kEsetSyscall = 0x010;
inline constexpr uint32_t kEsetAction = 0x400;

// The error record: facts collected for the next error or abort list.
struct ErrorRecord {
  uint32_t eset_flags;
  char einfo_name[33];
  char einfo_device[33];
  char edate[21];
  char etitle[65];
  char freemsg[10][76];
  char freemsg_p[10][76];
  char syscall_name[65];
  int32_t syscall_errno;
  char action_text[5][76];
};

using CancelHandler = void (*)();

// Fields that the progress thread or the cancel thread touch while the test
// thread runs are atomics; the rest is written before the threads start.
struct TEST_INF_t {
  void** area_table;
  uint32_t area_count;
  char dev_arg[33];
  std::atomic<uint32_t> test_mode;
  uint32_t test_level;
  char data_path[261];
  char trace_dir[261];
  int32_t log_size_limit;
  uint32_t log_generations;
  uint32_t debug_enabled;
  uint32_t runtime;
  MsgEntry* msgtbl;
  uint32_t msgtbl_count;
  char trace_log_base[517];
  char debug_log_base[517];
  char device_name[17];
  char module_name[17];
  ErrorRecord err;
  std::atomic<CancelHandler> cancel_handler;
  std::atomic<uint32_t> pass_count;
  time_t test_start_time;
  std::atomic<uint32_t> last_elapsed;
  std::atomic<uint32_t> last_remaining;
  std::atomic<uint32_t> last_percent;
  // Set when a status record goes out; running progress records stop then.
  std::atomic<uint32_t> final_status_sent;
};

extern TEST_INF_t TEST_INF;

// Zeroes every field of TEST_INF (atomics included).
void test_inf_clear();
