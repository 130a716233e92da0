// The offset-addressed data patterns, unit by unit. This is the exact
// definition of the data; the sweeps stream the same values from period
// tables (pattern_stream.cc).
#include "algorithms/pattern.h"

#include <cstdlib>

#include "state/memstruct.h"
#include "state/param_block.h"

uint8_t* bpPtnData = nullptr;

namespace {

constexpr uint8_t kRepeatBytes[4] = {0xAA, 0x55, 0x00, 0xFF};

bool cancel_requested() {
  return execute_cancel.load(std::memory_order_relaxed) == 1;
}

void release_work_buffer() {
  std::free(bpPtnData);
  bpPtnData = nullptr;
}

// Non-negative remainder: the callers' offsets are never negative, but a
// negative one must not index outside the tables.
int64_t mod_floor(int64_t value, int64_t m) {
  int64_t r = value % m;
  return r < 0 ? r + m : r;
}

uint32_t generate_repeat(int64_t width, int64_t offset, uint8_t* out, int64_t length) {
  int64_t phase = mod_floor(offset / width, 4);
  int64_t pos = 0;
  for (int64_t unit = 0; unit < length / width; ++unit) {
    for (int64_t i = 0; i < width; ++i) {
      if (cancel_requested()) {
        if (bpPtnData != nullptr) release_work_buffer();
        return kRcCancel;
      }
      out[pos++] = kRepeatBytes[phase];
    }
    phase = (phase + 1) & 3;
  }
  return kRcOk;
}

// Seeds the word P for the group that holds period offset r: all bytes 0xFF
// except byte k, whose zero bits grow below bit 7 from group to group.
void seed_word(uint8_t* p, int64_t width, int64_t r) {
  int64_t q = r / width;
  int64_t g = q / 8;
  int64_t k = g / 8;
  int64_t s = g % 8;
  for (int64_t i = 0; i < width; ++i) p[i] = 0xFF;
  p[k] = s == 0 ? 0x7F : static_cast<uint8_t>((0x7F >> s) | 0x80);
}

uint32_t generate_cross_talk(int64_t width, int64_t offset, uint8_t* out, int64_t length) {
  bpPtnData = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(width)));
  if (bpPtnData == nullptr) return kRcSyscall;
  for (int64_t i = 0; i < width; ++i) {
    if (cancel_requested()) {
      release_work_buffer();
      return kRcCancel;
    }
    bpPtnData[i] = i == 0 ? 0x7F : 0xFF;
  }

  const int64_t period = 64 * width * width;
  int64_t r = mod_floor(offset, period);
  if (r != 0) seed_word(bpPtnData, width, r);
  int64_t phase = (r / width) % 8;

  uint8_t* dst = out;
  for (int64_t unit = 0; unit < length / width; ++unit) {
    if (cancel_requested()) {
      release_work_buffer();
      return kRcCancel;
    }
    // A call over several units moves on to the next group's word.
    if (unit != 0 && phase == 0) seed_word(bpPtnData, width, r);
    for (int64_t i = 0; i < width; ++i) {
      uint8_t p = bpPtnData[i];
      uint8_t v = 0;
      switch (phase) {
        case 0:
        case 2:
        case 6:
          v = p;
          break;
        case 1:
        case 7:
          v = 0x00;
          break;
        case 3:
        case 5:
          v = static_cast<uint8_t>(~p);
          break;
        default:
          v = 0xFF;
          break;
      }
      dst[i] = v;
    }
    dst += width;
    r = (r + width) % period;
    phase = (phase + 1) % 8;
  }
  release_work_buffer();
  return kRcOk;
}

}  // namespace

uint32_t VykTp2GeneratePattern(int64_t width, int64_t offset, uint8_t* out, int64_t length,
                               VykTp2MemStruct_t* /*ctl*/, uint16_t kind) {
  // A width below 1 or a negative length cannot describe units; refuse them
  // like a misaligned request rather than divide by zero.
  if (width <= 0 || length < 0) return kRcSyscall;
  if (length % width != 0) return kRcSyscall;
  if (offset % width != 0) return kRcSyscall;
  if (length > 0 && out == nullptr) return kRcSyscall;
  if (kind == kDataRepeat) return generate_repeat(width, offset, out, length);
  if (kind == kDataCrossTalk) return generate_cross_talk(width, offset, out, length);
  // Any other kind: a failure of the step, nothing written.
  return kRcSyscall;
}
