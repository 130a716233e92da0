// The test buffer as the algorithms reach it.
//
// The algorithm bodies are templates over a memory type with the operations
// of UnitMemory below. UnitMemory defines each operation unit by unit, in the
// exact order of reads and writes the algorithm makes, on top of two
// primitives the memory type supplies:
//   uint64_t get(uint64_t off);                                // read a unit
//   void put(uint64_t off, uint64_t value, uint64_t mask);     // write its masked bits
//   const void* show(uint64_t off, uint64_t value);            // where a report shows it
// DirectMemory, the only memory of the shipped program, runs the same unit
// loops wherever the order of accesses decides what a fault does: a sweep that
// writes each unit after its compare, a descending sweep, the mirror reads,
// the pair fill (which writes a unit and then inverts it in place).
// Only fills and ascending read-only compares, whose bulk forms (period
// tables, memcpy/memcmp, wide loads) touch the units in the same ascending
// order, are replaced; they fall back to the unit order around a mismatch, so
// every stop and every value reported is the one the unit loop gives. Tests
// run the same bodies over a simulated faulty memory that supplies just the
// primitives.
//
// Offsets are byte offsets from the buffer start and multiples of 8; a span
// is [from, to) and a multiple of 8 long. Unit values are the unit's 8 bytes
// in memory order, loaded as one uint64_t.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "algorithms/noise_pattern.h"
#include "algorithms/pattern_stream.h"

// Where a span operation stopped: the unit read, the value read there (after
// any injection) and the value it should have had.
struct Miss {
  uint64_t off = 0;
  uint64_t value = 0;
  uint64_t expect = 0;
  int read = 0;  // mirror(): 0 the unit, 1 its mirror, 2 the unit again
};

// What a verify does with a unit that passed.
enum class Then : uint8_t {
  kKeep,
  kInvert,  // invert it in place (read it and write the complement back)
  kWrite,   // overwrite it with the `after` layout
};

struct Verify {
  const uint64_t* expect;  // period table of the values the units must hold
  Then then = Then::kKeep;
  // kWrite: the layout written. kInvert: the complement of expect, which a
  // memory may write instead of reading the unit again.
  const uint64_t* after = nullptr;
  bool down = false;                // descending unit order
  const uint8_t* inject = nullptr;  // 4 bytes laid over every value read, or null
};

inline uint64_t with_injection(uint64_t value, const uint8_t* inject) {
  if (inject != nullptr) std::memcpy(&value, inject, 4);
  return value;
}

