// Whole runs of the real binary, one block of tests/e2e/cases.txt each, and
// memtest-view over damaged record streams.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "golden.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;
constexpr int kNobody = 65534;

// A user id no process runs as, for a row that limits the processes of its
// user: a count under RLIMIT_NPROC holds every process of that user, so
// another row or a daemon running as nobody would make the exec fail.
int unused_uid() {
  std::set<int> taken;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    struct stat st {};
    if (stat(entry.path().c_str(), &st) == 0) taken.insert(static_cast<int>(st.st_uid));
  }
  int uid = kNobody - 1;
  while (taken.count(uid) > 0) --uid;
  return uid;
}

// "make: <what> <path> [<arg>]": the layout a run starts from; "owner" gives
// the path to the row's user.
void make(const std::vector<std::string>& w, int user) {
  const std::string& path = w.at(1);
  if (w[0] == "dir") fs::create_directories(path);
  if (w[0] == "file") ts::write_file(path, w.at(2));
  if (w[0] == "link") fs::create_symlink(w.at(2), path);
  if (w[0] == "hard") fs::create_hard_link(w.at(2), path);
  EXPECT_TRUE(w[0] != "fifo" || mkfifo(path.c_str(), 0644) == 0) << path;
  EXPECT_TRUE(w[0] != "owner" || getuid() != 0 || chown(path.c_str(), user, user) == 0);
}

// Whether every folder on the way to path lets others through and path lets
// them read it: what the unprivileged user needs of the binary and the tables.
bool others_reach(const fs::path& path) {
  struct stat st {};
  for (fs::path p = path; p != p.root_path(); p = p.parent_path()) {
    if (stat(p.c_str(), &st) != 0 || (st.st_mode & (p == path ? S_IROTH : S_IXOTH)) == 0)
      return false;
  }
  return true;
}

// The output; of a terminal's output (redraws), each line as its last redraw
// left it.
std::string shown(const std::string& out, bool redraws) {
  std::istringstream in(redraws ? std::regex_replace(out, std::regex("\x1b\\[K"), "") : out);
  std::string text;
  for (std::string line; std::getline(in, line);) {
    if (redraws && line.ends_with('\r')) line.pop_back();
    if (redraws) line = line.substr(line.rfind('\r') + 1);  // from 0 when there is none
    text += line + "\n";
  }
  return text;
}

class Cases : public testing::TestWithParam<ts::Block> {};

