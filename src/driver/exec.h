// Program entry and run control.
#pragma once

#include <cstdint>

int memtest_main(int argc, char** argv);
int32_t memtest_exec(int argc, char** argv);
uint32_t nonthread_memtest();
