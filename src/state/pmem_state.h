// Physical memory read state shared with the driver and the progress code:
// the region table built by the probe, the region cursor and block position
// of the read passes, and the figures reported at the end.
#pragma once

#include <atomic>
#include <cstdint>

// One readable range of physical memory: start is its first readable
// address, end the first probed address after it that failed.
struct PmemRegion {
  uint64_t start;
  uint64_t end;
};

inline constexpr uint32_t kPmemRegionSlots = 128;

// The region table, filled in address order by the probe.
extern PmemRegion jaddr_t[kPmemRegionSlots];
extern uint32_t Ex_jump_cnt;     // closed regions in the table
extern uint32_t Ex_sr_jump_cnt;  // index of the next region to jump to; initial 1
extern PmemRegion pmad_t;        // position of the current block
extern uint32_t Ex_pmem_start;   // 1 once the first block of a round is placed
extern int32_t Ex_found_fd;      // the memory device during a read pass

extern std::atomic<uint32_t> Ex_pmem_1round_sec;
extern uint64_t Ex_test_ad_now;
extern std::atomic<uint64_t> Ex_test_ad_end_now;
extern std::atomic<uint64_t> Ex_dwlDebug_MSize;
extern uint64_t Ex_physical_ad;

// Back to the program-start values (table empty, cursor 1).
void pmem_state_clear();
