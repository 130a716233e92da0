#include "driver/cancel.h"
#include "driver/exec.h"

// Blocks SIGINT before any other code of the program runs, so that an
// interrupt that comes while the program is still starting waits for the
// signal thread instead of ending the process by the default action.
__attribute__((constructor(101))) static void block_sigint_early() {
  sigint_block();
}

int main(int argc, char** argv) {
  return memtest_main(argc, argv);
}