template <class Self>
class UnitMemory {
 public:
  // Units ascending, each written with its period value.
  void fill(const uint64_t* period, uint64_t from, uint64_t to) {
    for (uint64_t o = from; o < to; o += 8) put(o, period_unit(period, o));
  }
  // Pairs ascending: P at o, P at o + 8, then the unit at o + 8 inverted in
  // place. `pairs` is the resulting layout.
  void fill_pairs(const uint64_t* plain, const uint64_t* /*pairs*/, uint64_t from, uint64_t to) {
    for (uint64_t o = from; o < to; o += 16) {
      put(o, period_unit(plain, o));
      put(o + 8, period_unit(plain, o + 8));
      put(o + 8, ~get(o + 8));
    }
  }
  // Reads every unit, compares it, then treats it as v.then says; stops at
  // the first unit that differs (false, *miss describes it).
  bool verify(const Verify& v, uint64_t from, uint64_t to, Miss* miss) {
    return v.inject != nullptr ? verify_as<true>(v, from, to, miss)
                               : verify_as<false>(v, from, to, miss);
  }
  // For each unit u ascending: reads u, its mirror end - u - 8, and u again,
  // each compared with the `pairs` layout; `inject` applies to the mirror
  // reads of odd units (offsets not a multiple of 16).
  bool mirror(const uint64_t* pairs, uint64_t end, uint64_t from, uint64_t to,
              const uint8_t* inject, Miss* miss) {
    return inject != nullptr ? mirror_as<true>(pairs, end, from, to, inject, miss)
                             : mirror_as<false>(pairs, end, from, to, nullptr, miss);
  }
  // len bytes from off, ascending, repeating `period` (plen bytes, a
  // multiple of 8) from its start.
  void fill_bytes(uint64_t off, uint64_t len, const void* period, uint32_t plen) {
    const auto* p = static_cast<const unsigned char*>(period);
    for (uint64_t n = 0; n < len; n += 8) {
      uint64_t value;
      std::memcpy(&value, p + n % plen, 8);
      put(off + n, value);
    }
  }
  // The noise pattern of `bits`-bit units over the whole units of len bytes.
  void fill_noise(uint64_t off, uint64_t len, unsigned bits) {
    uint32_t plen = 0;
    const uint8_t* period = noise_period(bits, &plen);
    const uint64_t unit = bits / 8;
    fill_bytes(off, len - len % unit, period, plen);
  }
  // Forward copy, unit by unit.
  void copy(uint64_t dst, uint64_t src, uint64_t len) {
    for (uint64_t n = 0; n < len; n += 8) put(dst + n, get(src + n));
  }
  // Compares the spans at a and b unit by unit (a read first); false at the
  // first difference: miss->off is its offset from the span start, value
  // the unit of a, expect the unit of b.
  bool diff(uint64_t a, uint64_t b, uint64_t len, Miss* miss) {
    for (uint64_t n = 0; n < len; n += 8) {
      const uint64_t va = get(a + n);
      const uint64_t vb = get(b + n);
      if (va != vb) {
        *miss = {n, va, vb, 0};
        return false;
      }
    }
    return true;
  }
  // Index (in 32-bit words from off) of the first word of the first unit
  // whose two words differ, or -1.
  int64_t unequal_pair(uint64_t off, uint64_t len) {
    for (uint64_t n = 0; n < len; n += 8) {
      const uint64_t v = get(off + n);
      if (static_cast<uint32_t>(v) != static_cast<uint32_t>(v >> 32)) {
        return static_cast<int64_t>(n / 4);
      }
    }
    return -1;
  }
  // The 32-bit word at off (a multiple of 4).
  uint32_t load32(uint64_t off) {
    const uint64_t v = get(off - off % 8);
    uint32_t w[2];
    std::memcpy(w, &v, 8);
    return w[off / 4 % 2];
  }
  void store32(uint64_t off, uint32_t value) {
    uint32_t w[2] = {0, 0}, m[2] = {0, 0};
    w[off / 4 % 2] = value;
    m[off / 4 % 2] = ~0u;
    uint64_t v, mask;
    std::memcpy(&v, w, 8);
    std::memcpy(&mask, m, 8);
    self().put(off - off % 8, v, mask);
  }
  void write(uint64_t off, uint64_t value) { put(off, value); }

 private:
  Self& self() { return static_cast<Self&>(*this); }
  uint64_t get(uint64_t off) { return self().get(off); }
  void put(uint64_t off, uint64_t value) { self().put(off, value, ~uint64_t{0}); }

