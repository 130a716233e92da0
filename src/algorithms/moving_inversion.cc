// The moving inversion test over the buffer itself.
#include "algorithms/moving_inversion.h"

#include "algorithms/moving_inversion_impl.h"
#include "progress/clock.h"

namespace imove {

bool run_time_over() {
  uint64_t limit = 0;
  if (Ex_dwTestLevel.load(std::memory_order_relaxed) == 0) {
    limit = 1000;
  } else if (execute_time_used.load(std::memory_order_relaxed) == 1) {
    limit = execute_time;
  } else {
    return false;
  }
  const uint64_t now = memtest_GetTickCount();
  return memtest_CmpTickCount(limit, 0, &Ex_Prev_MSec, &now) == 0;
}

}  // namespace imove

uint32_t Vyk_moving_inversion(void* buffer, uint64_t length, VykTp2MemStruct_t* ctl,
                              uint64_t* done) {
  DirectMemory mem(buffer);
  return imove_body(mem, buffer, length, ctl, done);
}
