#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/result_list.h"
#include "common_test_fixture.h"

namespace {

using commontest::CommonTest;
using commontest::parse_records;
using commontest::Record;
using testsupport::OutputCapture;

const std::string kDash61(61, '-');
const std::string kDash73(73, '-');
const std::string kEq78(78, '=');
const std::string kTitle = "[[[[ DIAGNOSIS RESULT ]]]]       ";
const std::string kPatrolTitle = "[[[[ PATROL DIAGNOSIS RESULT ]]]]";
const std::string kPad50(50, ' ');

const std::string kAction =
    " ACTION  :\n   Replace it.\n   Check MEM and the test parameters, then run again.\n";
const std::string kSyscall = "system call error\n    Function : VirtualAlloc\n    errno    : 12";

// The list lines shared by every layout, down to the RESULT line.
std::string head(const std::string& title, const char* when, const char* name, const char* dev,
                 const char* result) {
  return title + "                 Start:2013/02/07 15:45:12\n" + kPad50 + when +
         ":2013/02/07 15:46:00\n PROGRAM : memtest ( VER. 8.0.0-130207154512 )\n TITLE   : " +
         name + "\n DEVICE  : " + dev + "\n OPTION  : LEVEL 2\n           TIME  1 [ROUND]\n" +
         " RESULT  : " + result + " ( PASS: 12 )\n";
}

class ResultListTest : public CommonTest {
 protected:
  void SetUp() override {
    CommonTest::SetUp();
    ASSERT_EQ(load_table("\"E0399\",\"%s\"\n"
                         "\"E0391\",\"Check %s and the test parameters, then run again.\"\n"),
              0);
    TEST_INF.test_level = 2;
    TEST_INF.pass_count = 12;
  }
  // A fixed error date, so that lists compare byte for byte.
  static void fixed_date() {
    std::snprintf(TEST_INF.err.edate, sizeof TEST_INF.err.edate, "2013/02/07 15:46:00");
    TEST_INF.err.eset_flags |= kEsetDate;
  }
  static void fill_everything() {
    eset_init();
    eset_test_infomation("MSCAN", "MEM-DIMM");
    fixed_date();
    eset_etitle("Data Compare Error");
    eset_action(1, "Exx99", "Replace it.");
    eset_action(2, "Exx91", "MEM");
    eset_freemsg(0, "first zero");
    eset_freemsg(4, "first four");
    eset_freemsg_p(1, "second one");
    eset_freemsg_p(9, "second nine");
    eset_system_call("VirtualAlloc", 12);
  }
  // Status records in the captured output.
  static std::vector<Record> statuses(const std::vector<Record>& recs) {
    std::vector<Record> out;
    for (const auto& r : recs) {
      if (r.type == kRecStatus) out.push_back(r);
    }
    return out;
  }
};

TEST_F(ResultListTest, ErrorListMinimal) {
  eset_init();
  eset_test_infomation("MSCAN", "MEM");
  fixed_date();
  eset_etitle("Data Compare Error");
  OutputCapture cap;
  EXPECT_EQ(put_error_list(1), 0);
  const auto recs = parse_records(cap.text());
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].body, "0x00000000,0x00000000,0x00,0x05,I0399:<<memtest Error Ended>>\n");
  const std::string list = head(kTitle, "Error", "MSCAN", "MEM", "NG") +
                           " ERROR   : Data Compare Error\n"
                           " \n"
                           " \n" +
                           kDash61 + "\n \n" + kDash61 + "\n" + kEq78 + "\n";
  EXPECT_EQ(recs[1].body, "0x04,0x06,0x00000000," + list + "\n");
  EXPECT_EQ(recs[1].lines, 16u);
}

TEST_F(ResultListTest, ErrorListEverything) {
  fill_everything();
  OutputCapture cap;
  EXPECT_EQ(put_error_list(0), 0);
  const auto st = statuses(parse_records(cap.text()));
  ASSERT_EQ(st.size(), 1u);
  const std::string list = head(kTitle, "Error", "MSCAN", "MEM-DIMM", "NG") +
                           " ERROR   : Data Compare Error\n"
                           " \n" +
                           kAction + " \n" + kDash61 +
                           "\n"
                           " first zero\n first four\n"
                           " \n"
                           " second one\n second nine\n" +
                           kSyscall + " ( Cannot allocate memory )\n" + kDash61 + "\n" + kEq78 +
                           "\n";
  EXPECT_EQ(st[0].body, "0x04,0x02,0x00000000," + list + "\n");
}