TEST_P(Cases, Run) {
  const ts::Block& c = GetParam();
  SCOPED_TRACE(c.where);
  // "vm: NAME": the run scripts/pmem-vm-test made inside a virtual machine.
  const char* vm_dir = std::getenv("MEMTEST_VM_DIR");
  const std::string vm = vm_dir != nullptr ? std::string(vm_dir) + "/" + c.get("vm") : "";
  if (!c.get("vm").empty() && !std::filesystem::exists(vm + ".exit"))
    GTEST_SKIP() << "only after a run of scripts/pmem-vm-test";
  for (const std::string& s : c.all("skip")) {
    const auto kinds = ts::split_words(s.substr(0, s.find(": ")));
    if (std::find(kinds.begin(), kinds.end(), e2e::build_kind()) != kinds.end())
      GTEST_SKIP() << s.substr(s.find(": ") + 2);
  }
  if (c.get("run").find("$VIEW") != std::string::npos && e2e::shell_command("view").empty())
    GTEST_SKIP() << "memtest-view is not built";
  ts::TempDir logs, empty, outside;
  const std::string log_dir = c.get("vm").empty() ? logs.path() : vm;
  auto fill = [&](std::string s) {
    s = ts::substitute(s, "DATA", MEMTEST_DATA_PATH);
    s = ts::substitute(s, "LOGS", logs.path());
    s = ts::substitute(s, "OUTSIDE", outside.path());
    s = ts::substitute(s, "MEMTEST", e2e::shell_command("memtest"));
    s = ts::substitute(s, "VIEW", e2e::shell_command("view"));
    return ts::expand(ts::substitute(s, "EMPTY", empty.path()));
  };
  auto where = [&](const std::string& f) { return f[0] == '/' ? f : log_dir + "/" + f; };
  const int user = c.get("user") == "unused" ? unused_uid() : 0;
  for (const std::string& m : c.all("make")) make(ts::split_words(fill(m)), user);
  e2e::Options opts;
  opts.argv0 = ts::unescape(fill(c.get("argv0")));
  for (const std::string& e : c.all("env")) opts.env.push_back(fill(e));
  opts.sigint_after = std::stod(c.get("sigint", "-1"));
  opts.sigint_after_output = true;  // a slow start must not look like an early cancel
  opts.signal = c.get("signal") == "TERM" ? SIGTERM : c.get("signal") == "HUP" ? SIGHUP : SIGINT;
  static const std::map<std::string, int> kLimits{{"AS", RLIMIT_AS},
                                                  {"NPROC", RLIMIT_NPROC},
                                                  {"NOFILE", RLIMIT_NOFILE},
                                                  {"STACK", RLIMIT_STACK},
                                                  {"FSIZE", RLIMIT_FSIZE}};
  for (const std::string& l : c.all("limit")) {
    const auto w = ts::split_words(l);
    opts.limits.emplace_back(kLimits.at(w.at(0)), std::stoull(w.at(1))
                                                      << (w[1].back() == 'M' ? 20 : 0));
  }
  opts.umask = std::stoi(c.get("umask", "-1"), nullptr, 8);
  opts.user = user;
  if (opts.user != 0 && getuid() == 0 &&
      !(others_reach(MEMTEST_BIN_PATH) && others_reach(MEMTEST_DATA_PATH "/onl_msge.txt")))
    GTEST_SKIP() << "uid " << user << " cannot reach the binary or the message tables here";
  if (!c.get("reader").empty()) opts.read_bytes = std::stoul(c.get("reader"));
  if (!c.get("run").empty()) opts.program = "/bin/sh", opts.pty = !c.get("pty").empty();
  e2e::Result r;
  if (c.get("vm").empty()) {
    r = e2e::run(opts.program.empty() ? ts::split_words(fill(c.get("args")))
                                      : std::vector<std::string>{"-c", fill(c.get("run"))},
                 opts);
  } else {
    r.out = ts::read_file(vm + ".records");
    r.exit_status = std::atoi(ts::read_file(vm + ".exit").c_str());
    r.error = ts::parse_records(r.out, &r.records);
  }

  EXPECT_EQ(r.error, "");
  EXPECT_EQ(std::to_string(r.exit_status), c.get("exit"));
  std::vector<ts::Record> kept;
  for (const ts::Record& rec : r.records) {
    if (rec.type != 6 || c.get("rotations") != "vary") kept.push_back(rec);
  }
  EXPECT_TRUE(c.get("pty") != "yes" || r.out.find("\x1b[K\r[") != std::string::npos)
      << "no redraw in place";
  const std::string out = shown(r.out, opts.pty);
  if (!c.get("golden").empty()) {
    EXPECT_TRUE(ts::matches_golden(
        "e2e/" + c.get("golden"), opts.program.empty() ? ts::without_running_progress(kept) : out));
  }
  for (const std::string& text : c.all("has"))
    EXPECT_NE((opts.pty ? out : r.out).find(ts::unescape(text)), std::string::npos) << text;
  for (const std::string& entry : c.all("log")) {  // "!text": a text the file must not hold
    const size_t blank = entry.find(' ');
    const std::string log = ts::read_file(where(fill(entry.substr(0, blank))));
    const std::string text = ts::unescape(entry.substr(blank + 1));
    const bool lacks = text[0] == '!';
    EXPECT_EQ(log.find(text.substr(lacks ? 1 : 0)) == std::string::npos, lacks) << entry;
  }
  for (const std::string& file : c.all("nolog"))
    EXPECT_FALSE(fs::exists(fs::symlink_status(where(fill(file))))) << file;
  for (const std::string& entry : c.all("mode")) {
    struct stat st {};
    EXPECT_EQ(lstat(where(entry.substr(0, entry.find(' '))).c_str(), &st), 0) << entry;
    EXPECT_EQ(st.st_mode & 07777, std::stoul(entry.substr(entry.find(' ') + 1), nullptr, 8))
        << entry;
  }
  // Running progress records: how many at least, and what each must look like.
  int running = 0;
  const std::regex shape(c.get("running", ".*"));
  for (size_t i = 1; i < r.records.size(); ++i) {
    // A step that met the end of the test has no text to check.
    if (!ts::is_running_progress(r.records[i]) || r.records[i].body.ends_with(",\n")) continue;
    ++running;
    const std::string& body = r.records[i].body;
    EXPECT_TRUE(std::regex_match(body.substr(0, body.size() - 1), shape)) << body;
  }
  EXPECT_GE(running, std::stoi(c.get("running-min", "0")));
  EXPECT_LT(r.signal_to_exit, std::stod(c.get("latency", "1e9")));
  const auto seconds = ts::split_words(c.get("seconds", "0 1e9"));
  EXPECT_GE(r.seconds, std::stod(seconds.at(0)));
  EXPECT_LT(r.seconds, std::stod(seconds.at(1)));
}

INSTANTIATE_TEST_SUITE_P(Table, Cases, testing::ValuesIn(ts::read_blocks("e2e/cases.txt")),
                         [](const auto& info) { return ts::block_id(info.param); });

// Record streams fed to the reader and to memtest-view, one row of
// tests/e2e/view_streams.txt each.
class ViewStreams : public testing::TestWithParam<ts::Row> {};

TEST_P(ViewStreams, Damaged) {
  if (e2e::shell_command("view").empty()) GTEST_SKIP() << "memtest-view is not built";
  const ts::Row& row = GetParam();
  const std::string stream = ts::unescape(ts::expand(row[0]));
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
  opts.env.push_back("TZ=UTC0");  // log stamps are shown with the zone
  const e2e::Result r = e2e::run(
      {"-c", e2e::shell_command("view") + " --plain <" + dir.file("stream") + " 2>&1"}, opts);
  EXPECT_EQ(r.out, ts::unescape(row[1]));
  EXPECT_EQ(std::to_string(r.exit_status), row[2]);
}

INSTANTIATE_TEST_SUITE_P(Table, ViewStreams,
                         testing::ValuesIn(ts::read_table("e2e/view_streams.txt", 3)),
                         [](const auto& info) { return ts::row_id(info.param); });

}  // namespace
