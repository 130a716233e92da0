// Offset-addressed patterns and their period tables, and the block noise
// patterns.
#include <gtest/gtest.h>

#include <string>

#include "algorithms/noise_pattern.h"
#include "algorithms/pattern.h"
#include "algorithms/pattern_stream.h"
#include "files.h"
#include "state/memstruct.h"
#include "state/param_block.h"

namespace {

uint64_t unit(uint16_t kind, int64_t offset) {
  uint64_t u = 0;
  EXPECT_EQ(VykTp2GeneratePattern(8, offset, reinterpret_cast<uint8_t*>(&u), 8, nullptr, kind),
            kRcOk);
  return u;
}

// Worked units (bytes in memory order); the period tables hold the
// generator's units in every layout.
TEST(PatternTest, WorkedUnitsAndTables) {
  for (const ts::Row& r : ts::read_table("unit/data/pattern_units.txt", 3)) {
    for (int k = 0; k < 2; ++k) {
      const uint64_t u = unit(k == 0 ? kDataCrossTalk : kDataRepeat, std::stoll(r[0], nullptr, 0));
      std::string bytes;  // in memory order
      for (int i = 0; i < 64; i += 8) bytes += ts::format(" %02llx", (u >> i) & 0xff);
      EXPECT_EQ(bytes.substr(1), r[1 + k]) << r.where;
    }
  }
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    for (uint32_t n = 0; n < kPatternPeriodUnits; ++n) {
      const uint64_t u = unit(kind, 8 * n);
      ASSERT_EQ(pattern_period_table(kind)[n], u) << kind << " " << n;
      ASSERT_EQ(pattern_period_table(kind, PeriodForm::kInverted)[n], ~u) << kind << " " << n;
      ASSERT_EQ(pattern_period_table(kind, PeriodForm::kPairs)[n], n % 2 ? ~u : u) << kind << n;
    }
  }
  EXPECT_EQ(pattern_period_table(7), nullptr);
  EXPECT_EQ(bpPtnData, nullptr);
}

// A row of tests/unit/data/pattern_refused.txt: nothing written, no work buffer left.
class RefusedPattern : public testing::TestWithParam<ts::Row> {};

TEST_P(RefusedPattern, WritesNothing) {
  const ts::Row& r = GetParam();
  const auto n = [&r](int i) { return std::stoll(r[i]); };
  execute_cancel = static_cast<uint32_t>(n(3));
  uint64_t out[2] = {5, 5};
  const uint32_t rc = VykTp2GeneratePattern(8, n(1), reinterpret_cast<uint8_t*>(out), n(2), nullptr,
                                            static_cast<uint16_t>(n(0)));
  execute_cancel = 0;
  EXPECT_TRUE(rc == n(4) && out[0] == 5 && out[1] == 5 && !bpPtnData) << rc;
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedPattern,
                         testing::ValuesIn(ts::read_table("unit/data/pattern_refused.txt", 5)),
                         [](const auto& info) { return ts::row_id(info.param); });

// Unit u of the noise: block u / 28 (the masks repeat every 32 blocks), unit
// u % 28 of the block.
uint32_t noise_value(size_t u) {
  const size_t j = u / 28 % 32;
  const uint32_t a = j == 0 ? 2 : 5u << (j - 1), b = j == 0 ? 3 : 7u << (j - 1), c = 1u << j;
  const uint32_t v[28] = {0,   a,  c,  0,   ~b, 0,   ~c, c,  ~c, 0,   ~c, c,  0,   ~c,
                          ~0u, ~a, ~c, ~0u, b,  ~0u, c,  ~c, c,  ~0u, c,  ~c, ~0u, c};
  return v[u % 28];
}

// 33 blocks and a part (block 31: c = 0x80000000, a = 0x40000000, b =
// 0xC0000000; block 32 = block 0); 224 bytes, one block; 240 bytes, then
// units 0 and 1 of block 1 (the second 5); a partial 128-bit unit, not written.
TEST(PatternTest, NoiseFollowsTheUnitRule) {
  EXPECT_TRUE(noise_value(31 * 28 + 2) == 0x80000000u && noise_value(31 * 28 + 1) == 0x40000000u &&
              noise_value(31 * 28 + 18) == 0xC0000000u && noise_value(29) == 5u);
  const std::pair<int, uint32_t> kCases[] = {
      {2, 2 * (33 * 28 + 5)}, {4, 4 * (33 * 28 + 5)}, {2, 224 / 4}, {2, 240 / 4}, {4, 6}};
  for (const auto& [words, count] : kCases) {
    std::vector<uint32_t> mem(count + 8, 0x5a5a5a5au);
    (words == 2 ? noize_pattern_64 : noize_pattern_128)(mem.data(), count);
    for (size_t i = 0; i < mem.size(); ++i) {
      const bool written = i < count / words * words;
      ASSERT_EQ(mem[i], written ? noise_value(i / words) : 0x5a5a5a5au) << words << " " << i;
    }
  }
}

}  // namespace