TEST_F(ResultListTest, ErrorListDefaultsAndDate) {
  eset_init();
  TEST_INF.pass_count = 0;
  TEST_INF.runtime = 0;
  OutputCapture cap;
  EXPECT_EQ(put_error_list(2), 0);                     // bit 0 clear: no 0x4
  EXPECT_NE(TEST_INF.err.eset_flags & kEsetDate, 0u);  // dated by the writer
  const auto st = statuses(parse_records(cap.text()));
  ASSERT_EQ(st.size(), 1u);
  const std::string& b = st[0].body;
  EXPECT_EQ(b.substr(0, 21), "0x04,0x02,0x00000000,");
  EXPECT_NE(b.find(kPad50 + "Error:" + TEST_INF.err.edate + "\n"), std::string::npos);
  EXPECT_NE(b.find(" TITLE   : memtest\n DEVICE  : MEM\n"), std::string::npos) << b;
  EXPECT_NE(b.find("           TIME  ENDLESS\n RESULT  : NG ( PASS:  0 )\n \n \n"),
            std::string::npos)
      << b;
  EXPECT_EQ(b.find("ERROR"), std::string::npos);
  EXPECT_EQ(b.find("ACTION"), std::string::npos);
  EXPECT_EQ(b.find("system call"), std::string::npos);
}

TEST_F(ResultListTest, ErrorListPatrolMode) {
  fill_everything();
  TEST_INF.test_mode = kModePatrol;
  OutputCapture cap;
  EXPECT_EQ(put_error_list(1), 0);
  const auto recs = parse_records(cap.text());
  ASSERT_EQ(recs.size(), 5u);
  const char* texts[] = {
      (",[[[[ PATROL DIAGNOSIS RESULT ]]]] Start:2013/02/07 15:45:12, "
       "Error:2013/02/07 15:46:00\n"),
      ", PROGRAM : memtest ( VER. 8.0.0-130207154512 )\n",
      ", DEVICE  : MEM-DIMM\n",
      ", ERROR   : Data Compare Error\n",
  };
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(recs[i].type, kRecLog);
    EXPECT_EQ(recs[i].body.substr(0, 5), "0x02,");
    EXPECT_TRUE(recs[i].body.ends_with(texts[i])) << recs[i].body;
  }
  EXPECT_EQ(recs[4].type, kRecStatus);
  EXPECT_EQ(recs[4].body.substr(0, 21 + kPatrolTitle.size()),
            "0x04,0x06,0x00000000," + kPatrolTitle);

  // Same status record as in online mode, apart from the title.
  std::string patrol = recs[4].body;
  TEST_INF.test_mode = kModeOnline;
  cap.clear();
  put_error_list(1);
  const auto st = statuses(parse_records(cap.text()));
  ASSERT_EQ(st.size(), 1u);
  patrol.replace(21, kPatrolTitle.size(), kTitle);
  EXPECT_EQ(st[0].body, patrol);
}

TEST_F(ResultListTest, AbortListEverything) {
  fill_everything();
  OutputCapture cap;
  EXPECT_EQ(put_skip_abort_list(kAbortListKind), 0);
  const auto recs = parse_records(cap.text());
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].body, "0x00000000,0x00000000,0x00,0x05,I0399:<<memtest Aborted>>\n");
  const std::string list = head(kTitle, "Abort", "MSCAN", "MEM-DIMM", "ABORT") +
                           " ABORT   : Data Compare Error\n" + kAction +
                           " \n"
                           " first zero\n first four\n" +
                           kDash73 +
                           "\n"
                           " \n"
                           " second one\n second nine\n" +
                           kSyscall + "\n" + kDash73 + "\n" + kEq78 + "\n";
  EXPECT_EQ(recs[1].body, "0x06,0x02,0x00000000," + list + "\n");
}

