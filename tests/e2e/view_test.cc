// memtest-view over the real memtest (tests/e2e/view_cases.txt) and over
// damaged record streams (tests/e2e/view_streams.txt).
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <sstream>

#include "files.h"
#include "golden.h"
#include "records.h"
#include "run.h"

namespace {

#ifdef MEMTEST_EMULATOR
const std::string kEmulator = MEMTEST_EMULATOR " ";
#else
const std::string kEmulator;
#endif

// "\n" is a newline, "\e" an ESC, "\\" a backslash.
std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const size_t code = i + 1 < s.size() && s[i] == '\\' ? std::string("n\\e").find(s[i + 1]) : 3;
    out += code < 3 ? "\n\\\x1b"[code] : s[i];
    i += code < 3;
  }
  return out;
}

// Runs a shell command line with a pseudo-terminal as its terminal; returns
// what the terminal received.
std::string run_on_pty(const std::string& command, int* exit_status) {
  int fd = -1;
  winsize size{24, 60, 0, 0};  // narrower than the progress line
  const pid_t pid = forkpty(&fd, nullptr, nullptr, &size);
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);) {
    if (n > 0) out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  *exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

// What the screen shows at the end: each line as its last redraw left it.
std::string screen(const std::string& raw) {
  std::istringstream in(std::regex_replace(raw, std::regex("\x1b\\[K"), ""));
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out += line.substr(line.rfind('\r') == std::string::npos ? 0 : line.rfind('\r') + 1) + "\n";
  }
  return out;
}

// The text without the lines that match drop, the first line excepted.
std::string without(const std::string& text, const std::regex& drop) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (out.empty() || !std::regex_search(line, drop)) out += line + "\n";
  }
  return out;
}

class View : public testing::TestWithParam<ts::Block> {};

TEST_P(View, Run) {
  const ts::Block& c = GetParam();
  SCOPED_TRACE(c.where);
  ts::TempDir logs;
  std::string command = ts::substitute(c.get("run"), "MEMTEST", kEmulator + MEMTEST_BIN_PATH);
  command = ts::substitute(command, "VIEW", kEmulator + MEMTEST_VIEW_PATH);
  command = ts::substitute(ts::substitute(command, "DATA", e2e::data_dir()), "LOGS", logs.path());
  std::string out;
  int exit_status = -1;
  if (c.get("pty") == "yes") {
    const std::string raw = run_on_pty(command, &exit_status);
    EXPECT_NE(raw.find("\x1b[K\r["), std::string::npos) << "no line drawn over another:\n" << raw;
    out = screen(raw);
  } else {
    e2e::Options opts;
    opts.program = "/bin/sh";
    opts.sigint_after = std::stod(c.get("sigint", "-1"));
    const e2e::Result r = e2e::run({"-c", command}, opts);
    EXPECT_EQ(r.error, "");
    out = r.out;
    exit_status = r.exit_status;
  }
  EXPECT_EQ(std::to_string(exit_status), c.get("exit"));
  if (!c.get("golden").empty()) {
    const std::regex drop(c.get("drop", "(?!)"));
    EXPECT_TRUE(ts::matches_golden("view/" + c.get("golden"), without(out, drop)));
  }
  for (const std::string& text : c.all("has")) {
    EXPECT_NE(out.find(unescape(text)), std::string::npos) << text << "\nin:\n" << out;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, View, testing::ValuesIn(ts::read_blocks("e2e/view_cases.txt")),
                         [](const testing::TestParamInfo<ts::Block>& info) {
                           return std::regex_replace(info.param.name, std::regex("[^A-Za-z0-9]+"),
                                                     "_");
                         });

TEST(View, DamagedStreams) {
  for (const ts::Row& row : ts::read_table("e2e/view_streams.txt", 3)) {
    SCOPED_TRACE(row.where);
    const std::string stream = unescape(row[0]);
    // Fed whole or a byte at a time, the reader finds the same records and
    // the same fault.
    std::vector<ts::Record> whole;
    const std::string error = ts::parse_records(stream, &whole);
    RecordReader reader;
    ProtocolRecord rec;
    RecordResult result = kRecordNeedMore;
    size_t n = 0;
    for (const char& c : stream) {
      record_reader_feed(&reader, std::string_view(&c, 1));
      while ((result = record_reader_next(&reader, &rec)) == kRecordReady) {
        EXPECT_EQ(rec.raw, whole.at(n++).raw);
      }
    }
    if (result != kRecordBad) record_reader_finish(&reader);
    EXPECT_EQ(reader.error, error);
    EXPECT_EQ(n, whole.size());
    ts::TempDir dir;
    ts::write_file(dir.file("stream"), stream);
    e2e::Options opts;
    opts.program = "/bin/sh";
    const e2e::Result r = e2e::run(
        {"-c", kEmulator + MEMTEST_VIEW_PATH + " --plain <" + dir.file("stream") + " 2>&1"}, opts);
    EXPECT_EQ(r.out, unescape(row[1]));
    EXPECT_EQ(std::to_string(r.exit_status), row[2]);
  }
}

}  // namespace
