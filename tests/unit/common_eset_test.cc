#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "common_test_fixture.h"

namespace {

using commontest::CommonTest;
using testsupport::OutputCapture;

class EsetTest : public CommonTest {
 protected:
  void SetUp() override {
    CommonTest::SetUp();
    ASSERT_EQ(load_table("\"E0399\",\"%s\"\n"
                         "\"E0391\",\"Check %s and the test parameters, then run again.\"\n"
                         "\"E0356\",\"%s%lx) %08x\"\n"),
              0);
  }
  ErrorRecord& e() { return TEST_INF.err; }
};

TEST_F(EsetTest, SettersCutToWidthAndFlag) {
  const std::string t100(100, 't');
  eset_etitle(t100.c_str());
  EXPECT_EQ(std::string(e().etitle), t100.substr(0, 64));
  eset_etitle("short");
  EXPECT_STREQ(e().etitle, "short");  // cleared before the copy
  eset_test_infomation(t100.c_str(), "MEM");
  EXPECT_EQ(std::string(e().einfo_name) + "|" + e().einfo_device, t100.substr(0, 32) + "|MEM");
  eset_system_call(t100.c_str(), 12);
  EXPECT_EQ(std::string(e().syscall_name), t100.substr(0, 64));
  EXPECT_EQ(e().syscall_errno, 12);
  eset_date();
  EXPECT_TRUE(
      std::regex_match(e().edate, std::regex("20\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d")));
  EXPECT_EQ(e().eset_flags, kEsetTitle | kEsetInfo | kEsetSyscall | kEsetDate);
  // Free messages: 75 characters, indexes 0..9 only, no flag.
  for (auto set : {&eset_freemsg, &eset_freemsg_p}) {
    set(0, t100.c_str());
    set(9, t100.c_str());
    set(10, "OUTSIDE");
    set(-1, "OUTSIDE");
  }
  for (auto* lines : {e().freemsg, e().freemsg_p}) {
    EXPECT_EQ(std::string(lines[0]) + lines[9], t100.substr(0, 75) + t100.substr(0, 75));
    for (int i = 1; i < 9; ++i) EXPECT_EQ(lines[i][0], '\0');
  }
  const std::string bytes(reinterpret_cast<const char*>(&e()), sizeof(ErrorRecord));
  EXPECT_EQ(bytes.find("OUTSIDE"), std::string::npos);  // nothing written out of range
  EXPECT_EQ(e().eset_flags, kEsetTitle | kEsetInfo | kEsetSyscall | kEsetDate);
  eset_init();
  EXPECT_EQ(e().eset_flags, 0u);
  EXPECT_EQ(e().etitle[0] + e().edate[0] + e().freemsg[0][0], 0);
}

TEST_F(EsetTest, FreeMessagePrintfx) {
  use_logs();
  OutputCapture cap;
  EXPECT_EQ(eset_freemsg_printfx(1, 1, 0x100D, "\"-lv\" Parameter Error ( %s )", "9"), 0);
  EXPECT_STREQ(e().freemsg_p[1], "\"-lv\" Parameter Error ( 9 )");
  EXPECT_EQ(eset_freemsg_printfx(1, 2, 0x200D, "Exx56", "Exp. Buffer(", 0x1000ul, 0xabu), 0);
  EXPECT_STREQ(e().freemsg_p[2], "Exp. Buffer(1000) 000000ab");
  EXPECT_EQ(eset_freemsg_printfx(0, 3, 0x1000, "first %d", 3), 0);
  EXPECT_STREQ(e().freemsg[3], "first 3");
  // Unknown number, or a wrong kind: -1 and the line stays.
  EXPECT_EQ(eset_freemsg_printfx(1, 1, 0x200D, "Exx58", "a", 1u, "b"), -1);
  EXPECT_EQ(eset_freemsg_printfx(1, 1, 0x000D, "x"), -1);
  EXPECT_EQ(eset_freemsg_printfx(1, 1, 0x300D, "x"), -1);
  EXPECT_STREQ(e().freemsg_p[1], "\"-lv\" Parameter Error ( 9 )");
  // The flag word's other bits log nothing.
  EXPECT_EQ(cap.text(), "");
  EXPECT_EQ(trace_log(), "");
}

TEST_F(EsetTest, ActionLines) {
  eset_action(5, "Exx99", "x");
  eset_action(-1, "Exx99", "x");
  eset_action(1, nullptr);
  eset_action(1, "Exx98", "x");
  EXPECT_EQ(e().eset_flags, 0u);
  for (const auto& l : e().action_text) EXPECT_EQ(l[0], '\0');

  eset_action(1, "Exx99", "Starting Parameters ware Wrong.");
  EXPECT_STREQ(e().action_text[1], "Starting Parameters ware Wrong.");
  EXPECT_EQ(e().eset_flags, kEsetAction);
  eset_action(2, "Exx91", "MEM");
  EXPECT_STREQ(e().action_text[2], "Check MEM and the test parameters, then run again.");

  // Written over without clearing: the older tail stays.
  eset_action(1, "Exx99", "Short.");
  EXPECT_STREQ(e().action_text[1], "Short.ng Parameters ware Wrong.");
  // A long text keeps 75 characters and the line stays terminated.
  const std::string t100(100, 'a');
  eset_action(4, "Exx99", t100.c_str());
  EXPECT_EQ(std::string(e().action_text[4]), t100.substr(0, 75));
}

}  // namespace