TEST_F(ResultListTest, AbortListMinimalPatrol) {
  eset_init();
  fixed_date();
  TEST_INF.test_mode = kModePatrol;
  OutputCapture cap;
  EXPECT_EQ(put_skip_abort_list(kAbortListKind), 0);
  const auto recs = parse_records(cap.text());
  ASSERT_EQ(recs.size(), 1u);  // no log records, no progress record
  const std::string list = head(kPatrolTitle, "Abort", "memtest", "MEM", "ABORT") + " \n" +
                           kDash73 + "\n \n" + kDash73 + "\n" + kEq78 + "\n";
  EXPECT_EQ(recs[0].body, "0x06,0x02,0x00000000," + list + "\n");
}

TEST_F(ResultListTest, ListBufferIsGivenBack) {
  fill_everything();
  OutputCapture cap;
  for (int i = 0; i < 3000; ++i) {  // more lists than allocator slots
    ASSERT_EQ(put_error_list(1), 0);
    ASSERT_EQ(put_skip_abort_list(kAbortListKind), 0);
  }
  tp_area_ctl(kAreaFreeAll, 0);
  cap.clear();
  EXPECT_EQ(put_error_list(1), -1);  // no allocator: nothing is sent
  EXPECT_EQ(put_skip_abort_list(kAbortListKind), -1);
  EXPECT_EQ(cap.text(), "");
}

TEST_F(ResultListTest, LongTitleIsNotCut) {
  fill_everything();
  const std::string t64(64, 'T');
  eset_etitle(t64.c_str());
  OutputCapture cap;
  put_error_list(1);
  EXPECT_NE(cap.text().find(" ERROR   : " + t64 + "\n"), std::string::npos);
}

TEST_F(ResultListTest, HeaderTexts) {
  struct Case {
    int kind;
    uint32_t status;
    uint32_t runtime;
    const char* module;
    const char* text;
  };
  const Case cases[] = {
      {1, 1, 0, "memtest", "OK ( PASS: 12 )"},
      {1, 2, 0, "memtest", "CANCEL ( PASS: 12 )"},
      {1, 3, 0, "memtest", "COMPLETED ( PASS: 12 )"},
      {1, 4, 0, "memtest", "NG ( PASS: 12 )"},
      {1, 6, 0, "memtest", "ABORT ( PASS: 12 )"},
      {1, 5, 0, "memtest", ""},
      {2, 0, 3599, "memtest", "59 [MINUTE]"},
      {2, 0, 60, "memtest", "1 [MINUTE]"},
      {2, 0, 59, "memtest", "0 [MINUTE]"},
      {2, 0, 0, "memtest", "ENDLESS"},
      {2, 0, 0x70000000, "memtest", "1 [ROUND]"},
      {3, 0, 0, "memtest", "memtest ( VER. 8.0.0-130207154512 )"},
      {4, 0, 0, "Memtest2", "Memory Test"},
      {4, 0, 0, "disk", ""},
      {4, 0, 0, "CPUtest", "CPU Test"},
      {4, 0, 0, "hddtest", "HDD Test"},
      {4, 0, 0, "TAPEtest", "Tape Test"},
      {4, 0, 0, "me", ""},
      {0, 1, 0, "memtest", ""},
      {5, 1, 0, "memtest", ""},
  };
  char buf[64];
  for (const auto& c : cases) {
    transmit_setup(c.module, "MEM");
    TEST_INF.runtime = c.runtime;
    std::memset(buf, 'Q', sizeof buf);
    EXPECT_EQ(create_msg_header(c.kind, buf, sizeof buf, c.status), buf);
    EXPECT_STREQ(buf, c.text) << c.kind << " " << c.module;
    EXPECT_EQ(buf[sizeof buf - 1], '\0');
  }
  transmit_setup("memtest", "MEM");
  TEST_INF.runtime = 0x70000000;
  use_logs();  // each header text is also traced in the debug log
  TEST_INF.debug_enabled = 1;
  create_msg_header(2, buf, sizeof buf, 0);
  EXPECT_NE(debug_log().find(",00000,strings : 1 [ROUND]\n"), std::string::npos) << debug_log();
  char small[8];
  create_msg_header(3, small, sizeof small, 0);
  EXPECT_STREQ(small, "memtest");
}

}  // namespace
