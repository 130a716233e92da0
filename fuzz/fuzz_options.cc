// The common options: the early mode, the module name and the whole option
// check, over argument vectors (one argument per input line). A line
// "VYK_data=..." or "VYK_log=..." sets that variable instead.
#include <cstring>

#include "common/options.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fz::quiet_start();
  fz::Args args(data, size);
  unsetenv("VYK_data");
  unsetenv("VYK_log");
  for (const std::string& w : args.words) {
    for (const char* name : {"VYK_data", "VYK_log"}) {
      if (w.rfind(std::string(name) + "=", 0) == 0) setenv(name, w.c_str() + strlen(name) + 1, 1);
    }
  }
  char name[17] = {};
  get_module_name(name, args.argv[1], 16);
  transmit_setup(name[0] != '\0' ? name : "memtest", "MEM");
  get_test_level(args.argc(), args.argv.data());
  uint64_t value = 0;
  strtolx(args.argv[1], &value);
  common_arg_chk(args.argc(), args.argv.data());
  // What the options left must be usable: the texts stay within their fields.
  if (strlen(TEST_INF.trace_log_base) > 516 || strlen(TEST_INF.data_path) > 260) std::abort();
  return 0;
}
