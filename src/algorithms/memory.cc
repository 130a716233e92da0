// Bulk versions of the span operations on the buffer itself whose bulk form
// keeps the order of the units. A compare works in pieces that end on 4 KiB
// pattern periods and hands a piece that fails to the unit-by-unit
// operation, which stops exactly where the unit order stops.
#include <algorithm>
#include <cstring>

#include "algorithms/memory.h"

namespace {

constexpr uint64_t kPiece = kPatternPeriodBytes;

}  // namespace

void DirectMemory::fill(const uint64_t* period, uint64_t from, uint64_t to) {
  pattern_stream_fill(period, at(from), from, to - from);
}

bool DirectMemory::verify(const Verify& v, uint64_t from, uint64_t to, Miss* miss) {
  // Only a sweep that reads alone, upwards, may compare in bulk: one that
  // writes each unit after its compare, or goes downwards, must touch the
  // units one at a time, or a fault that a write or a read sets off in a unit
  // the sweep has yet to read would go unseen. An injected value never
  // matches: the first unit stops the sweep.
  if (v.then != Then::kKeep || v.down || v.inject != nullptr) {
    return Units::verify(v, from, to, miss);
  }
  while (from < to) {
    const uint64_t hi = std::min(to, (from / kPiece + 1) * kPiece);
    if (!pattern_stream_equal(v.expect, at(from), from, hi - from)) {
      return Units::verify(v, from, hi, miss);
    }
    from = hi;
  }
  return true;
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
