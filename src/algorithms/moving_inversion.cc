// The moving inversion test over the buffer itself.
#include "algorithms/moving_inversion.h"

#include "algorithms/moving_inversion_impl.h"
#include "progress/clock.h"

namespace imove {

bool run_time_over() {
  constexpr uint64_t kSliceMs = 1000;
  const uint32_t level = Ex_dwTestLevel.load(std::memory_order_relaxed);
  return time_limit_over(slice_or_run_time(level, kSliceMs), Ex_Prev_MSec);
}

}  // namespace imove

uint32_t Vyk_moving_inversion(void* buffer, uint64_t length, VykTp2MemStruct_t* ctl,
                              uint64_t* done) {
  DirectMemory mem(buffer);
  return imove_body(mem, buffer, length, ctl, done);
}
