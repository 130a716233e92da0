#include "state/pmem_state.h"

PmemRegion jaddr_t[kPmemRegionSlots];
uint32_t Ex_jump_cnt;
uint32_t Ex_sr_jump_cnt = 1;
PmemRegion pmad_t;
uint32_t Ex_pmem_start;
int32_t Ex_found_fd = -1;

std::atomic<uint32_t> Ex_pmem_1round_sec{0};
uint64_t Ex_test_ad_now;
std::atomic<uint64_t> Ex_test_ad_end_now{0};
std::atomic<uint64_t> Ex_dwlDebug_MSize{0};
uint64_t Ex_physical_ad;

void pmem_state_clear() {
  for (PmemRegion& r : jaddr_t) r = PmemRegion{};
  Ex_jump_cnt = 0;
  Ex_sr_jump_cnt = 1;
  pmad_t = PmemRegion{};
  Ex_pmem_start = 0;
  Ex_found_fd = -1;
  Ex_pmem_1round_sec = 0;
  Ex_test_ad_now = 0;
  Ex_test_ad_end_now = 0;
  Ex_dwlDebug_MSize = 0;
  Ex_physical_ad = 0;
}
