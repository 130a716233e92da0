// The common command-line options of the suite's test modules, parsed into
// TEST_INF.
#pragma once

#include <cstdint>

int get_module_name(char* out, const char* path, int max);
int get_test_level(int argc, char** argv);
int strtolx(const char* text, uint64_t* value);
int common_arg_chk(int argc, char** argv);
int common_arg_analyze(int argc, char** argv);
int common_arg_check();
