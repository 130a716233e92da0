// The memory-test keyword parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct VykTp2MemStruct_t;

uint32_t VykTp2ParseParam2(char** argv, VykTp2MemStruct_t* ctl, uint8_t* algo_array,
                           uint32_t* error_number);

namespace memtest_params {
// The name of the parser's keyword i, in the order a token is tried ("" past
// the last): what the manual page must list.
std::string_view keyword_name(size_t i);
}  // namespace memtest_params
