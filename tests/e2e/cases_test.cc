// Whole runs of the real binary, one block of tests/e2e/cases.txt each.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "files.h"
#include "golden.h"
#include "run.h"

namespace {

std::string unescape(std::string s) {
  for (size_t pos = 0; (pos = s.find("\\n", pos)) != std::string::npos; ++pos) {
    s.replace(pos, 2, "\n");
  }
  return s;
}

class Cases : public testing::TestWithParam<ts::Block> {};

TEST_P(Cases, Run) {
  const ts::Block& c = GetParam();
  SCOPED_TRACE(c.where);
  if (!c.get("unless").empty() && std::filesystem::exists(c.get("unless")))
    GTEST_SKIP() << c.get("unless") << " exists on this machine";
  // "vm: NAME": the run scripts/pmem-vm-test made inside a virtual machine.
  const char* vm_dir = std::getenv("MEMTEST_VM_DIR");
  const std::string vm = vm_dir != nullptr ? std::string(vm_dir) + "/" + c.get("vm") : "";
  if (!c.get("vm").empty() && !std::filesystem::exists(vm + ".exit"))
    GTEST_SKIP() << "only after a run of scripts/pmem-vm-test";
  ts::TempDir logs, empty;
  const std::string log_dir = c.get("vm").empty() ? logs.path() : vm;
  auto fill = [&](std::string s) {
    s = ts::substitute(s, "DATA", e2e::data_dir());
    s = ts::substitute(s, "LOGS", logs.path());
    s = ts::substitute(s, "PRELOAD", e2e::preload_path());
    return ts::substitute(s, "EMPTY", empty.path());
  };
  e2e::Options opts;
  opts.argv0 = c.get("argv0");
  for (const std::string& e : c.all("env")) opts.env.push_back(fill(e));
  opts.sigint_after = std::stod(c.get("sigint", "-1"));
  opts.sigint_blocked = c.get("sigint-blocked") == "yes";
  e2e::Result r;
  if (c.get("vm").empty()) {
    r = e2e::run(ts::split_words(fill(c.get("args"))), opts);
  } else {
    r.out = ts::read_file(vm + ".records");
    r.exit_status = std::atoi(ts::read_file(vm + ".exit").c_str());
    r.error = ts::parse_records(r.out, &r.records);
  }

  EXPECT_EQ(r.error, "");
  EXPECT_EQ(std::to_string(r.exit_status), c.get("exit"));
  std::vector<ts::Record> shown;
  for (const ts::Record& rec : r.records) {
    if (rec.type != 6 || c.get("rotations") != "vary") shown.push_back(rec);
  }
  if (!c.get("golden").empty()) {
    EXPECT_TRUE(ts::matches_golden("e2e/" + c.get("golden"), ts::without_running_progress(shown)));
  }
  for (const std::string& text : c.all("has"))
    EXPECT_NE(r.out.find(unescape(text)), std::string::npos) << text;
  for (const std::string& entry : c.all("log")) {
    const size_t blank = entry.find(' ');
    const std::string log = ts::read_file(log_dir + "/" + entry.substr(0, blank));
    EXPECT_NE(log.find(unescape(entry.substr(blank + 1))), std::string::npos) << entry;
  }
  for (const std::string& file : c.all("nolog"))
    EXPECT_FALSE(std::filesystem::exists(log_dir + "/" + file)) << file;
  // Running progress records: how many at least, and what each must look like.
  int running = 0;
  const std::regex shape(c.get("running", ".*"));
  for (size_t i = 1; i < r.records.size(); ++i) {
    if (!ts::is_running_progress(r.records[i])) continue;
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

std::string case_name(const testing::TestParamInfo<ts::Block>& info) {
  return std::regex_replace(info.param.name, std::regex("[^A-Za-z0-9]+"), "_");
}

INSTANTIATE_TEST_SUITE_P(Table, Cases, testing::ValuesIn(ts::read_blocks("e2e/cases.txt")),
                         case_name);

}  // namespace
