// The compare that locates the first differing byte, the unit operations on
// the buffer, and the classification of error records into titles and lists.

#include <cstring>
#include <regex>

#include "algorithms/buffer_access.h"
#include "algorithms/error_disp.h"
#include "fixture.h"

namespace {

class ReportTest : public ut::MemtestTest {};

// The unit operations: write the pattern unit of an offset, read it,
// complement in place; no buffer is 2048, a refused pattern stores nothing.
TEST_F(ReportTest, UnitOperations) {
  uint8_t buf[0x60] = {};
  uint64_t unit = 0;
  EXPECT_EQ(VykTp2WriteToMemory(buf, 0x58, nullptr, kDataCrossTalk, 8), kRcOk);
  EXPECT_EQ(VykTp2ReadFromMemory(buf, 0x58, nullptr, &unit, 8), kRcOk);
  EXPECT_EQ(VykTp2ComplimentBuffer(buf, 0x57, 2), kRcOk);
  EXPECT_TRUE(unit == 0x40 && buf[0x57] == 0xff && buf[0x58] == 0xbf && buf[0x59] == 0);
  EXPECT_EQ(VykTp2WriteToMemory(buf, 0, nullptr, kDataCrossTalk, 4), kRcSyscall);
  EXPECT_EQ(VykTp2WriteToMemory(nullptr, 0, nullptr, kDataRepeat, 8), kRcNoBuffer);
  EXPECT_EQ(VykTp2ReadFromMemory(buf, 0, nullptr, nullptr, 8), kRcNoBuffer);
  EXPECT_EQ(VykTp2ComplimentBuffer(nullptr, 0, 8), kRcOk);
  EXPECT_EQ(std::count(buf, buf + 0x57, 0), 0x57);
}

// The compare: the first differing byte wins (0 to 7, any later bytes
// differing too), equal data leaves the record clear and the index untouched,
// no data is 2048. Then titles by parameter error number and Ref No., and one
// list per class.
TEST_F(ReportTest, ComparesAndListsMatchGolden) {
  const uint64_t want = 0x8877665544332211;
  std::string text;
  for (uint64_t diff : {0x1100000000000000ull, 0x0000010000000001ull, 0x0100000001000000ull,
                        0x0000000200000000ull, 0ull}) {
    const uint64_t got = want ^ diff;
    uint64_t index = ~uint64_t{0};
    const uint32_t rc = VykTp2CompareBuffer(&got, &want, 8, &index, nullptr, 2, &want, 0x100000010);
    const Error_Details_t& d = Error_Details;
    text += ts::format(
                "diff %016llx: rc %llu index %llx class %llu mismatch %llx ref %llx width %llu "
                "pa %llx",
                diff, rc, index, d.error_class, d.mismatch_offset, d.offset_ref, d.data_width,
                d.physical_address) +
            (d.name_text == TEST_INF.module_name ? " module name" : " other name") + " function '" +
            d.function_name + "'\n";
  }
  uint64_t index = 0;
  EXPECT_EQ(VykTp2CompareBuffer(nullptr, &want, 8, &index, nullptr, 2, &want, 0), kRcNoBuffer);
  for (uint32_t n = 16; n <= 52; ++n)
    text += ts::format("param %llu: ", n) + param_error_title(n) + "\n";
  for (uint32_t n = 0; n <= 17; ++n)
    text += ts::format("ref %llu: ", n) + compare_error_title(n) + "\n";
  uint32_t exp[10], act[10];
  for (uint32_t i = 0; i < 10; ++i) exp[i] = 0x11111111u * i, act[i] = exp[i] + 1;
  const uint32_t kCases[][2] = {
      {kClassParam, 51}, {kClassSyscall, 0}, {kClassCompare, 12}, {kClassCompare, 13}, {7, 0}};
  const char* kDevice = "ADDRESS;0000000000000000";
  for (const auto& [error_class, code] : kCases) {
    reset();
    Error_Details = {
        error_class, code, TEST_INF.module_name,  kDevice, 0x12345678, 0x8010,        0,
        exp,         act,  code == 13 ? 40u : 8u, 32,      3,          "VirtualAlloc"};
    const uint32_t rc = VykTp2MemErrorDisp(&Error_Details);
    text += ts::format("== class %llu %llu: result %llu, list level %llu\n", error_class, code, rc,
                       Ex_error_list_level.load()) +
            output();
  }
  for (auto [p, name] : {std::pair<uint32_t*, const char*>{exp, "EXP"}, {act, "ACT"}}) {
    text = std::regex_replace(text, std::regex(ts::format("%llx", uintptr_t(p))), name);
  }
  // Record lengths depend on the width of the addresses shown.
  text = std::regex_replace(text, std::regex("ONLPTL,0x[0-9a-f]{8},"), "ONLPTL,LENGTH,");
  EXPECT_TRUE(ts::matches_golden("algorithms/reports", text));
}

}  // namespace
