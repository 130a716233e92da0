// Block noise patterns: a fixed 28-unit sequence of values built from three
// masks that shift from block to block.
#include "algorithms/noise_pattern.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kBlockUnits = 28;

struct Masks {
  uint32_t a = 2;
  uint32_t b = 3;
  uint32_t c = 1;

  void advance() {
    c <<= 1;
    a <<= 1;
    b <<= 1;
    if (c == 0) {
      a = 2;
      b = 3;
      c = 1;
    }
    if (a == 4) {
      a = 5;
      b = 7;
    }
  }
};

void block_values(const Masks& m, uint32_t v[kBlockUnits]) {
  const uint32_t a = m.a, b = m.b, c = m.c, ones = 0xFFFFFFFFu;
  const uint32_t values[kBlockUnits] = {0,  a,  c, 0,    ~b,   0,  ~c,   c,    ~c, 0,
                                        ~c, c,  0, ~c,   ones, ~a, ~c,   ones, b,  ones,
                                        c,  ~c, c, ones, c,    ~c, ones, c};
  std::memcpy(v, values, sizeof values);
}

template <int Words>
inline void store_unit(unsigned char* p, uint32_t value) {
  for (int i = 0; i < Words; ++i) std::memcpy(p + 4 * i, &value, 4);
}

template <int Words>
void fill_noise(void* start, uint32_t count) {
  constexpr size_t kUnitBytes = 4 * Words;
  constexpr size_t kBlockBytes = kBlockUnits * kUnitBytes;
  if (start == nullptr) return;
  auto* p = static_cast<unsigned char*>(start);
  // End address with its two low bits cleared, kept as a byte count from
  // start so that it cannot wrap on 32-bit builds.
  uintptr_t begin = reinterpret_cast<uintptr_t>(start);
  uint64_t end = (static_cast<uint64_t>(begin) + 4ull * count) & ~uint64_t{3};
  uint64_t total = end > begin ? end - begin : 0;

  Masks masks;
  uint32_t v[kBlockUnits];
  uint64_t done = 0;
  while (total - done >= kBlockBytes) {
    block_values(masks, v);
    for (int u = 0; u < kBlockUnits; ++u) store_unit<Words>(p + done + u * kUnitBytes, v[u]);
    done += kBlockBytes;
    masks.advance();
  }
  // Tail: unit by unit. A unit that would not fit whole is not written, so
  // nothing past the end is touched even for a range that is not a whole
  // number of units.
  block_values(masks, v);
  for (int u = 0; u < kBlockUnits && total - done >= kUnitBytes; ++u) {
    store_unit<Words>(p + done, v[u]);
    done += kUnitBytes;
  }
}

}  // namespace

void noize_pattern_64(void* start, uint32_t count) {
  fill_noise<2>(start, count);
}

void noize_pattern_128(void* start, uint32_t count) {
  fill_noise<4>(start, count);
}

const uint8_t* noise_period(unsigned bits, uint32_t* len) {
  constexpr uint32_t kBlocks = 32;
  static const auto period64 = [] {
    std::array<uint32_t, kBlocks * kBlockUnits * 2> words{};
    noize_pattern_64(words.data(), static_cast<uint32_t>(words.size()));
    return words;
  }();
  static const auto period128 = [] {
    std::array<uint32_t, kBlocks * kBlockUnits * 4> words{};
    noize_pattern_128(words.data(), static_cast<uint32_t>(words.size()));
    return words;
  }();
  if (bits == 64) {
    *len = static_cast<uint32_t>(sizeof period64);
    return reinterpret_cast<const uint8_t*>(period64.data());
  }
  *len = static_cast<uint32_t>(sizeof period128);
  return reinterpret_cast<const uint8_t*>(period128.data());
}
