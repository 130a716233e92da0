// The tracked block allocator: blocks that live to the end of the run.
#pragma once

#include <cstdint>

// Block allocator operations.
inline constexpr uint32_t kAreaCreate = 1;
inline constexpr uint32_t kAreaAlloc = 2;
inline constexpr uint32_t kAreaFree = 3;
inline constexpr uint32_t kAreaFreeAll = 4;
// op 2 returns the block address, 0 (no memory) or -1 (no table/slot);
// the other ops return 0 or -1.
intptr_t tp_area_ctl(uint32_t op, uintptr_t arg);
