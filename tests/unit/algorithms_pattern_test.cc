// Offset-addressed patterns, their period tables and the block noise patterns.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "algorithms/pattern.h"
#include "params/param.h"
#include "state/memstruct.h"

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

Unit unit_in(const std::vector<uint8_t>& buf, size_t at) {
  Unit u;
  std::memcpy(u.data(), &buf[at], 8);
  return u;
}

class PatternTest : public ::testing::Test {
 protected:
  void TearDown() override { execute_cancel = 0; }
};

const Unit kP0 = {0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
const Unit kNotP0 = {0x80, 0, 0, 0, 0, 0, 0, 0};

TEST_F(PatternTest, WorkedValues) {
  const struct {
    int64_t offset;
    Unit cross_talk, repeat;
  } kWorked[] = {
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
      {0x1000, kP0, fill8(0xaa)},  // the period restarts at 4096
      {0x7000, kP0, fill8(0xaa)},
  };
  for (const auto& w : kWorked) {
    SCOPED_TRACE(w.offset);
    EXPECT_EQ(generate(kDataCrossTalk, w.offset), w.cross_talk);
    EXPECT_EQ(generate(kDataRepeat, w.offset), w.repeat);
  }
  EXPECT_EQ(bpPtnData, nullptr);
}

// Group k*8+s: byte k carries a zero run of s+1 bits; +24 is its inverse,
// +32 all ones.
TEST_F(PatternTest, ZeroRunGrowsFromGroupToGroup) {
  const uint8_t byte_k[8] = {0x7f, 0xbf, 0x9f, 0x8f, 0x87, 0x83, 0x81, 0x80};
  for (int g = 0; g < 64; ++g) {
    Unit p = fill8(0xff), inverted;
    p[g / 8] = byte_k[g % 8];
    for (int i = 0; i < 8; ++i) inverted[i] = static_cast<uint8_t>(~p[i]);
    EXPECT_EQ(generate(kDataCrossTalk, g * 64), p) << g;
    EXPECT_EQ(generate(kDataCrossTalk, g * 64 + 24), inverted) << g;
    EXPECT_EQ(generate(kDataCrossTalk, g * 64 + 32), fill8(0xff)) << g;
  }
}

// Long calls and the streaming fill, seeded at arbitrary offsets, equal
// single units generated one at a time; the stream compare catches any
// single changed bit.
TEST_F(PatternTest, SeededLongCallsAndStreamsEqualUnits) {
  std::mt19937 rng(1234);
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    const uint64_t* table = pattern_period_table(kind);
    for (int trial = 0; trial < 24; ++trial) {
      const int64_t fixed[] = {0, 0x38, 0xfc0, 0x12348};
      int64_t offset = trial < 4 ? fixed[trial] : 8 * static_cast<int64_t>(rng() % 100000);
      size_t len = 8 * (1 + rng() % 1200);
      std::vector<uint8_t> call(len), buf(len + 16, 0x5a);
      ASSERT_EQ(
          VykTp2GeneratePattern(8, offset, call.data(), static_cast<int64_t>(len), nullptr, kind),
          kRcOk);
      pattern_stream_fill(table, buf.data() + 8, static_cast<uint64_t>(offset), len);
      for (size_t n = 0; n < len; n += 8) {
        Unit want = generate(kind, offset + static_cast<int64_t>(n));
        ASSERT_EQ(unit_in(call, n), want) << kind << " offset " << offset << " +" << n;
        ASSERT_EQ(unit_in(buf, 8 + n), want) << kind << " offset " << offset << " +" << n;
      }
      EXPECT_EQ(buf[7], 0x5a);
      EXPECT_EQ(buf[8 + len], 0x5a);
      EXPECT_TRUE(pattern_stream_equal(table, buf.data() + 8, offset, len));
      buf[8 + rng() % len] ^= static_cast<uint8_t>(1u << (rng() % 8));
      EXPECT_FALSE(pattern_stream_equal(table, buf.data() + 8, offset, len));
    }
  }
}

