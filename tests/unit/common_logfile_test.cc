#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common_test_fixture.h"

namespace {

using commontest::CommonTest;
using commontest::parse_records;
using commontest::Record;
using testsupport::OutputCapture;
using testsupport::read_file;

class LogTest : public CommonTest {
 protected:
  void SetUp() override {
    CommonTest::SetUp();
    use_logs();
  }
  bool exists(const std::string& name) const { return get_file_size(dir_.file(name).c_str()) >= 0; }
  void fresh() const {  // a new run of each log family
    std::remove(dir_.file("memot_log.0").c_str());
    std::remove(dir_.file("memod_log.0").c_str());
  }
};

const char kTable[] =
    "# test table\n"
    "\"I0307\",\"%s Started\"\n"
    "\"E0391\",\"Check %s\"\n"
    "\"W0357\",\"%s()  warn\"\n"
    "\"E0355\",\"%s\"\n";

const std::regex kStamp("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{3}\\.\\d{3}");

// Log records in the output.
std::vector<Record> log_records(const std::string& out) {
  std::vector<Record> recs;
  for (const Record& r : parse_records(out)) {
    if (r.type == kRecLog) recs.push_back(r);
  }
  return recs;
}

// Process codes of the process records in the output.
std::vector<uint32_t> process_codes(const std::string& out) {
  std::vector<uint32_t> codes;
  for (const Record& r : parse_records(out)) {
    if (r.type != kRecProcess) continue;
    unsigned code = 0;
    std::sscanf(r.body.c_str(), "0x%8x", &code);
    codes.push_back(code);
  }
  return codes;
}

TEST_F(LogTest, StampBoundedPrintAndFileSize) {
  char buf[30];
  EXPECT_EQ(create_date_times(buf, sizeof buf), 25);
  EXPECT_TRUE(std::regex_match(buf, kStamp)) << buf;
  create_date_times(buf, 9);
  EXPECT_EQ(std::strlen(buf), 8u);
  std::memset(buf, 'Q', sizeof buf);
  EXPECT_EQ(snprintfx(buf, 8, "%s", "abcdefghij"), buf);
  EXPECT_STREQ(buf, "abcdef");  // at most size - 2 characters
  snprintfx(buf, 8, "%d", 42);
  EXPECT_EQ(std::string(buf, 8), std::string("42\0\0\0\0\0\0", 8));  // the rest is cleared
  EXPECT_EQ(get_file_size(dir_.file("none").c_str()), -1);
  testsupport::write_file(dir_.file("f"), std::string(1234, 'x'));
  EXPECT_EQ(get_file_size(dir_.file("f").c_str()), 1234);
}

TEST_F(LogTest, PrintfxDestinations) {
  struct Case {
    uint32_t flags;
    bool debug;
    int rc;
    bool trace;
    bool dlog;
    std::vector<uint32_t> kinds;  // log record kinds sent
  };
  const std::vector<Case> cases = {
      {0x100C, false, 0, true, false, {}},   {0x100C, true, 0, true, true, {}},
      {0x1008, false, 0, false, false, {}},  {0x1008, true, 0, false, true, {}},
      {0x100D, true, 0, true, true, {1}},    {0x1003, false, 0, false, false, {1, 2}},
      {0x1002, false, 0, false, false, {2}}, {0x0004, false, -1, false, false, {}},  // no kind
      {0x3004, false, -1, false, false, {}},                                         // both kinds
      {0x1000, false, 0, false, false, {}},  // nothing to do
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    fresh();
    TEST_INF.debug_enabled = c.debug ? 1 : 0;
    OutputCapture cap;
    EXPECT_EQ(printfx(c.flags, "main()  value=%d\n", 7), c.rc);
    EXPECT_EQ(exists("memot_log.0"), c.trace);
    EXPECT_EQ(exists("memod_log.0"), c.dlog);
    std::vector<uint32_t> kinds;
    for (const auto& r : log_records(cap.text())) {
      unsigned k = 0;
      std::sscanf(r.body.c_str(), "0x%2x", &k);
      kinds.push_back(k);
      EXPECT_NE(r.body.find(",00000,"), std::string::npos) << r.body;
      EXPECT_TRUE(r.body.ends_with(",main()  value=7\n")) << r.body;
    }
    EXPECT_EQ(kinds, c.kinds);
  }
  // The trace entry: stamp, "00000", text with its own newline.
  OutputCapture cap;
  fresh();
  printfx(0x1004, "main()  memtest_exec() return=%d\n", 1);
  const std::string entry = trace_log();
  static const std::regex kEntry(
      "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{3}\\.\\d{3},00000,main\\(\\)  "
      "memtest_exec\\(\\) return=1\n");
  EXPECT_TRUE(std::regex_match(entry, kEntry)) << entry;
  // Without log bases nothing is written, not even a rotation.
  TEST_INF.trace_log_base[0] = TEST_INF.debug_log_base[0] = '\0';
  TEST_INF.debug_enabled = 1;
  cap.clear();
  EXPECT_EQ(printfx(0x100C, "x\n"), 0);
  EXPECT_EQ(cap.text(), "");
}

TEST_F(LogTest, PrintfxMessageNumbers) {
  ASSERT_EQ(load_table(kTable), 0);
  struct Case {
    uint32_t mode;
    const char* msgno;
    const char* issued;
    const char* text;
  };
  const Case cases[] = {
      {kModeOnline, "Ixx07", "I0307", "Memory Test Started\n"},
      {kModePatrol, "Ixx07", "I0807", "Memory Test Started\n"},
      {kModeOnline, "Exx91", "E3391", "Check Memory Test\n"},
      {kModePatrol, "exx91", "e3891", "Check Memory Test\n"},
      {kModeOnline, "Wxx57", "W2357", "Memory Test()  warn\n"},
      {kModePatrol, "W9957", "W2857", "Memory Test()  warn\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.msgno);
    fresh();
    TEST_INF.test_mode = c.mode;
    OutputCapture cap;
    EXPECT_EQ(printfx(0x200D, c.msgno, "Memory Test"), 0);
    EXPECT_NE(trace_log().find(std::string(",") + c.issued + "," + c.text), std::string::npos)
        << trace_log();
    const auto recs = log_records(cap.text());
    ASSERT_EQ(recs.size(), 1u);
    const std::string text(c.text, std::strlen(c.text) - 1);  // the record drops the newline
    EXPECT_EQ(recs[0].body.substr(0, 11), std::string("0x01,") + c.issued + ",");
    EXPECT_TRUE(recs[0].body.ends_with("," + text + "\n")) << recs[0].body;
  }
  OutputCapture cap;
  EXPECT_EQ(printfx(0x200D, "Ixx99", "x"), -1);  // unknown number
  EXPECT_EQ(cap.text(), "");
}

TEST_F(LogTest, PrintfxDropsLongTexts) {
  ASSERT_EQ(load_table(kTable), 0);
  TEST_INF.debug_enabled = 1;
  struct Case {
    uint32_t flags;
    const char* fmt;
    size_t len;
    int rc;
  };
  const Case cases[] = {
      {0x100F, "%s", 112, 0},
      {0x100F, "%s", 113, -1},
      {0x100F, "%s", 600, -1},
      // The limit applies before the newline of a message number.
      {0x200F, "Exx55", 112, 0},
      {0x200F, "Exx55", 113, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.len);
    fresh();
    OutputCapture cap;
    const std::string text(c.len, 'a');
    EXPECT_EQ(printfx(c.flags, c.fmt, text.c_str()), c.rc);
    EXPECT_EQ(exists("memot_log.0"), c.rc == 0);
    EXPECT_EQ(exists("memod_log.0"), c.rc == 0);
    EXPECT_EQ(log_records(cap.text()).size(), c.rc == 0 ? 2u : 0u);
    EXPECT_EQ(c.rc == 0, !cap.text().empty());
  }
}

TEST_F(LogTest, RotationByGenerations) {
  TEST_INF.log_size_limit = 100;
  TEST_INF.log_generations = 4;
  const std::string base = TEST_INF.trace_log_base;
  OutputCapture cap;
  // Each entry "D,00000,entry NN\n" is 17 bytes: five fit in 100 bytes.
  auto entry = [](int i) {
    char t[16];
    std::snprintf(t, sizeof t, "entry %02d\n", i);
    return std::string(t);
  };
  for (int i = 0; i < 5; ++i) output_logfile(base.c_str(), "D", "00000", entry(i).c_str());
  EXPECT_EQ(process_codes(cap.text()), (std::vector<uint32_t>{1, 2}));  // the first entry
  EXPECT_EQ(get_file_size((base + "_log.0").c_str()), 85);
  cap.clear();
  for (int i = 5; i < 25; ++i) output_logfile(base.c_str(), "D", "00000", entry(i).c_str());
  // Rotations before entries 5, 10, 15, 20.
  EXPECT_EQ(process_codes(cap.text()), (std::vector<uint32_t>{1, 2, 1, 2, 1, 2, 1, 2}));

  auto block = [&](int from) {
    std::string s;
    for (int i = from; i < from + 5; ++i) s += "D,00000," + entry(i);
    return s;
  };
  EXPECT_EQ(read_file(base + "_log.0"), block(20));
  EXPECT_EQ(read_file(base + "_log.1"), block(15));
  EXPECT_EQ(read_file(base + "_log.2"), block(10));
  EXPECT_EQ(read_file(base + "_log.3"), block(5));  // entries 0..4 are gone
  EXPECT_FALSE(exists("memot_log.4"));
}

// An entry that ends exactly at the limit stays; -gen 1 keeps only the newest file;
// a directory that cannot be written is no error.
TEST_F(LogTest, RotationEdges) {
  struct Case {
    int limit;
    uint32_t generations;
    std::string dir;
    std::vector<const char*> entries;
    size_t codes;  // process records 1 and 2 alternating
    const char* log0;
    const char* log1;
  };
  const std::vector<Case> cases = {
      {34,
       4,
       dir_.path(),
       {"entry 01\n", "entry 02\n", "x"},
       4,
       "D,00000,x",
       "D,00000,entry 01\nD,00000,entry 02\n"},
      {20, 1, dir_.path(), {"first\n", "second\n"}, 4, "D,00000,second\n", ""},
      {100, 4, dir_.path() + "/no/such/dir", {"x\n"}, 2, "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    TEST_INF.log_size_limit = c.limit;
    TEST_INF.log_generations = c.generations;
    const std::string base = c.dir + "/memr" + std::to_string(c.limit);
    OutputCapture cap;
    for (const char* e : c.entries) EXPECT_EQ(output_logfile(base.c_str(), "D", "00000", e), 0);
    const auto codes = process_codes(cap.text());
    ASSERT_EQ(codes.size(), c.codes);
    for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], i % 2 == 0 ? 1u : 2u);
    EXPECT_EQ(read_file(base + "_log.0"), c.log0);
    EXPECT_EQ(read_file(base + "_log.1"), c.log1);
  }
}

// Two threads log at once while the family rotates: every entry lands whole
// in exactly one file, and the process records come in pairs.
TEST_F(LogTest, ConcurrentLoggingAcrossRotations) {
  TEST_INF.log_size_limit = 4000;
  TEST_INF.log_generations = 9;
  OutputCapture cap;
  auto worker = [](int id) {
    for (int i = 0; i < 200; ++i) printfx(0x1004, "_worker()  thread %d entry %03d\n", id, i);
  };
  std::thread a(worker, 1);
  std::thread b(worker, 2);
  a.join();
  b.join();

  static const std::regex kLine(
      "\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{3}\\.\\d{3},00000,_worker\\(\\)  thread [12] "
      "entry \\d{3}");
  int lines = 0;
  for (int g = 0; g < 9; ++g) {
    const std::string text = read_file(dir_.file("memot_log." + std::to_string(g)));
    EXPECT_LE(text.size(), 4000u);
    size_t pos = 0;
    while (pos < text.size()) {
      const size_t nl = text.find('\n', pos);
      ASSERT_NE(nl, std::string::npos);
      EXPECT_TRUE(std::regex_match(text.substr(pos, nl - pos), kLine))
          << text.substr(pos, nl - pos);
      ++lines;
      pos = nl + 1;
    }
  }
  EXPECT_EQ(lines, 400);
  const auto codes = process_codes(cap.text());
  ASSERT_FALSE(codes.empty());
  for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], i % 2 == 0 ? 1u : 2u);
}

}  // namespace
