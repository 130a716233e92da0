// Offset-addressed patterns, their period tables and the block noise patterns.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "algorithms/pattern.h"
#include "driver/memstruct.h"
#include "params/param.h"

namespace {

using Unit = std::array<uint8_t, 8>;

Unit fill8(uint8_t v) {
  return {v, v, v, v, v, v, v, v};
}

Unit generate(uint16_t kind, int64_t offset) {
  Unit u{};
  EXPECT_EQ(VykTp2GeneratePattern(8, offset, u.data(), 8, nullptr, kind), kRcOk);
  return u;
}

class PatternTest : public ::testing::Test {
 protected:
  void TearDown() override { execute_cancel = 0; }
};

struct Worked {
  int64_t offset;
  Unit cross_talk;
  Unit repeat;
};

const Unit kP0 = {0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
const Unit kNotP0 = {0x80, 0, 0, 0, 0, 0, 0, 0};

const Worked kWorked[] = {
    {0x00, kP0, fill8(0xaa)},
    {0x08, fill8(0x00), fill8(0x55)},
    {0x10, kP0, fill8(0x00)},
    {0x18, kNotP0, fill8(0xff)},
    {0x20, fill8(0xff), fill8(0xaa)},
    {0x28, kNotP0, fill8(0x55)},
    {0x30, kP0, fill8(0x00)},
    {0x38, fill8(0x00), fill8(0xff)},
    {0x40, {0xbf, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, fill8(0xaa)},
    {0x58, {0x40, 0, 0, 0, 0, 0, 0, 0}, fill8(0xff)},
    {0x80, {0x9f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, fill8(0xaa)},
    {0x1c0, {0x80, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, fill8(0xaa)},
    {0x200, {0xff, 0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, fill8(0xaa)},
    {0xfc0, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x80}, fill8(0xaa)},
    {0x1000, kP0, fill8(0xaa)},
    {0x7000, kP0, fill8(0xaa)},
};

TEST_F(PatternTest, WorkedValues) {
  for (const Worked& w : kWorked) {
    SCOPED_TRACE(w.offset);
    EXPECT_EQ(generate(kDataCrossTalk, w.offset), w.cross_talk);
    EXPECT_EQ(generate(kDataRepeat, w.offset), w.repeat);
  }
  EXPECT_EQ(bpPtnData, nullptr);
}

TEST_F(PatternTest, ZeroRunGrowsFromGroupToGroup) {
  const uint8_t byte_k[8] = {0x7f, 0xbf, 0x9f, 0x8f, 0x87, 0x83, 0x81, 0x80};
  for (int k = 0; k < 8; ++k) {
    for (int s = 0; s < 8; ++s) {
      Unit p = fill8(0xff);
      p[k] = byte_k[s];
      int64_t group_start = (k * 8 + s) * 64;
      EXPECT_EQ(generate(kDataCrossTalk, group_start), p) << k << "," << s;
      Unit inverted;
      for (int i = 0; i < 8; ++i) inverted[i] = static_cast<uint8_t>(~p[i]);
      EXPECT_EQ(generate(kDataCrossTalk, group_start + 24), inverted);
      EXPECT_EQ(generate(kDataCrossTalk, group_start + 32), fill8(0xff));
    }
  }
}

// One call over many units gives what single-unit calls seeded at each
// offset give, across group and period boundaries.
TEST_F(PatternTest, LongCallEqualsSeededUnits) {
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    for (int64_t start : {int64_t{0}, int64_t{0x38}, int64_t{0xfc0}, int64_t{0x12348}}) {
      std::vector<uint8_t> out(8 * 700);
      ASSERT_EQ(VykTp2GeneratePattern(8, start, out.data(), static_cast<int64_t>(out.size()),
                                      nullptr, kind),
                kRcOk);
      for (size_t n = 0; n < 700; ++n) {
        Unit u;
        std::memcpy(u.data(), &out[8 * n], 8);
        ASSERT_EQ(u, generate(kind, start + static_cast<int64_t>(8 * n)))
            << kind << " start " << start << " unit " << n;
      }
    }
  }
}

TEST_F(PatternTest, PeriodTablesEqualGenerator) {
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    const uint64_t* table = pattern_period_table(kind);
    ASSERT_NE(table, nullptr);
    for (uint32_t n = 0; n < kPatternPeriodUnits; ++n) {
      Unit u = generate(kind, 8 * n);
      ASSERT_EQ(std::memcmp(&table[n], u.data(), 8), 0) << kind << " unit " << n;
    }
  }
  const uint64_t* rep = pattern_repeat_period();
  for (uint32_t n = 0; n < kRepeatPeriodUnits; ++n) {
    Unit u = generate(kDataRepeat, 8 * n);
    EXPECT_EQ(std::memcmp(&rep[n], u.data(), 8), 0);
  }
  EXPECT_EQ(pattern_period_table(7), nullptr);
}

// The streaming fill and compare, seeded at arbitrary offsets, match the
// generator unit by unit and catch any single changed byte.
TEST_F(PatternTest, StreamFillAndEqualMatchGenerator) {
  std::mt19937 rng(1234);
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    const uint64_t* table = pattern_period_table(kind);
    for (int trial = 0; trial < 40; ++trial) {
      uint64_t offset = 8 * static_cast<uint64_t>(rng() % 100000);
      size_t len = 8 * (1 + rng() % 1200);
      std::vector<uint8_t> buf(len + 16, 0x5a);
      pattern_stream_fill(table, buf.data() + 8, offset, len);
      for (size_t n = 0; n < len / 8; ++n) {
        Unit u;
        std::memcpy(u.data(), &buf[8 + 8 * n], 8);
        ASSERT_EQ(u, generate(kind, static_cast<int64_t>(offset + 8 * n)))
            << "kind " << kind << " offset " << offset << " unit " << n;
      }
      EXPECT_EQ(buf[7], 0x5a);
      EXPECT_EQ(buf[8 + len], 0x5a);
      EXPECT_TRUE(pattern_stream_equal(table, buf.data() + 8, offset, len));
      size_t bad = 8 + rng() % len;
      buf[bad] ^= static_cast<uint8_t>(1u << (rng() % 8));
      EXPECT_FALSE(pattern_stream_equal(table, buf.data() + 8, offset, len));
    }
  }
}

TEST_F(PatternTest, MisalignedRequestsAreRefusedUntouched) {
  struct Case {
    int64_t offset;
    int64_t length;
  };
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    for (Case c : {Case{4, 8}, Case{0, 12}, Case{1, 8}, Case{8, 7}}) {
      std::array<uint8_t, 16> out;
      out.fill(0x5a);
      EXPECT_EQ(VykTp2GeneratePattern(8, c.offset, out.data(), c.length, nullptr, kind),
                kRcSyscall);
      for (uint8_t b : out) EXPECT_EQ(b, 0x5a);
    }
  }
  EXPECT_EQ(bpPtnData, nullptr);
}

TEST_F(PatternTest, UnknownKindFailsWithoutWriting) {
  Unit out = fill8(0x5a);
  EXPECT_EQ(VykTp2GeneratePattern(8, 0, out.data(), 8, nullptr, 7), kRcSyscall);
  EXPECT_EQ(out, fill8(0x5a));
}

TEST_F(PatternTest, CancelStopsGeneration) {
  execute_cancel = 1;
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    Unit out = fill8(0x5a);
    EXPECT_EQ(VykTp2GeneratePattern(8, 0x40, out.data(), 8, nullptr, kind), kRcCancel);
    EXPECT_EQ(out, fill8(0x5a));
    EXPECT_EQ(bpPtnData, nullptr);
  }
}

