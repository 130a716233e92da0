// The one TEST_INF of the process.
#include "common/test_inf.h"

#include <cstring>

TEST_INF_t TEST_INF;

void test_inf_clear() {
  TEST_INF.area_table = nullptr;
  TEST_INF.area_count = 0;
  std::memset(TEST_INF.dev_arg, 0, sizeof TEST_INF.dev_arg);
  TEST_INF.test_mode = 0;
  TEST_INF.test_level = 0;
  std::memset(TEST_INF.data_path, 0, sizeof TEST_INF.data_path);
  std::memset(TEST_INF.trace_dir, 0, sizeof TEST_INF.trace_dir);
  TEST_INF.log_size_limit = 0;
  TEST_INF.log_generations = 0;
  TEST_INF.debug_enabled = 0;
  TEST_INF.runtime = 0;
  TEST_INF.msgtbl = nullptr;
  TEST_INF.msgtbl_count = 0;
  std::memset(TEST_INF.trace_log_base, 0, sizeof TEST_INF.trace_log_base);
  std::memset(TEST_INF.debug_log_base, 0, sizeof TEST_INF.debug_log_base);
  std::memset(TEST_INF.device_name, 0, sizeof TEST_INF.device_name);
  std::memset(TEST_INF.module_name, 0, sizeof TEST_INF.module_name);
  std::memset(&TEST_INF.err, 0, sizeof TEST_INF.err);
  TEST_INF.cancel_handler = nullptr;
  TEST_INF.pass_count = 0;
  TEST_INF.test_start_time = 0;
  TEST_INF.last_elapsed = 0;
  TEST_INF.last_remaining = 0;
  TEST_INF.last_percent = 0;
  TEST_INF.final_status_sent = 0;
}
