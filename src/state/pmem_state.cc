#include "state/pmem_state.h"

std::atomic<uint32_t> Ex_pmem_1round_sec{0};
uint64_t Ex_test_ad_now;
std::atomic<uint64_t> Ex_test_ad_end_now{0};
std::atomic<uint64_t> Ex_dwlDebug_MSize{0};
uint64_t Ex_physical_ad;
