#include <gtest/gtest.h>

#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common_test_fixture.h"

namespace {

using commontest::CommonTest;
using commontest::parse_records;
using testsupport::OutputCapture;

class MsgTableTest : public CommonTest {};

// The conversions of a printf format, e.g. "%s()  %s%p" -> "s,s,p".
std::string conversions(const std::string& fmt) {
  static const std::regex kConv("%[-+ #0]*[0-9]*(?:\\.[0-9]+)?(hh|h|ll|l|z|j|t)?([diouxXcsp%])");
  std::string out;
  for (auto it = std::sregex_iterator(fmt.begin(), fmt.end(), kConv); it != std::sregex_iterator();
       ++it) {
    if ((*it)[2] != "%") out += (out.empty() ? "" : ",") + (*it)[1].str() + (*it)[2].str();
  }
  return out;
}

// Every message the module issues, with the argument types of its calls.
TEST_F(MsgTableTest, ShippedTablesMatchTheCalls) {
  // Message number = the conversions its calls pass, in order.
  std::istringstream needs(
      "Ixx07=s Ixx08=s Ixx09=s Ixx56=s,s Ixx57=s,s,p,s,x Ixx59=x,llx Ixx90=s Wxx57=s,s,x,x,s "
      "Exx55=s Exx56=s,lx,x,x,x,x,x Exx57=s,lx Exx58=s,x,s Exx59=s Exx90=s Exx91=s Exx99=s");
  std::vector<std::string> need{std::istream_iterator<std::string>(needs), {}};
  for (const char* file : {"onl_msge.txt", "pat_msge.txt"}) {
    SCOPED_TRACE(file);
    tp_area_ctl(kAreaFreeAll, 0);
    tp_area_ctl(kAreaCreate, 1024);
    std::snprintf(TEST_INF.data_path, sizeof TEST_INF.data_path, "%s",
                  testsupport::data_dir().c_str());
    ASSERT_EQ(get_msgtbl(file), 0);
    EXPECT_EQ(TEST_INF.msgtbl_count, need.size());
    for (const auto& n : need) {
      const char* text = cv_msgno2fmt(n.substr(0, 5).c_str());
      ASSERT_NE(text, nullptr) << n;
      EXPECT_EQ(conversions(text), n.substr(6)) << n << ": " << text;
    }
    // Action lines must fit the 75-character line with a 16-character device.
    for (const char* action : {"Exx90", "Exx91"}) {
      char line[200];
      std::snprintf(line, sizeof line, cv_msgno2fmt(action), "0123456789abcdef");
      EXPECT_LE(std::strlen(line), 75u) << line;
    }
  }
}

TEST_F(MsgTableTest, EntryLinesAndLookups) {
  use_logs();
  TEST_INF.debug_enabled = 1;  // loaded entries are traced
  ASSERT_EQ(load_table("# comment\n"
                       "\n"
                       "\"E0391\",\"Memory error %s\"\n"
                       "\"I0307\",\"quoted \"inner\" text\" trailing junk\r\n"
                       "\"W0357\",\"\"\n"
                       "\"E0392\",\"" +
                       std::string(81, 'L') +
                       "\"\n"
                       "\"E0393\"\n"
                       "\"E0394\",\"" +
                       std::string(80, 'k') + "\"\n"),
            0);
  EXPECT_EQ(TEST_INF.msgtbl_count, 4u);  // the 81-character text and the short line are skipped
  EXPECT_STREQ(TEST_INF.msgtbl[0].msgno, "E0391");
  EXPECT_NE(debug_log().find(",00000,E0391 Memory error %s\n"), std::string::npos) << debug_log();
  struct Case {
    const char* msgno;
    const char* text;  // nullptr: not found
  };
  const std::string k80(80, 'k');
  const Case cases[] = {
      {"Exx91", "Memory error %s"},
      {"e9991", "Memory error %s"},
      {"E0391", "Memory error %s"},
      {"ixx07", "quoted \"inner\" text"},
      {"Wxx57", ""},
      {"Exx94", k80.c_str()},
      {"Exx92", nullptr},
      {"Exx93", nullptr},
      {"Ixx91", nullptr},
      {"Exx9", nullptr},
      {"Exx910", nullptr},
  };
  for (const auto& c : cases) {
    const char* got = cv_msgno2fmt(c.msgno);
    if (c.text == nullptr) {
      EXPECT_EQ(got, nullptr) << c.msgno;
    } else {
      ASSERT_NE(got, nullptr) << c.msgno;
      EXPECT_STREQ(got, c.text) << c.msgno;
    }
  }
}

std::string lines_of(int n, const std::string& first) {
  std::string s = first;
  for (int i = 1; i < n; ++i) s += "# filler\n";
  return s;
}

TEST_F(MsgTableTest, LoadLimitsAndFailures) {
  use_logs();
  struct Case {
    const char* name;
    std::string text;
    int rc;
    const char* trace;
  };
  const std::vector<Case> cases = {
      {"9999 lines", lines_of(9999, "\"E0391\",\"x\"\n"), 0, nullptr},
      {"10000 lines", lines_of(10000, "\"E0391\",\"x\"\n"), -1,
       "get_msgtbl()  i=10000 or line 0 error\n"},
      {"no entry line", "# only\n# comments\n", -1, "get_msgtbl()  i=10000 or line 0 error\n"},
      {"empty file", "", -1, "get_msgtbl()  i=10000 or line 0 error\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tp_area_ctl(kAreaFreeAll, 0);
    std::remove(dir_.file("memot_log.0").c_str());
    OutputCapture cap;
    EXPECT_EQ(load_table(c.text), c.rc);
    if (c.trace == nullptr) continue;
    EXPECT_NE(trace_log().find(std::string(",00000,") + c.trace), std::string::npos) << trace_log();
    bool sent = false;
    for (const auto& r : parse_records(cap.text())) {
      sent |=
          r.type == 1 && r.body.find(",get_msgtbl()  i=10000 or line 0 error") != std::string::npos;
    }
    EXPECT_TRUE(sent);
  }

  // Missing file.
  OutputCapture cap;
  std::snprintf(TEST_INF.data_path, sizeof TEST_INF.data_path, "%s", dir_.path().c_str());
  EXPECT_EQ(get_msgtbl("nosuch.txt"), -1);
  EXPECT_NE(trace_log().find("get_msgtbl()  fopen error" + dir_.file("nosuch.txt") +
                             ", No such file or directory \n"),
            std::string::npos)
      << trace_log();

  // No allocator table: no memory for the entries.
  tp_area_ctl(kAreaFreeAll, 0);
  testsupport::write_file(dir_.file("t.txt"), "\"E0391\",\"x\"\n");
  EXPECT_EQ(get_msgtbl("t.txt"), -1);
  EXPECT_NE(trace_log().find("get_msgtbl()  MEM_GET error\n"), std::string::npos);
}

TEST_F(MsgTableTest, AreaAllocator) {
  EXPECT_EQ(tp_area_ctl(kAreaAlloc, 8), -1);  // no table
  EXPECT_EQ(tp_area_ctl(kAreaFreeAll, 0), -1);
  ASSERT_EQ(tp_area_ctl(kAreaCreate, 2), 0);
  EXPECT_EQ(tp_area_ctl(kAreaCreate, 2), -1);
  const intptr_t a = tp_area_ctl(kAreaAlloc, 16);
  EXPECT_GT(a, 0);
  EXPECT_GT(tp_area_ctl(kAreaAlloc, 16), 0);
  EXPECT_EQ(tp_area_ctl(kAreaAlloc, 16), -1);  // all slots used
  int never = 0;
  EXPECT_EQ(tp_area_ctl(kAreaFree, reinterpret_cast<uintptr_t>(&never)), -1);
  EXPECT_EQ(tp_area_ctl(kAreaFree, 0), -1);
  EXPECT_EQ(tp_area_ctl(kAreaFree, static_cast<uintptr_t>(a)), 0);
  EXPECT_EQ(tp_area_ctl(kAreaFree, static_cast<uintptr_t>(a)), -1);
  EXPECT_GT(tp_area_ctl(kAreaAlloc, 16), 0);  // reuses the freed slot
  EXPECT_EQ(tp_area_ctl(5, 0), -1);
  EXPECT_EQ(tp_area_ctl(0, 0), -1);
  EXPECT_EQ(tp_area_ctl(kAreaFreeAll, 0), 0);
  EXPECT_EQ(TEST_INF.area_table, nullptr);
  // Freeing everything also forgets the message table.
  ASSERT_EQ(load_table("\"E0391\",\"x\"\n"), 0);
  tp_area_ctl(kAreaFreeAll, 0);
  EXPECT_EQ(cv_msgno2fmt("Exx91"), nullptr);
  EXPECT_EQ(printfx(0x2001, "Exx91"), -1);
}

}  // namespace
