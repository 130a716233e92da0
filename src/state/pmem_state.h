// Physical memory read state shared with the driver and the progress code.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<uint32_t> Ex_pmem_1round_sec;
extern uint64_t Ex_test_ad_now;
extern std::atomic<uint64_t> Ex_test_ad_end_now;
extern std::atomic<uint64_t> Ex_dwlDebug_MSize;
extern uint64_t Ex_physical_ad;
