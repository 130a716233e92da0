// Classification of error details into titles, detail lines and lists.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "algorithms/error_disp.h"
#include "common/eset.h"
#include "common/logfile.h"
#include "common/test_inf.h"
#include "driver/memstruct.h"
#include "test_support.h"

namespace {

// A message table whose texts take the arguments the report passes.
constexpr char kTable[] =
    "# test table\n"
    "\"E0356\",\"%s%lx) %08x %08x %08x %08x %08x\"\n"
    "\"E0357\",\"%s%lx\"\n"
    "\"E0358\",\"%s%08x %s\"\n"
    "\"E0390\",\"Replace memory of %s\"\n"
    "\"E0391\",\"Check device %s\"\n"
    "\"E0399\",\"Note: %s\"\n";

class ErrorDispTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_inf_clear();
    std::snprintf(TEST_INF.module_name, sizeof TEST_INF.module_name, "memtest");
    std::snprintf(TEST_INF.device_name, sizeof TEST_INF.device_name, "MEM");
    TEST_INF.test_mode = kModeOnline;
    TEST_INF.test_level = 1;
    ASSERT_EQ(tp_area_ctl(kAreaCreate, 1024), 0);
    testsupport::write_file(dir_.file("msg.txt"), kTable);
    std::snprintf(TEST_INF.data_path, sizeof TEST_INF.data_path, "%s", dir_.path().c_str());
    ASSERT_EQ(get_msgtbl("msg.txt"), 0);
    std::memset(&Error_Details, 0, sizeof Error_Details);
    Ex_error_list_level = 0;
    capture_.clear();
  }
  void TearDown() override {
    tp_area_ctl(kAreaFreeAll, 0);
    test_inf_clear();
    std::memset(&Error_Details, 0, sizeof Error_Details);
    std::memset(err_msg, 0, sizeof err_msg);
    Ex_error_list_level = 0;
  }

  static bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  testsupport::TempDir dir_;
  testsupport::OutputCapture capture_;
};

TEST(ErrorTitleTest, Titles) {
  // Parameter numbers 17 to 32, then 51; every other number is generic.
  const char* const kSize = "Starting Parameter Error(/SIZE Parameter #";
  std::map<uint32_t, std::string> param = {
      {22, "Starting Parameter Error(/USE Parameter #1)"},
      {23, "Starting Parameter Error(/USE Parameter #2)"},
      {24, "Starting Parameter Error(/RUNTIME Parameter #1)"},
      {25, "Starting Parameter Error(/TP Parameter #1)"},
      {26, "Starting Parameter Error(/TP Parameter #2)"},
      {27, "Starting Parameter Error(/DATA Parameter #1)"},
      {28, "Starting Parameter Error(/DATA Parameter #2)"},
      {29, "Starting Parameter Error(/SA Parameter #1)"},
      {30, "Starting Parameter Error(/SA Parameter #2)"},
      {31, "Starting Parameter Error(/SA Parameter #3)"},
      {32, "Starting Parameter Error(There's no PSE36.)"},
      {51, "Getting Address is not appropriate(Bad Address Boundary)"}};
  for (uint32_t n = 17; n <= 21; ++n) param[n] = kSize + std::to_string(n - 16) + ")";
  for (uint32_t n = 0; n < 70; ++n) {
    EXPECT_EQ(param_error_title(n), param.count(n) ? param[n] : "Parameter Error") << n;
  }
  EXPECT_STREQ(param_error_title(0xFFFFFFFFu), "Parameter Error");

  // Ref No. 1 to 16 (no 12): the algorithm that found the mismatch.
  const char* const kAlgo[] = {nullptr,
                               "MSCAN",
                               "MARCH",
                               "MARCH",
                               "MASEST",
                               "MASEST",
                               "MASEST",
                               "MASEST",
                               "MASEST",
                               "MASEST",
                               "MASEST",
                               "MASEST",
                               nullptr,
                               "BMOVE",
                               "Moving Inversion",
                               "Moving Inversion",
                               "Moving Inversion"};
  for (uint32_t n = 0; n < 30; ++n) {
    char want[64] = "Data Compare Error(Ref No. XX)";
    if (n < std::size(kAlgo) && kAlgo[n]) {
      std::snprintf(
          want, sizeof want,
          n < 10 ? "%s Data Compare Error(Ref No. %u)" : "%s Data Compare Error(Ref No. 0x%X)",
          kAlgo[n], n);
    }
    EXPECT_STREQ(compare_error_title(n), want) << n;
  }
}

TEST_F(ErrorDispTest, ParameterErrorGivesAbortList) {
  Error_Details.error_class = kClassParam;
  Error_Details.error_code = 51;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.device_text = TEST_INF.device_name;
  EXPECT_EQ(VykTp2MemErrorDisp(&Error_Details), kClassParam);

  const ErrorRecord& r = TEST_INF.err;
  EXPECT_STREQ(r.etitle, "Getting Address is not appropriate(Bad Address Boundary)");
  EXPECT_STREQ(r.einfo_name, "memtest");
  EXPECT_STREQ(r.einfo_device, "MEM");
  EXPECT_STREQ(err_msg, "The Error Classification was Enything Else.");
  EXPECT_STREQ(r.action_text[1], "Note: The Error Classification was Enything Else.");
  EXPECT_STREQ(r.action_text[2], "Check device MEM");
  EXPECT_EQ(Ex_error_list_level.load(), 0x80000000u);

  std::string out = capture_.text();
  EXPECT_TRUE(has(out, "\n0x06,0x02,0x00000000,")) << out;
  EXPECT_TRUE(has(out, " ABORT   : Getting Address is not appropriate(Bad Address Boundary)\n"));
  EXPECT_TRUE(
      has(out, "   Note: The Error Classification was Enything Else.\n   Check device MEM\n"));
}

