#include "driver/exec.h"

// Before any other code of the program runs: the standard descriptors are
// there, SIGPIPE cannot end the process, and a cancel signal that comes while
// the program is still starting waits for the signal thread instead of
// ending the process by the default action.
__attribute__((constructor(101))) static void guard_start_early() {
  process_start_guard();
}

int main(int argc, char** argv) {
  return memtest_main(argc, argv);
}
