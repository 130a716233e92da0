// Unit access to the test buffer and the compare that reports mismatches.
#include "algorithms/buffer_access.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "algorithms/error_disp.h"
#include "algorithms/pattern.h"
#include "common/logfile.h"
#include "common/run_findings.h"
#include "common/test_inf.h"
#include "state/memstruct.h"

namespace {

// Offsets are added as address-sized values: on the 32-bit target this is
// exactly the low 32 bits of the offset, and a 64-bit build cannot wrap
// inside a buffer larger than 4 GiB.
unsigned char* at(void* buffer, uint64_t offset) {
  return static_cast<unsigned char*>(buffer) + static_cast<uintptr_t>(offset);
}

const unsigned char* at(const void* buffer, uint64_t offset) {
  return static_cast<const unsigned char*>(buffer) + static_cast<uintptr_t>(offset);
}

// Index of the first differing byte. Power-of-two lengths (every caller's 8)
// are located by halving; any other length by a straight scan.
uint32_t first_difference(const unsigned char* a, const unsigned char* e, uint32_t length) {
  if ((length & (length - 1)) != 0) {
    uint32_t i = 0;
    while (i < length && a[i] == e[i]) ++i;
    return i;
  }
  uint32_t h = length / 2;
  uint32_t lo = 0;
  uint32_t up = lo + h;
  while (h != 0) {
    if (std::memcmp(a + lo, e + lo, h) != 0) {
      h /= 2;
      up = lo + h;
    } else if (std::memcmp(a + up, e + up, h) != 0) {
      h /= 2;
      lo = up;
      up = lo + h;
    } else {
      break;  // cannot happen when the ranges differ
    }
  }
  return lo;
}

// The device text must outlive the report made from Error_Details.
char g_compare_device_text[32];

// The physical address in the record and the device text: this system does
// not put it there (the trace log and the run report carry the located one).
constexpr uint64_t kRecordedPhysical = 0;

void set_device_text() {
  std::snprintf(g_compare_device_text, sizeof g_compare_device_text, "ADDRESS;%016" PRIx64,
                kRecordedPhysical);
  printfx(kPfTraceText, "_CompareBuffer()  mem_dev_name=%s\n", g_compare_device_text);
}

}  // namespace

uint32_t VykTp2WriteToMemory(void* buffer, uint64_t offset, VykTp2MemStruct_t* ctl, uint16_t kind,
                             uint32_t length) {
  if (buffer == nullptr) return kRcNoBuffer;
  // The unit area holds 8 bytes; a longer request is refused like a
  // misaligned one instead of overrunning it.
  if (length > 8) return kRcSyscall;
  uint8_t unit[8];
  uint32_t rc = VykTp2GeneratePattern(8, static_cast<int64_t>(offset), unit, length, ctl, kind);
  if (rc != kRcOk) return rc;
  std::memcpy(at(buffer, offset), unit, length);
  return kRcOk;
}

uint32_t VykTp2ReadFromMemory(const void* buffer, uint64_t offset, VykTp2MemStruct_t* /*ctl*/,
                              void* dest, uint32_t length) {
  if (buffer == nullptr || dest == nullptr) return kRcNoBuffer;
  std::memcpy(dest, at(buffer, offset), length);
  return kRcOk;
}

uint32_t VykTp2ComplimentBuffer(void* data, uint64_t offset, uint32_t length) {
  if (data == nullptr) return kRcOk;
  unsigned char* p = at(data, offset);
  for (uint32_t i = 0; i < length; ++i) p[i] = static_cast<unsigned char>(~p[i]);
  return kRcOk;
}

uint32_t VykTp2CompareBuffer(const void* actual, const void* expected, uint32_t length,
                             uint64_t* mismatch, VykTp2MemStruct_t* /*ctl*/, uint32_t ref_no,
                             const void* buffer, uint64_t unit_offset) {
  std::memset(&Error_Details, 0, sizeof Error_Details);
  // Nothing to compare against: reported to the caller as a missing buffer,
  // which every algorithm passes up as its result.
  if (actual == nullptr || expected == nullptr) return kRcNoBuffer;
  const auto* a = static_cast<const unsigned char*>(actual);
  const auto* e = static_cast<const unsigned char*>(expected);
  if (std::memcmp(a, e, length) == 0) return kRcOk;

  uint32_t index = first_difference(a, e, length);
  if (mismatch != nullptr) *mismatch = index;

  Error_Details.error_class = kClassCompare;
  Error_Details.error_code = ref_no;
  Error_Details.name_text = TEST_INF.module_name;
  // The record holds a 32-bit address: a 64-bit build keeps its low half.
  Error_Details.logical_address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer));
  Error_Details.offset_ref = static_cast<uint32_t>(unit_offset);

  printfx(kPfTraceMsg, "Ixx59", Error_Details.logical_address,
          static_cast<unsigned long long>(kRecordedPhysical));
  set_device_text();

  Error_Details.device_text = g_compare_device_text;
  Error_Details.physical_address = kRecordedPhysical;
  Error_Details.expected_data = expected;
  Error_Details.actual_data = actual;
  Error_Details.compare_length = length;
  Error_Details.data_width = 32;
  Error_Details.mismatch_offset = index;
  FailingCell cell;
  cell.kind = CellKind::kCompare;
  cell.ref_no = ref_no;
  std::snprintf(cell.algorithm, sizeof cell.algorithm, "%s", algorithm_of_ref_no(ref_no));
  cell.buffer = reinterpret_cast<uintptr_t>(buffer);
  cell.offset = unit_offset;
  cell.vaddr = reinterpret_cast<uintptr_t>(at(buffer, unit_offset + index));
  std::memcpy(&cell.expected, e, std::min<uint32_t>(length, 8));
  std::memcpy(&cell.actual, a, std::min<uint32_t>(length, 8));
  findings_cell(&cell);
  VykTp2MemErrorDisp(&Error_Details);
  return kRcCompare;
}

uint32_t report_machine_check(const void* buffer, uint64_t offset, uint32_t ref_no,
                              const char* algorithm) {
  // The poisoned page cannot be read: the detail lines show zero words for
  // both the expected and the actual data (BMOVE's lines show 40 bytes).
  static const unsigned char kNoData[40] = {};
  Error_Details = Error_Details_t{};
  Error_Details.error_class = kClassCompare;
  Error_Details.error_code = ref_no;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.logical_address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer));
  Error_Details.offset_ref = static_cast<uint32_t>(offset);
  printfx(kPfTraceMsg, "Ixx59", Error_Details.logical_address,
          static_cast<unsigned long long>(kRecordedPhysical));
  set_device_text();
  Error_Details.device_text = g_compare_device_text;
  Error_Details.physical_address = kRecordedPhysical;
  Error_Details.expected_data = kNoData;
  Error_Details.actual_data = kNoData;
  Error_Details.compare_length = 8;
  Error_Details.data_width = 32;
  FailingCell cell;
  cell.kind = CellKind::kMachineCheck;
  cell.ref_no = ref_no;
  std::snprintf(cell.algorithm, sizeof cell.algorithm, "%s", algorithm);
  cell.buffer = reinterpret_cast<uintptr_t>(buffer);
  cell.offset = offset;
  cell.vaddr = reinterpret_cast<uintptr_t>(at(buffer, offset));
  findings_cell(&cell);
  VykTp2MemErrorDisp(&Error_Details);
  return kRcCompare;
}
