// Period tables and wide streaming of the offset-addressed patterns, so that
// a sweep costs memory bandwidth rather than one generator call per unit.
#include "algorithms/pattern_stream.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "state/memstruct.h"

namespace {

using Period = std::array<uint64_t, kPatternPeriodUnits>;

// Eight bytes in memory order as one word, whatever the byte order.
constexpr uint64_t memory_order_word(const std::array<uint8_t, 8>& b) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) {
    int shift = std::endian::native == std::endian::little ? 8 * i : 8 * (7 - i);
    v |= static_cast<uint64_t>(b[i]) << shift;
  }
  return v;
}

constexpr uint64_t cross_talk_unit(uint32_t r) {
  uint32_t q = r / 8;
  uint32_t phase = q % 8;
  uint32_t g = q / 8;
  uint32_t k = g / 8;
  uint32_t s = g % 8;
  std::array<uint8_t, 8> p{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  p[k] = s == 0 ? 0x7F : static_cast<uint8_t>((0x7F >> s) | 0x80);
  uint64_t word = memory_order_word(p);
  switch (phase) {
    case 0:
    case 2:
    case 6:
      return word;
    case 1:
    case 7:
      return 0;
    case 3:
    case 5:
      return ~word;
    default:
      return ~uint64_t{0};
  }
}

// The unit at offset 8n in the given layout: P, ~P, or ~P at odd units.
constexpr uint64_t laid_out(uint64_t p, uint32_t n, PeriodForm form) {
  if (form == PeriodForm::kInverted || (form == PeriodForm::kPairs && n % 2 == 1)) return ~p;
  return p;
}

constexpr Period make_cross_talk(PeriodForm form) {
  Period t{};
  for (uint32_t n = 0; n < kPatternPeriodUnits; ++n)
    t[n] = laid_out(cross_talk_unit(n * 8), n, form);
  return t;
}

constexpr std::array<uint64_t, kRepeatPeriodUnits> kRepeatPeriod = {
    0xAAAAAAAAAAAAAAAAull, 0x5555555555555555ull, 0x0000000000000000ull, 0xFFFFFFFFFFFFFFFFull};

constexpr Period make_repeat(PeriodForm form) {
  Period t{};
  for (uint32_t n = 0; n < kPatternPeriodUnits; ++n) {
    t[n] = laid_out(kRepeatPeriod[n % kRepeatPeriodUnits], n, form);
  }
  return t;
}

// Indexed by PeriodForm.
alignas(64) constexpr Period kCrossTalkTables[3] = {make_cross_talk(PeriodForm::kPlain),
                                                    make_cross_talk(PeriodForm::kInverted),
                                                    make_cross_talk(PeriodForm::kPairs)};
alignas(64) constexpr Period kRepeatTables[3] = {make_repeat(PeriodForm::kPlain),
                                                 make_repeat(PeriodForm::kInverted),
                                                 make_repeat(PeriodForm::kPairs)};

static_assert(kPatternPeriodBytes % (kRepeatPeriodUnits * 8) == 0);
static_assert(0x8000 % kPatternPeriodBytes == 0, "sweep spans start at the period start");

}  // namespace

const uint64_t* pattern_period_table(uint16_t kind, PeriodForm form) {
  const auto index = static_cast<size_t>(form);
  if (kind == kDataCrossTalk) return kCrossTalkTables[index].data();
  if (kind == kDataRepeat) return kRepeatTables[index].data();
  return nullptr;
}

// memcpy/memcmp of whole period pieces: the library picks the widest stores
// and loads the processor has, on 32-bit builds too.
void pattern_stream_fill(const uint64_t* table, void* dst, uint64_t offset, uint64_t len) {
  auto* out = static_cast<unsigned char*>(dst);
  const auto* src = reinterpret_cast<const unsigned char*>(table);
  uint32_t phase = static_cast<uint32_t>(offset % kPatternPeriodBytes);
  while (len > 0) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kPatternPeriodBytes - phase, len));
    std::memcpy(out, src + phase, n);
    out += n;
    len -= n;
    phase = 0;
  }
}

bool pattern_stream_equal(const uint64_t* table, const void* src, uint64_t offset, uint64_t len) {
  const auto* in = static_cast<const unsigned char*>(src);
  const auto* ref = reinterpret_cast<const unsigned char*>(table);
  uint32_t phase = static_cast<uint32_t>(offset % kPatternPeriodBytes);
  while (len > 0) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kPatternPeriodBytes - phase, len));
    if (std::memcmp(in, ref + phase, n) != 0) return false;
    in += n;
    len -= n;
    phase = 0;
  }
  return true;
}
