// The map of readable physical memory: the probe that builds the region
// table and estimates one read round, the search for the next readable
// address, and the block position of the read passes.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

inline constexpr uint64_t kPmemBlockBytes = 0x4000000;  // 64 MiB
inline constexpr uint32_t kPmemLap = 3;                 // search result: no readable address left

// Builds the region table and adds one round's estimated seconds to *ex_sec.
// 0, or 2 when the memory device cannot be opened (reported already).
int32_t get_exec_time(uint64_t* ex_sec);
// 0: 512 bytes read at *address (the device is then 512 bytes past it);
// 3: lap. *address is updated in place either way.
uint32_t search_next_region(VykTp2MemStruct_t* ctl, uint64_t* address);
uint32_t get_pmem_address();
uint32_t put_pmem_address();

// Reports a failed open of the memory device as a system call error naming
// `function_name`, and leaves 256 as the run's result.
void pmem_report_open_error(const char* function_name);
