// The record formatters with what can reach them from outside: the module
// name (from the program path) in every header and progress text, log texts
// (message table texts with their arguments) and status texts. Input: a line of
// numbers (status, flags, value, state, mode), the program path, the text.
#include <cstring>

#include "common/options.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fz::quiet_start();
  fz::Args in(data, size, 3);  // numbers, path, text
  in.words.resize(4);
  unsigned status = 0, flags = 0, value = 0, state = 0, patrol = 0;
  std::sscanf(in.words[1].c_str(), "%u %u %u %u %u", &status, &flags, &value, &state, &patrol);
  if (patrol % 2 == 1) TEST_INF.test_mode = kModePatrol;
  char name[17] = {};
  get_module_name(name, in.words[2].c_str(), 16);
  transmit_setup(name, "MEM");
  const char* text = in.words[3].c_str();
  // Progress texts are the program's own but for the module name in them.
  char progress[80];
  std::snprintf(progress, sizeof progress, "I0399:<<%s Pass=%u>>", TEST_INF.module_name, value);
  transmit_progress(value, value / 2, status, state, progress);
  transmit_log(1 + flags % 2, "I0307", "26/12/06 08:00:00 000.000", text);
  transmit_status(status % 8, flags, value, text);
  transmit_status(1 + status % 3, flags, value, nullptr);
  transmit_process(value);
  return 0;
}