  // One loop per treatment, direction and injection, so that the loops the
  // program runs test nothing per unit but the value read.
  template <bool injected>
  bool verify_as(const Verify& v, uint64_t from, uint64_t to, Miss* miss) {
    switch (v.then) {
      case Then::kInvert:
        return v.down ? verify_units<Then::kInvert, true, injected>(v, from, to, miss)
                      : verify_units<Then::kInvert, false, injected>(v, from, to, miss);
      case Then::kWrite:
        return v.down ? verify_units<Then::kWrite, true, injected>(v, from, to, miss)
                      : verify_units<Then::kWrite, false, injected>(v, from, to, miss);
      default:
        return v.down ? verify_units<Then::kKeep, true, injected>(v, from, to, miss)
                      : verify_units<Then::kKeep, false, injected>(v, from, to, miss);
    }
  }
  // Piece by piece of the pattern period, in the sweep's direction: within a
  // piece the expected values are consecutive table entries.
  template <Then then, bool down, bool injected>
  bool verify_units(const Verify& v, uint64_t from, uint64_t to, Miss* miss) {
    constexpr uint64_t kPiece = kPatternPeriodBytes;
    while (from < to) {
      const uint64_t lo = down ? std::max(from, (to - 1) / kPiece * kPiece) : from;
      const uint64_t hi = down ? to : std::min(to, (from / kPiece + 1) * kPiece);
      const uint64_t first = lo % kPiece / 8, units = (hi - lo) / 8;
      const uint64_t* want = v.expect + first;
      const uint64_t* after = then == Then::kWrite ? v.after + first : nullptr;
      for (uint64_t n = 0; n < units; ++n) {
        const uint64_t i = down ? units - 1 - n : n, o = lo + 8 * i;
        uint64_t value = get(o);
        if constexpr (injected) value = with_injection(value, v.inject);
        if (value != want[i]) [[unlikely]] {
          *miss = {o, value, want[i], 0};
          return false;
        }
        // An inversion in place reads the unit again, as a complement of
        // memory does, and writes what it read inverted.
        if constexpr (then == Then::kInvert) put(o, ~get(o));
        if constexpr (then == Then::kWrite) put(o, after[i]);
      }
      (down ? to : from) = down ? lo : hi;
    }
    return true;
  }
  // The three reads of each unit u: u, its mirror, u again; piece by piece
  // of the pattern period of u, the mirror's table entry stepping down.
  template <bool injected>
  bool mirror_as(const uint64_t* pairs, uint64_t end, uint64_t from, uint64_t to,
                 const uint8_t* inject, Miss* miss) {
    constexpr uint64_t kPiece = kPatternPeriodBytes, kMask = kPatternPeriodUnits - 1;
    while (from < to) {
      const uint64_t hi = std::min(to, (from / kPiece + 1) * kPiece);
      const uint64_t* want = pairs + from % kPiece / 8;
      uint64_t mirror_entry = (end - from - 8) % kPiece / 8;
      for (uint64_t u = from; u < hi; u += 8, ++want, mirror_entry = (mirror_entry - 1) & kMask) {
        const uint64_t m = end - u - 8;
        const uint64_t first = get(u);
        if (first != *want) [[unlikely]] {
          *miss = {u, first, *want, 0};
          return false;
        }
        uint64_t mirrored = get(m);
        if constexpr (injected) {
          if (u % 16 != 0) mirrored = with_injection(mirrored, inject);
        }
        if (mirrored != pairs[mirror_entry]) [[unlikely]] {
          *miss = {m, mirrored, pairs[mirror_entry], 1};
          return false;
        }
        const uint64_t again = get(u);
        if (again != *want) [[unlikely]] {
          *miss = {u, again, *want, 2};
          return false;
        }
      }
      from = hi;
    }
    return true;
  }
};

// The buffer itself.
class DirectMemory : public UnitMemory<DirectMemory> {
  using Units = UnitMemory<DirectMemory>;

 public:
  explicit DirectMemory(void* base) : base_(static_cast<unsigned char*>(base)) {}

  // Volatile, so that the compiler makes every read and write of the unit
  // loops, in their order: nothing may merge MASEST's second read of a unit
  // into its first, or move a read of the next unit above this one's write.
  // As words of their own type, they cannot change the base address or the
  // period tables, which the loops then keep in registers.
  uint64_t get(uint64_t off) const { return *reinterpret_cast<const volatile uint64_t*>(at(off)); }
  void put(uint64_t off, uint64_t value, uint64_t mask) {
    if (mask != ~uint64_t{0}) value = (get(off) & ~mask) | (value & mask);
    *reinterpret_cast<volatile uint64_t*>(at(off)) = value;
  }
  // The unit itself: a report points into the buffer.
  const void* show(uint64_t off, uint64_t /*value*/) const { return at(off); }

  void fill(const uint64_t* period, uint64_t from, uint64_t to);
  bool verify(const Verify& v, uint64_t from, uint64_t to, Miss* miss);
  // plen must divide 4096.
  void fill_bytes(uint64_t off, uint64_t len, const void* period, uint32_t plen);
  void fill_noise(uint64_t off, uint64_t len, unsigned bits);
  void copy(uint64_t dst, uint64_t src, uint64_t len);
  bool diff(uint64_t a, uint64_t b, uint64_t len, Miss* miss);
  int64_t unequal_pair(uint64_t off, uint64_t len);

 private:
  // Offsets are added as address-sized values: on the 32-bit target that is
  // the low 32 bits of the offset.
  unsigned char* at(uint64_t off) const { return base_ + static_cast<uintptr_t>(off); }

  unsigned char* base_;
};
