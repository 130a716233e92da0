// The tracked block allocator: blocks that live to the end of the run are
// recorded in TEST_INF.area_table and freed all at once.
#include "common/area.h"

#include <cstdlib>
#include <mutex>

#include "common/logfile.h"
#include "common/test_inf.h"

namespace {

// The cancel thread frees all blocks while another thread may still
// allocate a list buffer; the lock keeps the table consistent.
std::mutex g_area_mu;

intptr_t area_create(uintptr_t slots) {
  if (TEST_INF.area_table != nullptr || slots == 0) return -1;
  auto* table = static_cast<void**>(std::calloc(slots, sizeof(void*)));
  if (table == nullptr) return -1;
  TEST_INF.area_table = table;
  TEST_INF.area_count = static_cast<uint32_t>(slots);
  return 0;
}

intptr_t area_alloc(uintptr_t bytes) {
  if (TEST_INF.area_table == nullptr) return -1;
  for (uint32_t i = 0; i < TEST_INF.area_count; ++i) {
    if (TEST_INF.area_table[i] != nullptr) continue;
    void* block = std::malloc(bytes > 0 ? bytes : 1);
    if (block == nullptr) return 0;
    TEST_INF.area_table[i] = block;
    return reinterpret_cast<intptr_t>(block);
  }
  return -1;
}

intptr_t area_free(uintptr_t address) {
  if (TEST_INF.area_table == nullptr || address == 0) return -1;
  for (uint32_t i = 0; i < TEST_INF.area_count; ++i) {
    if (reinterpret_cast<uintptr_t>(TEST_INF.area_table[i]) != address) continue;
    if (TEST_INF.area_table[i] == TEST_INF.msgtbl) {
      TEST_INF.msgtbl = nullptr;
      TEST_INF.msgtbl_count = 0;
    }
    std::free(TEST_INF.area_table[i]);
    TEST_INF.area_table[i] = nullptr;
    return 0;
  }
  return -1;
}

intptr_t area_free_all() {
  if (TEST_INF.area_table == nullptr) return -1;
  for (uint32_t i = 0; i < TEST_INF.area_count; ++i) std::free(TEST_INF.area_table[i]);
  std::free(TEST_INF.area_table);
  TEST_INF.area_table = nullptr;
  TEST_INF.area_count = 0;
  // The message table was one of the blocks: never leave a dangling lookup.
  TEST_INF.msgtbl = nullptr;
  TEST_INF.msgtbl_count = 0;
  return 0;
}

}  // namespace

intptr_t tp_area_ctl(uint32_t op, uintptr_t arg) {
  std::lock_guard<std::mutex> lock(g_area_mu);
  switch (op) {
    case kAreaCreate:
      return area_create(arg);
    case kAreaAlloc:
      return area_alloc(arg);
    case kAreaFree:
      return area_free(arg);
    case kAreaFreeAll:
      return area_free_all();
    default:
      return -1;
  }
}
