// BMOVE over the buffer itself, and its report.
#include "algorithms/bmove.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "algorithms/bmove_impl.h"

namespace bmove {

thread_local Failure g_failure;
char g_device_text[32];

uint32_t completed_early() {
  printfx(kPfTraceText, "_BMOVE()  Completed\n");
  return kRcOk;
}

uint32_t report_failure(const void* buffer) {
  // Another test thread has reported first: its error stands alone.
  if (!first_error_claim()) return kRcCancel;
  // Error_Details points at these after the call; the failure itself belongs
  // to the thread, which may be gone by then.
  static uint32_t expect[kWindow];
  static uint32_t result[kWindow];
  std::memcpy(expect, g_failure.expect, sizeof expect);
  std::memcpy(result, g_failure.result, sizeof result);
  const uint64_t physical = 0;  // not determined by this system
  Error_Details.error_class = kClassCompare;
  Error_Details.error_code = 13;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.logical_address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer));
  std::snprintf(g_device_text, sizeof g_device_text, "ADDRESS;%016" PRIx64, physical);
  printfx(kPfTraceText, "_BMOVE()  mem_dev_name=%s\n", g_device_text);
  Error_Details.device_text = g_device_text;
  Error_Details.physical_address = physical;
  Error_Details.expected_data = expect;
  Error_Details.actual_data = result;
  Error_Details.offset_ref = static_cast<uint32_t>(g_failure.block);
  Error_Details.compare_length = sizeof expect;
  Error_Details.data_width = 32;
  Error_Details.mismatch_offset = static_cast<uint32_t>(g_failure.word);
  VykTp2MemErrorDisp(&Error_Details);
  return kRcCompare;
}

}  // namespace bmove

uint32_t VykTp2BMOVE(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint32_t weight, uint64_t* done) {
  DirectMemory mem(buffer);
  return bmove_body(mem, kind, buffer, size, ctl, weight, done);
}
