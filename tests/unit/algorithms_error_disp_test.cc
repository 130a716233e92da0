// Classification of error details into titles, detail lines and lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "algorithms/error_disp.h"
#include "common/eset.h"
#include "common/logfile.h"
#include "common/test_inf.h"
#include "state/memstruct.h"
#include "test_support.h"

namespace {

// A message table whose texts take the arguments the report passes.
constexpr char kTable[] =
    "\"E0356\",\"%s%lx) %08x %08x %08x %08x %08x\"\n"
    "\"E0357\",\"%s%lx\"\n"
    "\"E0358\",\"%s%08x %s\"\n"
    "\"E0390\",\"Replace memory of %s\"\n"
    "\"E0391\",\"Check device %s\"\n"
    "\"E0399\",\"Note: %s\"\n";

std::string hex(const void* p) {
  char s[32];
  std::snprintf(s, sizeof s, "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)));
  return s;
}

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
    Error_Details.name_text = TEST_INF.module_name;
    Error_Details.device_text = TEST_INF.device_name;
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
  // Output must contain `part`.
  void expect_out(const std::string& part) {
    EXPECT_NE(capture_.text().find(part), std::string::npos) << part << "\n" << capture_.text();
  }

  testsupport::TempDir dir_;
  testsupport::OutputCapture capture_;
};

TEST(ErrorTitleTest, Titles) {
  // Parameter numbers 17 to 32, then 51; every other number is generic.
  const char* const kParam[] = {
      "/SIZE Parameter #1", "/SIZE Parameter #2", "/SIZE Parameter #3", "/SIZE Parameter #4",
      "/SIZE Parameter #5", "/USE Parameter #1",  "/USE Parameter #2",  "/RUNTIME Parameter #1",
      "/TP Parameter #1",   "/TP Parameter #2",   "/DATA Parameter #1", "/DATA Parameter #2",
      "/SA Parameter #1",   "/SA Parameter #2",   "/SA Parameter #3",   "There's no PSE36."};
  for (uint32_t n = 0; n < 70; ++n) {
    std::string want = n == 51 ? "Getting Address is not appropriate(Bad Address Boundary)"
                       : n >= 17 && n <= 32
                           ? "Starting Parameter Error(" + std::string(kParam[n - 17]) + ")"
                           : "Parameter Error";
    EXPECT_EQ(param_error_title(n), want) << n;
  }
  EXPECT_STREQ(param_error_title(0xFFFFFFFFu), "Parameter Error");

  // Ref No. 1 to 16 (no 12) name the algorithm that found the mismatch.
  const struct {
    uint32_t first, last;
    const char* algo;
  } kRefs[] = {{1, 1, "MSCAN"},
               {2, 3, "MARCH"},
               {4, 11, "MASEST"},
               {13, 13, "BMOVE"},
               {14, 16, "Moving Inversion"}};
  for (uint32_t n = 0; n < 30; ++n) {
    char want[64] = "Data Compare Error(Ref No. XX)";
    for (const auto& r : kRefs) {
      if (n >= r.first && n <= r.last) {
        std::snprintf(
            want, sizeof want,
            n < 10 ? "%s Data Compare Error(Ref No. %u)" : "%s Data Compare Error(Ref No. 0x%X)",
            r.algo, n);
      }
    }
    EXPECT_STREQ(compare_error_title(n), want) << n;
  }
}

// Parameter (16) and system call (256) errors go out as abort lists.
TEST_F(ErrorDispTest, AbortLists) {
  const struct {
    uint32_t error_class, code;
    const char *function, *title, *action1, *action2, *detail;
  } kCases[] = {
      {kClassParam, 51, "", "Getting Address is not appropriate(Bad Address Boundary)",
       "Note: The Error Classification was Enything Else.", "Check device MEM",
       "   Note: The Error Classification was Enything Else.\n   Check device MEM\n"},
      {kClassSyscall, 0, "VirtualAlloc", "System Call Error", "Check device MEM", "",
       "    Function : VirtualAlloc\n    errno    : -1\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.title);
    TearDown();
    SetUp();
    Error_Details.error_class = c.error_class;
    Error_Details.error_code = c.code;
    std::snprintf(Error_Details.function_name, sizeof Error_Details.function_name, "%s",
                  c.function);
    EXPECT_EQ(VykTp2MemErrorDisp(&Error_Details), c.error_class);
    const ErrorRecord& r = TEST_INF.err;
    EXPECT_STREQ(r.etitle, c.title);
    EXPECT_STREQ(r.einfo_name, "memtest");
    EXPECT_STREQ(r.einfo_device, "MEM");
    EXPECT_STREQ(r.action_text[1], c.action1);
    EXPECT_STREQ(r.action_text[2], c.action2);
    EXPECT_EQ(Ex_error_list_level.load(), 0x80000000u);
    expect_out("\n0x06,0x02,0x00000000,");
    expect_out(std::string(" ABORT   : ") + c.title + "\n");
    expect_out(c.detail);
  }
  EXPECT_STREQ(TEST_INF.err.syscall_name, "VirtualAlloc");
  EXPECT_EQ(TEST_INF.err.syscall_errno, -1);
}

// Compare errors go out as error lists (flags 0x06); BMOVE shows five words
// of both buffers, the others two words at the failing address.
TEST_F(ErrorDispTest, CompareErrorGivesErrorList) {
  uint32_t exp[10], act[10];
  for (uint32_t i = 0; i < 10; ++i) {
    exp[i] = 0x11111111u * i;
    act[i] = 0x11111111u * i + 1;
  }
  const struct {
    uint32_t code, length;
    std::string title, line1, line2, line3, line4;
  } kCases[] = {
      {12, 8, "Data Compare Error(Ref No. XX)",
       "Logical Address=12345678 Physical Address=Not Retrieved",
       "Exp.Address (+" + hex(exp) + ") 00000000 11111111 00000000 00000000 00000000",
       "Act.Address (+8010) 00000001 11111112 00000000 00000000 00000000",
       "Local Read Buffer:+" + hex(act)},
      {13, 40, "BMOVE Data Compare Error(Ref No. 0xD)",
       "Logical Address=12345678 Physical Address=Not Retrieved",
       "Exp. Buffer(" + hex(exp) + ") 00000000 11111111 22222222 33333333 44444444",
       "Act. Buffer(" + hex(act) + ") 00000001 11111112 22222223 33333334 44444445",
       "Error Logical Address Offset: +8010"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.title);
    TearDown();
    SetUp();
    Error_Details.error_class = kClassCompare;
    Error_Details.error_code = c.code;
    Error_Details.device_text = "ADDRESS;0000000000000000";
    Error_Details.logical_address = 0x12345678;
    Error_Details.offset_ref = 0x8010;
    Error_Details.expected_data = exp;
    Error_Details.actual_data = act;
    Error_Details.compare_length = c.length;
    EXPECT_EQ(VykTp2MemErrorDisp(&Error_Details), kClassCompare);
    const ErrorRecord& r = TEST_INF.err;
    EXPECT_EQ(r.etitle, c.title);
    EXPECT_STREQ(r.einfo_device, "ADDRESS;0000000000000000");
    EXPECT_STREQ(r.freemsg_p[0], "");
    EXPECT_EQ(r.freemsg_p[1], c.line1);
    EXPECT_EQ(r.freemsg_p[2], c.line2);
    EXPECT_EQ(r.freemsg_p[3], c.line3);
    EXPECT_EQ(r.freemsg_p[4], c.line4);
    EXPECT_STREQ(r.action_text[1], "Replace memory of MEM");
    EXPECT_EQ(Ex_error_list_level.load(), 0u);
    expect_out("\n0x04,0x06,0x00000000,");
    expect_out(" ERROR   : " + c.title + "\n");
    expect_out(" " + c.line2 + "\n");
  }
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
