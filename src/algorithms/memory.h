// The test buffer as the algorithms reach it.
//
// The algorithm bodies are templates over a memory type with the operations
// of UnitMemory below. UnitMemory defines each operation unit by unit, in the
// exact order of reads and writes the algorithm makes, on top of two
// primitives the memory type supplies:
//   uint64_t get(uint64_t off);                                // read a unit
//   void put(uint64_t off, uint64_t value, uint64_t mask);     // write its masked bits
//   const void* show(uint64_t off, uint64_t value);            // where a report shows it
// DirectMemory, the only memory of the shipped program, replaces the span
// operations by bulk ones (period tables, memcpy/memcmp, wide loads) and
// falls back to the unit order only around a mismatch, so every stop and every
// value it reports is the one the unit-by-unit operation gives. Tests run the
// same bodies over a simulated faulty memory that supplies just the primitives.
//
// Offsets are byte offsets from the buffer start and multiples of 8; a span
// is [from, to) and a multiple of 8 long. Unit values are the unit's 8 bytes
// in memory order, loaded as one uint64_t.
#pragma once

#include <cstdint>
#include <cstring>

#include "algorithms/pattern.h"

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
    for (uint64_t n = 0; n < (to - from) / 8; ++n) {
      const uint64_t o = v.down ? to - 8 - 8 * n : from + 8 * n;
      const uint64_t value = with_injection(get(o), v.inject);
      const uint64_t want = period_unit(v.expect, o);
      if (value != want) {
        *miss = {o, value, want, 0};
        return false;
      }
      if (v.then == Then::kInvert) put(o, ~get(o));
      if (v.then == Then::kWrite) put(o, period_unit(v.after, o));
    }
    return true;
  }
  // For each unit u ascending: reads u, its mirror end - u - 8, and u again,
  // each compared with the `pairs` layout; `inject` applies to the mirror
  // reads of odd units (offsets not a multiple of 16).
  bool mirror(const uint64_t* pairs, uint64_t end, uint64_t from, uint64_t to,
              const uint8_t* inject, Miss* miss) {
    for (uint64_t u = from; u < to; u += 8) {
      const uint64_t at[3] = {u, end - u - 8, u};
      for (int r = 0; r < 3; ++r) {
        uint64_t value = get(at[r]);
        if (r == 1 && u % 16 != 0) value = with_injection(value, inject);
        const uint64_t want = period_unit(pairs, at[r]);
        if (value != want) {
          *miss = {at[r], value, want, r};
          return false;
        }
      }
    }
    return true;
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
};

// The buffer itself.
class DirectMemory : public UnitMemory<DirectMemory> {
  using Units = UnitMemory<DirectMemory>;

 public:
  explicit DirectMemory(void* base) : base_(static_cast<unsigned char*>(base)) {}

  uint64_t get(uint64_t off) const {
    uint64_t v;
    std::memcpy(&v, at(off), 8);
    return v;
  }
  void put(uint64_t off, uint64_t value, uint64_t mask) {
    if (mask != ~uint64_t{0}) value = (get(off) & ~mask) | (value & mask);
    std::memcpy(at(off), &value, 8);
  }
  // The unit itself: a report points into the buffer.
  const void* show(uint64_t off, uint64_t /*value*/) const { return at(off); }

  void fill(const uint64_t* period, uint64_t from, uint64_t to);
  void fill_pairs(const uint64_t* plain, const uint64_t* pairs, uint64_t from, uint64_t to);
  bool verify(const Verify& v, uint64_t from, uint64_t to, Miss* miss);
  bool mirror(const uint64_t* pairs, uint64_t end, uint64_t from, uint64_t to,
              const uint8_t* inject, Miss* miss);
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
