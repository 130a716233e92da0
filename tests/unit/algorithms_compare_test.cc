// Unit write, read, complement and the compare that locates the first
// differing byte and fills the error detail record.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "algorithms/buffer_access.h"
#include "algorithms/pattern.h"
#include "common/logfile.h"
#include "common/test_inf.h"
#include "params/param.h"
#include "state/memstruct.h"
#include "test_support.h"

namespace {

using Unit = std::array<uint8_t, 8>;

class CompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&Error_Details, 0, sizeof Error_Details);
    std::snprintf(TEST_INF.module_name, sizeof TEST_INF.module_name, "memtest");
    tp_area_ctl(kAreaCreate, 1024);  // the error list's buffer comes from it
  }
  void TearDown() override {
    tp_area_ctl(kAreaFreeAll, 0);
    std::memset(&Error_Details, 0, sizeof Error_Details);
    std::memset(TEST_INF.module_name, 0, sizeof TEST_INF.module_name);
    Ex_error_list_level = 0;
    execute_cancel = 0;
  }
  testsupport::OutputCapture capture_;  // keeps the error lists off stdout
};

bool all_zero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return std::all_of(b, b + n, [](uint8_t x) { return x == 0; });
}

// The first differing byte, also when later bytes differ too; equal data
// clears the record and reports nothing.
TEST_F(CompareTest, CompareTable) {
  const Unit expected = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  const struct {
    Unit actual;
    int index;  // -1: equal
  } kCases[] = {
      {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x99}, 7},
      {{0x10, 0x22, 0x33, 0x44, 0x55, 0x67, 0x77, 0x88}, 0},
      {{0x11, 0x22, 0x33, 0x45, 0x55, 0x66, 0x77, 0x89}, 3},
      {{0x11, 0x22, 0x33, 0x44, 0x54, 0x00, 0x00, 0x00}, 4},
      {{0x11, 0x23, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, 1},
      {expected, -1},
  };
  std::vector<uint8_t> buffer(64);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.index);
    capture_.clear();
    std::memset(&Error_Details, 0, sizeof Error_Details);
    Error_Details.error_class = 99;
    uint64_t mismatch = ~uint64_t{0};
    const uint32_t rc = VykTp2CompareBuffer(c.actual.data(), expected.data(), 8, &mismatch, nullptr,
                                            2, buffer.data(), 0x100000010ull);
    const Error_Details_t& d = Error_Details;
    if (c.index < 0) {
      EXPECT_EQ(rc, kRcOk);
      EXPECT_EQ(mismatch, ~uint64_t{0});
      EXPECT_TRUE(all_zero(&d, sizeof d));
      EXPECT_EQ(capture_.text(), "");
      continue;
    }
    ASSERT_EQ(rc, kRcCompare);
    EXPECT_EQ(mismatch, static_cast<uint64_t>(c.index));
    EXPECT_EQ(d.mismatch_offset, static_cast<uint64_t>(c.index));
    EXPECT_EQ(d.error_class, kClassCompare);
    EXPECT_EQ(d.error_code, 2u);
    EXPECT_EQ(d.name_text, TEST_INF.module_name);
    EXPECT_STREQ(d.device_text, "ADDRESS;0000000000000000");
    EXPECT_EQ(d.logical_address, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer.data())));
    EXPECT_EQ(d.offset_ref, 0x10u);  // low 32 bits of the unit offset
    EXPECT_EQ(d.physical_address, 0u);
    EXPECT_EQ(d.expected_data, expected.data());
    EXPECT_EQ(d.actual_data, c.actual.data());
    EXPECT_EQ(d.compare_length, 8u);
    EXPECT_EQ(d.data_width, 32u);
    EXPECT_TRUE(all_zero(d.function_name, sizeof d.function_name));
    EXPECT_NE(capture_.text().find("MARCH Data Compare Error(Ref No. 2)"), std::string::npos);
  }
}

TEST_F(CompareTest, NullBuffers) {
  Unit out;
  out.fill(0x5a);
  std::vector<uint8_t> buffer(16, 0x11);
  uint64_t mismatch = ~uint64_t{0};
  EXPECT_EQ(VykTp2WriteToMemory(nullptr, 0, nullptr, kDataRepeat, 8), kRcNoBuffer);
  EXPECT_EQ(VykTp2ReadFromMemory(nullptr, 0, nullptr, out.data(), 8), kRcNoBuffer);
  EXPECT_EQ(VykTp2ReadFromMemory(buffer.data(), 0, nullptr, nullptr, 8), kRcNoBuffer);
  EXPECT_EQ(VykTp2CompareBuffer(nullptr, out.data(), 8, &mismatch, nullptr, 1, nullptr, 0),
            kRcNoBuffer);
  EXPECT_EQ(out, Unit({0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x5a, 0x5a}));
  EXPECT_EQ(mismatch, ~uint64_t{0});
  EXPECT_EQ(capture_.text(), "");
}

TEST_F(CompareTest, WriteAndReadAtOffset) {
  std::vector<uint8_t> buffer(0x60, 0x5a);
  const std::vector<uint8_t> before = buffer;
  ASSERT_EQ(VykTp2WriteToMemory(buffer.data(), 0x58, nullptr, kDataCrossTalk, 8), kRcOk);
  const uint8_t want[8] = {0x40, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(&buffer[0x58], want, 8), 0);
  EXPECT_EQ(std::memcmp(buffer.data(), before.data(), 0x58), 0);
  Unit back{};
  ASSERT_EQ(VykTp2ReadFromMemory(buffer.data(), 0x58, nullptr, back.data(), 8), kRcOk);
  EXPECT_EQ(std::memcmp(back.data(), want, 8), 0);
  // A generator failure stores nothing.
  EXPECT_EQ(VykTp2WriteToMemory(buffer.data(), 0, nullptr, kDataCrossTalk, 4), kRcSyscall);
  execute_cancel = 1;
  EXPECT_EQ(VykTp2WriteToMemory(buffer.data(), 0, nullptr, kDataRepeat, 8), kRcCancel);
  EXPECT_EQ(std::memcmp(buffer.data(), before.data(), 0x58), 0);
}

TEST_F(CompareTest, ComplimentBuffer) {
  std::array<uint8_t, 12> data = {0x00, 0xff, 0x0f, 0xa5, 0x12, 0x34, 0x56, 0x78, 9, 9, 9, 9};
  EXPECT_EQ(VykTp2ComplimentBuffer(data.data(), 2, 6), kRcOk);
  const std::array<uint8_t, 12> want = {0x00, 0xff, 0xf0, 0x5a, 0xed, 0xcb, 0xa9, 0x87, 9, 9, 9, 9};
  EXPECT_EQ(data, want);
  EXPECT_EQ(VykTp2ComplimentBuffer(nullptr, 0, 8), kRcOk);
}

}  // namespace
