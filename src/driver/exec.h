// Program entry and run control.
#pragma once

#include <cstdint>

// First thing at start: opens /dev/null on a closed descriptor 0, 1 or 2,
// ignores SIGPIPE and SIGXFSZ and blocks the cancel signals.
void process_start_guard();
int memtest_main(int argc, char** argv);
int32_t memtest_exec(int argc, char** argv);
uint32_t nonthread_memtest();
