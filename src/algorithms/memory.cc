// Bulk versions of the span operations on the buffer itself. Each works in
// pieces that end on 4 KiB pattern periods (small enough to stay in the
// first-level cache between a compare and the write that follows it) and
// hands a piece whose bulk compare fails to the unit-by-unit operation, which
// stops exactly where the unit order stops.
#include <algorithm>
#include <cstring>

#include "algorithms/memory.h"

namespace {

constexpr uint64_t kPiece = kPatternPeriodBytes;

// [lo, hi): the piece of [from, to) at its low end (up) or high end (down).
void next_piece(uint64_t from, uint64_t to, bool down, uint64_t* lo, uint64_t* hi) {
  if (down) {
    *hi = to;
    *lo = std::max(from, (to - 1) / kPiece * kPiece);
  } else {
    *lo = from;
    *hi = std::min(to, (from / kPiece + 1) * kPiece);
  }
}

}  // namespace

void DirectMemory::fill(const uint64_t* period, uint64_t from, uint64_t to) {
  pattern_stream_fill(period, at(from), from, to - from);
}

void DirectMemory::fill_pairs(const uint64_t* /*plain*/, const uint64_t* pairs, uint64_t from,
                              uint64_t to) {
  pattern_stream_fill(pairs, at(from), from, to - from);
}

bool DirectMemory::verify(const Verify& v, uint64_t from, uint64_t to, Miss* miss) {
  // An injected value never matches: the first unit stops the sweep.
  if (v.inject != nullptr) return Units::verify(v, from, to, miss);
  while (from < to) {
    uint64_t lo, hi;
    next_piece(from, to, v.down, &lo, &hi);
    if (!pattern_stream_equal(v.expect, at(lo), lo, hi - lo)) {
      return Units::verify(v, lo, hi, miss);
    }
    if (v.then != Then::kKeep) pattern_stream_fill(v.after, at(lo), lo, hi - lo);
    if (v.down) {
      to = lo;
    } else {
      from = hi;
    }
  }
  return true;
}

bool DirectMemory::mirror(const uint64_t* pairs, uint64_t end, uint64_t from, uint64_t to,
                          const uint8_t* inject, Miss* miss) {
  // Between the three reads of a unit nothing writes the buffer, so every
  // read passes when the span and its mirror span hold the layout.
  const uint64_t len = to - from;
  if (inject == nullptr && pattern_stream_equal(pairs, at(from), from, len) &&
      pattern_stream_equal(pairs, at(end - to), end - to, len)) {
    return true;
  }
  return Units::mirror(pairs, end, from, to, inject, miss);
}

void DirectMemory::fill_bytes(uint64_t off, uint64_t len, const void* period, uint32_t plen) {
  // One 4 KiB piece of the period, then that piece over and over by memcpy,
  // which uses the widest stores the processor has (the compiler's own loop
  // is held to the build's baseline instruction set).
  alignas(64) unsigned char piece[kPiece];
  for (uint32_t n = 0; n < kPiece; n += plen) std::memcpy(piece + n, period, plen);
  unsigned char* dst = at(off);
  for (uint64_t n = 0; n < len; n += kPiece) {
    std::memcpy(dst + n, piece, static_cast<size_t>(std::min(kPiece, len - n)));
  }
}

void DirectMemory::fill_noise(uint64_t off, uint64_t len, unsigned bits) {
  const auto words = static_cast<uint32_t>(len / 4);
  if (bits == 64) {
    noize_pattern_64(at(off), words);
  } else {
    noize_pattern_128(at(off), words);
  }
}

void DirectMemory::copy(uint64_t dst, uint64_t src, uint64_t len) {
  std::memcpy(at(dst), at(src), static_cast<size_t>(len));
}

bool DirectMemory::diff(uint64_t a, uint64_t b, uint64_t len, Miss* miss) {
  if (std::memcmp(at(a), at(b), static_cast<size_t>(len)) == 0) return true;
  for (uint64_t n = 0; n < len; n += kPiece) {
    const uint64_t piece = std::min(kPiece, len - n);
    if (std::memcmp(at(a + n), at(b + n), static_cast<size_t>(piece)) == 0) continue;
    if (!Units::diff(a + n, b + n, piece, miss)) {
      miss->off += n;
      return false;
    }
  }
  return true;
}

int64_t DirectMemory::unequal_pair(uint64_t off, uint64_t len) {
  // Branch-free over a piece, so the loop vectorizes; the unit loop finds
  // the word in the first piece that has one.
  for (uint64_t n = 0; n < len; n += kPiece) {
    const uint64_t piece = std::min(kPiece, len - n);
    const unsigned char* p = at(off + n);
    uint32_t any = 0;
    for (uint64_t i = 0; i < piece; i += 8) {
      uint64_t v;
      std::memcpy(&v, p + i, 8);
      any |= static_cast<uint32_t>(v) ^ static_cast<uint32_t>(v >> 32);
    }
    if (any != 0) return static_cast<int64_t>(n / 4) + Units::unequal_pair(off + n, piece);
  }
  return -1;
}