TEST_F(PatternTest, PeriodTablesEqualGenerator) {
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    const uint64_t* table = pattern_period_table(kind);
    ASSERT_NE(table, nullptr);
    for (uint32_t n = 0; n < kPatternPeriodUnits; ++n) {
      ASSERT_EQ(std::memcmp(&table[n], generate(kind, 8 * n).data(), 8), 0) << kind << " " << n;
    }
  }
  const uint64_t* rep = pattern_repeat_period();
  for (uint32_t n = 0; n < kRepeatPeriodUnits; ++n) {
    EXPECT_EQ(std::memcmp(&rep[n], generate(kDataRepeat, 8 * n).data(), 8), 0) << n;
  }
  EXPECT_EQ(pattern_period_table(7), nullptr);
}

// Refused requests write nothing and leave no pattern buffer behind.
TEST_F(PatternTest, RefusedRequestsLeaveOutputUntouched) {
  const struct {
    uint16_t kind;
    int64_t offset, length;
    bool cancel;
    uint32_t rc;
  } kCases[] = {
      {kDataCrossTalk, 4, 8, false, kRcSyscall},  {kDataRepeat, 4, 8, false, kRcSyscall},
      {kDataCrossTalk, 0, 12, false, kRcSyscall}, {kDataRepeat, 1, 8, false, kRcSyscall},
      {kDataRepeat, 8, 7, false, kRcSyscall},     {7, 0, 8, false, kRcSyscall},
      {kDataCrossTalk, 0x40, 8, true, kRcCancel}, {kDataRepeat, 0x40, 8, true, kRcCancel},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.kind << " " << c.offset << " " << c.length);
    execute_cancel = c.cancel ? 1 : 0;
    std::array<uint8_t, 16> out;
    out.fill(0x5a);
    EXPECT_EQ(VykTp2GeneratePattern(8, c.offset, out.data(), c.length, nullptr, c.kind), c.rc);
    for (uint8_t b : out) EXPECT_EQ(b, 0x5a);
    EXPECT_EQ(bpPtnData, nullptr);
  }
}

// Values of the 28 units of block j.
std::array<uint32_t, 28> block_for(int j) {
  j %= 32;
  const uint32_t a = j == 0 ? 2 : 5u << (j - 1), b = j == 0 ? 3 : 7u << (j - 1), c = 1u << j;
  const uint32_t o = 0xffffffffu;
  return {0, a,  c,  0, ~b, 0, ~c, c,  ~c, 0, ~c, c,  0, ~c,
          o, ~a, ~c, o, b,  o, c,  ~c, c,  o, c,  ~c, o, c};
}

// Runs a noise generator of `words` words per unit over `count` words and
// checks every whole unit against the model and the words after them.
void expect_noise(int words, uint32_t count) {
  std::vector<uint32_t> mem(count + 8, 0x5a5a5a5au);
  (words == 2 ? noize_pattern_64 : noize_pattern_128)(mem.data(), count);
  const size_t units = count / words;
  for (size_t u = 0; u < units; ++u) {
    for (int w = 0; w < words; ++w) {
      ASSERT_EQ(mem[u * words + w], block_for(static_cast<int>(u / 28))[u % 28])
          << "words " << words << " unit " << u << " word " << w;
    }
  }
  for (size_t i = units * words; i < mem.size(); ++i) ASSERT_EQ(mem[i], 0x5a5a5a5au) << i;
}

TEST(NoisePatternTest, BlocksAndEnds) {
  // Pin the model: block 1 unit 1 is 5, block 31's masks a, b, c.
  EXPECT_EQ(block_for(1)[1], 5u);
  EXPECT_EQ(block_for(31)[1], 0x40000000u);
  EXPECT_EQ(block_for(31)[18], 0xc0000000u);
  EXPECT_EQ(block_for(31)[2], 0x80000000u);
  const struct {
    int words;
    uint32_t count;
  } kCases[] = {
      {2, 2 * (33 * 28 + 5)},  // block 31, and block 32 = block 0
      {4, 4 * (33 * 28 + 5)},
      {2, 224 / 4},  // exactly one block
      {2, 240 / 4},  // block 0, then units 0 and 1 of block 1
      {4, 6},        // a partial 128-bit unit is not written
  };
  for (const auto& c : kCases) expect_noise(c.words, c.count);
}

}  // namespace
