// The buffer as the program reached it before its order-sensitive sweeps
// went unit by unit: each 4 KiB piece compared in bulk and then written in
// bulk (MARCH's second and third sweeps, the latter taking its pieces from
// the top but each piece upwards), MASEST's pairs written as their final
// layout, and its mirror reads as a bulk compare of a 32 KiB span and then of
// its mirror span. Kept only to measure
// the unit-order sweeps against it in the same run.
#pragma once

#include <algorithm>

#include "algorithms/memory.h"

class BlockOrderMemory : public DirectMemory {
 public:
  using DirectMemory::DirectMemory;

  void fill_pairs(const uint64_t* /*plain*/, const uint64_t* pairs, uint64_t from, uint64_t to) {
    pattern_stream_fill(pairs, byte(from), from, to - from);
  }
  bool verify(const Verify& v, uint64_t from, uint64_t to, Miss* miss) {
    if (v.inject != nullptr) return DirectMemory::verify(v, from, to, miss);
    while (from < to) {
      uint64_t lo = from, hi = std::min(to, (from / kPiece + 1) * kPiece);
      if (v.down) hi = to, lo = std::max(from, (to - 1) / kPiece * kPiece);
      if (!pattern_stream_equal(v.expect, byte(lo), lo, hi - lo)) {
        return DirectMemory::verify(v, lo, hi, miss);
      }
      if (v.then != Then::kKeep) pattern_stream_fill(v.after, byte(lo), lo, hi - lo);
      (v.down ? to : from) = v.down ? lo : hi;
    }
    return true;
  }
  bool mirror(const uint64_t* pairs, uint64_t end, uint64_t from, uint64_t to,
              const uint8_t* inject, Miss* miss) {
    const uint64_t len = to - from;
    if (inject == nullptr && pattern_stream_equal(pairs, byte(from), from, len) &&
        pattern_stream_equal(pairs, byte(end - to), end - to, len)) {
      return true;
    }
    return DirectMemory::mirror(pairs, end, from, to, inject, miss);
  }

 private:
  static constexpr uint64_t kPiece = kPatternPeriodBytes;
  unsigned char* byte(uint64_t off) {
    return static_cast<unsigned char*>(const_cast<void*>(show(off, 0)));
  }
};
