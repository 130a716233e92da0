#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/result_list.h"
#include "common_test_fixture.h"

namespace {

using commontest::CommonTest;
using commontest::parse_records;
using commontest::Record;
using testsupport::OutputCapture;

class TransmitTest : public CommonTest {};

TEST_F(TransmitTest, ExactRecords) {
  OutputCapture cap;
  transmit_process(1);
  EXPECT_EQ(cap.text(),
            "ONLPTL,0x00000038,0x06,0x01,memtest         ,MEM             ,\n0x00000001\n");
  cap.clear();
  transmit_progress(0, 0, 0, 1, "I0399:<<Start processing Pass=0>>");
  EXPECT_EQ(cap.text(),
            "ONLPTL,0x0000006f,0x03,0x01,memtest         ,MEM             ,\n"
            "0x00000000,0x00000000,0x00,0x01,I0399:<<Start processing Pass=0>>\n");
  cap.clear();
  transmit_progress(70, 0x12345678, 0x164, 1, "x");
  EXPECT_EQ(parse_records(cap.text()).at(0).body, "0x00000046,0x12345678,0x164,0x01,x\n");
  EXPECT_EQ(TEST_INF.last_elapsed.load(), 70u);
  EXPECT_EQ(TEST_INF.last_remaining.load(), 0x12345678u);
  EXPECT_EQ(TEST_INF.last_percent.load(), 0x164u);
  // Empty names are refused; long ones are cut to the 16-character field.
  EXPECT_EQ(transmit_setup("", "MEM") + transmit_setup("memtest", ""), -2);
  EXPECT_STREQ(TEST_INF.module_name, "memtest");
  EXPECT_EQ(transmit_setup("abcdefghijklmnopq", "D"), 0);
  cap.clear();
  transmit_process(2);
  EXPECT_EQ(cap.text(),
            "ONLPTL,0x00000038,0x06,0x01,abcdefghijklmnop,D               ,\n0x00000002\n");
}

TEST_F(TransmitTest, StatusFourWithoutText) {
  TEST_INF.last_elapsed = 5;
  TEST_INF.last_remaining = 6;
  TEST_INF.last_percent = 7;
  OutputCapture cap;
  transmit_status(4, 0, 0, nullptr);
  const std::string out = cap.text();
  const auto recs = parse_records(out);
  ASSERT_EQ(recs.size(), 2u);
  // The progress record repeats the last numbers with the final state.
  EXPECT_EQ(recs[0].type, 3u);
  EXPECT_EQ(recs[0].body, "0x00000005,0x00000006,0x07,0x05,I0399:<<memtest Error Ended>>\n");
  EXPECT_EQ(recs[1].raw,
            "ONLPTL,0x00000044,0x02,0x01,memtest         ,MEM             ,\n"
            "0x04,0x00,0x00000000, \n");
}

// Each status is preceded by a progress record with its final state (none for
// an unknown status); the line count follows the text's newlines.
TEST_F(TransmitTest, StatusRecordsAndLineCounts) {
  struct Case {
    uint32_t status;
    const char* progress;  // final progress text and state; nullptr: none
    const char* text;
    uint32_t lines;
  };
  const Case cases[] = {
      {1, "No Error>>\n0x02", "one", 1},     {2, "Canceled>>\n0x03", "a\nb", 2},
      {3, "Completed>>\n0x04", "a\nb\n", 3}, {4, "Error Ended>>\n0x05", "\n\n\n", 4},
      {6, "Aborted>>\n0x05", "", 1},         {5, nullptr, "x", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    OutputCapture cap;
    transmit_status(c.status, 2, 0xabc, c.text);
    const auto recs = parse_records(cap.text());
    ASSERT_EQ(recs.size(), c.progress ? 2u : 1u);
    if (c.progress) {
      const std::string p = c.progress;
      const size_t nl = p.find('\n');
      EXPECT_EQ(recs[0].body, "0x00000000,0x00000000,0x00," + p.substr(nl + 1) +
                                  ",I0399:<<memtest " + p.substr(0, nl) + "\n");
    }
    char head[32];
    std::snprintf(head, sizeof head, "0x%02x,0x02,0x00000abc,", c.status);
    EXPECT_EQ(recs.back().type, 2u);
    EXPECT_EQ(recs.back().lines, c.lines);
    EXPECT_EQ(recs.back().body, head + std::string(c.text) + "\n");
  }
}

// The result block with the variable end date replaced.
std::string block_with_end(const std::string& body, std::string* end) {
  static const std::regex kEnd("End  :(20\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d)\n");
  std::smatch m;
  if (!std::regex_search(body, m, kEnd)) return body;
  *end = m[1];
  return std::regex_replace(body, kEnd, "End  :<END>\n");
}

std::string result_block(const char* title, const char* time, const char* result,
                         const char* pmem) {
  const std::string dash(61, '-');
  return std::string(title) + "Start:2013/02/07 15:45:12\n" + std::string(50, ' ') +
         "End  :<END>\n\nPROGRAM : memtest ( VER. 8.0.0-130207154512 )\nTITLE   : Memory "
         "Test\nDEVICE  : MEM\nOPTION  : LEVEL 1\n          TIME  " +
         time + "\nRESULT  : " + result + " ( PASS:  3 )\n\n" + dash + "\n" + pmem + dash + "\n" +
         std::string(78, '=') + "\n\n";
}

TEST_F(TransmitTest, StatusResultBlock) {
  TEST_INF.test_level = 1;
  TEST_INF.pass_count = 3;
  OutputCapture cap;
  transmit_status(1, 1, 0x40, nullptr);
  auto recs = parse_records(cap.text());
  ASSERT_EQ(recs.size(), 2u);
  std::string end;
  EXPECT_EQ(recs[1].lines, 14u);
  EXPECT_EQ(
      block_with_end(recs[1].body, &end),
      "0x01,0x03,0x00000040," + result_block("[[[[ DIAGNOSIS RESULT ]]]]                        ",
                                             "1 [ROUND]", "OK", ""));
  EXPECT_FALSE(end.empty());

  // With the physical memory read, and in patrol mode (no progress record).
  Ex_pmem_FIND = 1;
  Ex_dwlDebug_MSize = 0x123456789aull;
  TEST_INF.test_mode = kModePatrol;
  TEST_INF.runtime = 120;
  cap.clear();
  transmit_status(3, 0, 0, nullptr);
  recs = parse_records(cap.text());
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].lines, 15u);
  EXPECT_EQ(block_with_end(recs[0].body, &end),
            "0x03,0x02,0x00000000," +
                result_block("[[[[ PATROL DIAGNOSIS RESULT ]]]]                 ", "2 [MINUTE]",
                             "COMPLETED", " PMEM Total Execution Bytes : 0x123456789a\n"));
}