TEST_F(ErrorDispTest, SystemCallErrorGivesAbortList) {
  Error_Details.error_class = kClassSyscall;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.device_text = TEST_INF.device_name;
  std::snprintf(Error_Details.function_name, sizeof Error_Details.function_name, "VirtualAlloc");
  EXPECT_EQ(VykTp2MemErrorDisp(&Error_Details), kClassSyscall);

  const ErrorRecord& r = TEST_INF.err;
  EXPECT_STREQ(r.etitle, "System Call Error");
  EXPECT_STREQ(r.syscall_name, "VirtualAlloc");
  EXPECT_EQ(r.syscall_errno, -1);
  EXPECT_STREQ(r.action_text[1], "Check device MEM");
  EXPECT_STREQ(r.action_text[2], "");
  EXPECT_EQ(Ex_error_list_level.load(), 0x80000000u);
  std::string out = capture_.text();
  EXPECT_TRUE(has(out, "\n0x06,0x02,0x00000000,")) << out;
  EXPECT_TRUE(has(out, "    Function : VirtualAlloc\n    errno    : -1\n"));
}

TEST_F(ErrorDispTest, CompareErrorGivesErrorList) {
  const uint8_t expected[8] = {0x7f, 0xff, 0xff, 0xff, 0x00, 0x11, 0x22, 0x33};
  const uint8_t actual[8] = {0x7e, 0xff, 0xff, 0xff, 0x00, 0x11, 0x22, 0x33};
  Error_Details.error_class = kClassCompare;
  Error_Details.error_code = 12;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.device_text = "ADDRESS;0000000000000000";
  Error_Details.logical_address = 0x12345678;
  Error_Details.offset_ref = 0x8010;
  Error_Details.expected_data = expected;
  Error_Details.actual_data = actual;
  Error_Details.compare_length = 8;
  EXPECT_EQ(VykTp2MemErrorDisp(&Error_Details), kClassCompare);

  uint32_t e0, e1, a0, a1;
  std::memcpy(&e0, expected, 4);
  std::memcpy(&e1, expected + 4, 4);
  std::memcpy(&a0, actual, 4);
  std::memcpy(&a1, actual + 4, 4);
  char line[4][128];
  std::snprintf(line[1], 128, "Logical Address=12345678 Physical Address=Not Retrieved");
  std::snprintf(line[2], 128, "Exp.Address (+%lx) %08x %08x 00000000 00000000 00000000",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(expected)), e0, e1);
  std::snprintf(line[3], 128, "Act.Address (+8010) %08x %08x 00000000 00000000 00000000", a0, a1);
  std::snprintf(line[0], 128, "Local Read Buffer:+%lx",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(actual)));

  const ErrorRecord& r = TEST_INF.err;
  EXPECT_STREQ(r.etitle, "Data Compare Error(Ref No. XX)");
  EXPECT_STREQ(r.einfo_device, "ADDRESS;0000000000000000");
  EXPECT_STREQ(r.freemsg_p[0], "");
  EXPECT_STREQ(r.freemsg_p[1], line[1]);
  EXPECT_STREQ(r.freemsg_p[2], line[2]);
  EXPECT_STREQ(r.freemsg_p[3], line[3]);
  EXPECT_STREQ(r.freemsg_p[4], line[0]);
  EXPECT_STREQ(r.action_text[1], "Replace memory of MEM");
  EXPECT_EQ(Ex_error_list_level.load(), 0u);

  std::string out = capture_.text();
  EXPECT_TRUE(has(out, "\n0x04,0x06,0x00000000,")) << out;
  EXPECT_TRUE(has(out, " ERROR   : Data Compare Error(Ref No. XX)\n"));
  EXPECT_TRUE(has(out, " " + std::string(line[2]) + "\n"));
}

TEST_F(ErrorDispTest, BmoveDetailLinesShowFiveWords) {
  uint32_t expected[10], actual[10];
  for (uint32_t i = 0; i < 10; ++i) {
    expected[i] = 0x11111111u * i;
    actual[i] = 0x11111111u * i + 1;
  }
  Error_Details.error_class = kClassCompare;
  Error_Details.error_code = 13;
  Error_Details.offset_ref = 0x40;
  Error_Details.expected_data = expected;
  Error_Details.actual_data = actual;
  Error_Details.compare_length = 40;
  EXPECT_EQ(VykTp2MemErrorDisp(&Error_Details), kClassCompare);

  char want[3][128];
  std::snprintf(want[0], 128, "Exp. Buffer(%lx) 00000000 11111111 22222222 33333333 44444444",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(expected)));
  std::snprintf(want[1], 128, "Act. Buffer(%lx) 00000001 11111112 22222223 33333334 44444445",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(actual)));
  std::snprintf(want[2], 128, "Error Logical Address Offset: +40");
  EXPECT_STREQ(TEST_INF.err.etitle, "BMOVE Data Compare Error(Ref No. 0xD)");
  EXPECT_STREQ(TEST_INF.err.freemsg_p[2], want[0]);
  EXPECT_STREQ(TEST_INF.err.freemsg_p[3], want[1]);
  EXPECT_STREQ(TEST_INF.err.freemsg_p[4], want[2]);
}

TEST_F(ErrorDispTest, UnknownClassReportsNothing) {
  eset_etitle("left over");
  Error_Details.error_class = 7;
  EXPECT_EQ(VykTp2MemErrorDisp(&Error_Details), 7u);
  EXPECT_EQ(capture_.text(), "");
  EXPECT_EQ(TEST_INF.err.eset_flags, 0u);  // the record was started afresh
  EXPECT_EQ(Ex_error_list_level.load(), 0u);
}

}  // namespace