// Values of the 28 units of a block for masks a, b, c.
std::array<uint32_t, 28> noise_block(uint32_t a, uint32_t b, uint32_t c) {
  const uint32_t o = 0xffffffffu;
  return {0, a,  c,  0, ~b, 0, ~c, c,  ~c, 0, ~c, c,  0, ~c,
          o, ~a, ~c, o, b,  o, c,  ~c, c,  o, c,  ~c, o, c};
}

std::array<uint32_t, 28> block_for(int j) {
  j %= 32;
  if (j == 0) return noise_block(2, 3, 1);
  return noise_block(5u << (j - 1), 7u << (j - 1), 1u << j);
}

// Checks count words written by a noise generator with Words words per unit.
void expect_noise(const std::vector<uint32_t>& mem, size_t units, int words) {
  for (size_t u = 0; u < units; ++u) {
    uint32_t want = block_for(static_cast<int>(u / 28))[u % 28];
    for (int w = 0; w < words; ++w) {
      ASSERT_EQ(mem[u * words + w], want) << "unit " << u << " word " << w;
    }
  }
}

TEST(NoisePatternTest, BlockSequenceAndWrap) {
  // 33 blocks and a bit: covers block 31's masks and block 32 = block 0.
  const size_t units = 33 * 28 + 5;
  for (int words : {2, 4}) {
    std::vector<uint32_t> mem(units * words + 8, 0x5a5a5a5au);
    uint32_t count = static_cast<uint32_t>(units * words);
    if (words == 2) {
      noize_pattern_64(mem.data(), count);
    } else {
      noize_pattern_128(mem.data(), count);
    }
    expect_noise(mem, units, words);
    EXPECT_EQ(mem[units * words], 0x5a5a5a5au);
  }
  std::array<uint32_t, 28> b31 = block_for(31);
  EXPECT_EQ(b31[2], 0x80000000u);   // c
  EXPECT_EQ(b31[1], 0x40000000u);   // a
  EXPECT_EQ(b31[18], 0xc0000000u);  // b
}

TEST(NoisePatternTest, PartialBlock) {
  std::vector<uint32_t> mem(80, 0x5a5a5a5au);
  noize_pattern_64(mem.data(), 224 / 4);
  expect_noise(mem, 28, 2);
  EXPECT_EQ(mem[56], 0x5a5a5a5au);

  std::fill(mem.begin(), mem.end(), 0x5a5a5a5au);
  noize_pattern_64(mem.data(), 240 / 4);
  expect_noise(mem, 30, 2);
  EXPECT_EQ(mem[58], 5u);
  EXPECT_EQ(mem[59], 5u);
  EXPECT_EQ(mem[60], 0x5a5a5a5au);
}

TEST(NoisePatternTest, NothingPastTheEnd) {
  // A count that is not a whole number of 128-bit units: the last partial
  // unit is not written.
  std::vector<uint32_t> mem(16, 0x5a5a5a5au);
  noize_pattern_128(mem.data(), 6);
  expect_noise(mem, 1, 4);
  EXPECT_EQ(mem[4], 0x5a5a5a5au);
  EXPECT_EQ(mem[5], 0x5a5a5a5au);
}

}  // namespace