TEST_F(TransmitTest, StatusWritesTraceLog) {
  use_logs();
  OutputCapture cap;
  transmit_status(4, 0, 0, "line one\nline two\n");
  const std::string log = trace_log();
  static const std::regex kEntry(
      "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{3}\\.\\d{3},RESULT\n,line one\nline two\n");
  EXPECT_TRUE(std::regex_match(log, kEntry)) << log;
}

TEST_F(TransmitTest, LogRecordFiltersText) {
  OutputCapture cap;
  transmit_log(1, "E3391", "13/02/07 15:45:12 123.456",
               "a\tb\nc\x80"
               "d\xff"
               "e\x1f~");
  transmit_log(2, "I1", "dt", std::string(300, 'x').c_str());
  const auto recs = parse_records(cap.text());
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].raw,
            "ONLPTL,0x00000059,0x01,0x01,memtest         ,MEM             ,\n"
            "0x01,E3391,13/02/07 15:45:12 123.456,abcde~\n");
  EXPECT_EQ(recs[1].body, "0x02,I1   ,dt," + std::string(256, 'x') + "\n");
}

TEST_F(TransmitTest, PatrolModeSendsNoProgress) {
  TEST_INF.test_mode = kModePatrol;
  OutputCapture cap;
  transmit_progress(1, 2, 3, 1, "I0399:<<Start processing Pass=0>>");
  EXPECT_EQ(cap.text(), "");
  EXPECT_EQ(TEST_INF.last_elapsed.load(), 0u);
  transmit_status(4, 0, 0, nullptr);
  transmit_log(1, "I0807", "dt", "x");
  transmit_process(1);
  std::string types;
  for (const auto& r : parse_records(cap.text())) types += std::to_string(r.type);
  EXPECT_EQ(types, "216");  // status, log, process: no progress record
}

void stderr_writer(const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = write(STDERR_FILENO, data, len);
    if (n <= 0) return;
    data += n;
    len -= static_cast<size_t>(n);
  }
}

TEST_F(TransmitTest, VersionRecordEndsProgram) {
  // The "fast" style forks without re-running the program, which also works
  // under a user-mode emulator; no other thread runs at this point.
  GTEST_FLAG_SET(death_test_style, "fast");
  char a0[] = "memtest", a1[] = "-lv", a2[] = "1", a3[] = "-VL";
  char* argv[] = {a0, a1, a2, a3, nullptr};
  EXPECT_EXIT(
      {
        set_output_writer(&stderr_writer);
        transmit_module_vl(4, argv);
      },
      ::testing::ExitedWithCode(0),
      "^ONLPTL,0x00000042,0x05,0x01,memtest         ,MEM             ,\n"
      "8\\.0\\.0-130207154512  \n$");
  OutputCapture cap;
  transmit_module_vl(3, argv);  // no "-vl" among the first three
  EXPECT_EQ(cap.text(), "");
}

// Records from two threads through the real standard output path stay whole.
TEST_F(TransmitTest, ConcurrentRecordsStayWhole) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  ASSERT_GE(dup2(fds[1], STDOUT_FILENO), 0);
  close(fds[1]);

  std::string got;
  std::thread reader([&] {
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  });
  const std::string big(3000, 'z');
  std::thread a([] {
    for (int i = 0; i < 300; ++i) transmit_progress(i, 0, 1, 1, "I0399:<<MSCAN1 w/r Pass=1>>");
  });
  std::thread b([&] {
    for (int i = 0; i < 300; ++i) transmit_status(6, 2, 0, big.c_str());
  });
  a.join();
  b.join();
  dup2(saved, STDOUT_FILENO);  // closes the last write end of the pipe
  close(saved);
  reader.join();
  close(fds[0]);

  const auto recs = parse_records(got);
  EXPECT_EQ(recs.size(), 900u);
}

}  // namespace
