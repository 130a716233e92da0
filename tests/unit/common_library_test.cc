// The diagnostic common library, driven by tables and scripts of calls. A call
// is written as words: a short name of the routine, then its arguments; "{x*40}"
// stands for forty x, "{\n*3}" for "\n\n\n" and "\x1f" for that byte.
//
// A table row runs its calls (" ; " between them) and says in one line what
// the last one did: its result, each field of TEST_INF it changed (name=value),
// each record it sent (r<type>=body) and what it wrote to the trace (t=) and
// debug (d=) logs; stamps and dates read "@", newlines "\n", nothing at all
// "-". A "prelude" row names calls that every later row of its table begins
// with. A script's transcript shows each call, its result ("= ...") and the
// records it sent, byte for byte.
#include <unistd.h>

#include <regex>
#include <thread>

#include "common/area.h"
#include "common/eset.h"
#include "common/logfile.h"
#include "common/msgtbl.h"
#include "common/options.h"
#include "common/result_list.h"
#include "common/transmit.h"
#include "fixture.h"

namespace {

using ut::MemtestTest;
using Words = std::vector<std::string>;
const std::regex kBar("\\|"), kCalls(" ; "), kBlank(" [td]=(?= |$)|^ "), kNewline("\n");
const std::regex kTime(R"(20\d\d/\d\d/\d\d [\d:]{8}|\d\d/\d\d/\d\d [\d:]{8} [\d.]{7})");

// The fields of TEST_INF that calls change, as name=value.
constexpr char kFields[] =
    "dev=%s|mode=%u|lv=%u|path=%s|trc=%s|log=%d|gen=%u|dbg=%u|rt=%u|tb=%s|db=%s|msgs=%u|"
    "module=%s|device=%s|flags=0x%x|name=%s|edev=%s|date=%s|title=%s|sys=%s|errno=%d";
Words fields(const TEST_INF_t& t = TEST_INF, const ErrorRecord& e = TEST_INF.err) {
  char b[8192];
  int n = std::snprintf(b, sizeof b, kFields, t.dev_arg, t.test_mode.load(), t.test_level,
                        t.data_path, t.trace_dir, t.log_size_limit, t.log_generations,
                        t.debug_enabled, t.runtime, t.trace_log_base, t.debug_log_base,
                        t.msgtbl_count, t.module_name, t.device_name, e.eset_flags, e.einfo_name,
                        e.einfo_device, e.edate, e.etitle, e.syscall_name, e.syscall_errno);
  for (int i = 0; i < 10; ++i)
    n += std::snprintf(b + n, sizeof b - n, "|f%d=%s|p%d=%s|a%d=%s", i, e.freemsg[i], i,
                       e.freemsg_p[i], i, i < 5 ? e.action_text[i] : "");
  return {std::cregex_token_iterator(b, b + n, kBar, -1), std::cregex_token_iterator()};
}

// A row of a call table, with the calls its table begins every row with.
// The rows of the call tables, each given its table's prelude.
std::vector<ts::Row> call_rows() {
  std::vector<ts::Row> rows;
  for (const char* name : {"options", "calls", "msgtbl", "msg_fit"}) {
    std::string prelude;
    for (ts::Row& r : ts::read_table(std::string("unit/data/common_") + name + ".txt", 2)) {
      if (r[0] == "prelude") {
        prelude = r[1] + " ; ";
      } else {
        r.given = prelude;
        rows.push_back(r);
      }
    }
  }
  return rows;
}

class CommonCalls : public MemtestTest {
 protected:
  std::string call(const std::string& text);
};

std::string CommonCalls::call(const std::string& text) {
  ut::Args args(text);  // "memtest", the call's name, its arguments, nullptr
  char buf[600] = {}, **a = args.argv() + 1;
  auto s = [&](int i) { return i < args.argc() - 1 ? a[i] : nullptr; };
  auto u = [&](int i) { return static_cast<uint32_t>(std::stoull(a[i], nullptr, 0)); };
  auto n = [](int64_t v) { return std::to_string(v); };
  uint64_t v = 7, rc = 0;
  const std::string f = a[0];
  const char* msg = cv_msgno2fmt(s(1));  // the text of a message number
  // What the calls read: state set directly, a fresh block, files.
  if (f == "pass") return TEST_INF.pass_count = u(1), "";
  if (f == "limit") return TEST_INF.log_size_limit = u(1), "";
  if (f == "pmem") {
    Ex_pmem_FIND = 1;
    Ex_dwlDebug_MSize = std::stoull(a[1], nullptr, 0);
    return "";
  }
  if (f == "env") return n(s(2) ? setenv(a[1], a[2], 1) : unsetenv(a[1]));
  if (f == "zero") {
    tp_area_ctl(4, 0);
    test_inf_clear();
    common_arg_analyze(0, 0);
    return "";
  }
  if (f == "write") {
    ts::write_file(logs_.file(a[1]), a[3] + std::string(u(2), '\n'));
    TEST_INF.data_path[logs_.path().copy(TEST_INF.data_path, 260)] = 0;
    return "";
  }
  if (f == "file") return ts::read_file(logs_.file(a[1]));
  if (f == "strtolx") return rc = strtolx(s(1), &v), n(rc) + ":" + std::to_string(v);
  if (f == "module") return rc = get_module_name(buf, s(1), u(2)), n(rc) + ":" + buf;
  if (f == "level") return n(get_test_level(args.argc(), args.argv()));
  if (f == "analyze") return n(common_arg_analyze(args.argc(), args.argv()));
  // Records (their senders always return 0).
  if (f == "setup") return n(transmit_setup(s(1), s(2)));
  if (f == "progress") return transmit_progress(u(1), u(2), u(3), u(4), s(5)), "";
  if (f == "log") return transmit_log(u(1), s(2), s(3), s(4)), "";
  if (f == "status") return transmit_status(u(1), u(2), u(3), s(4)), "";
  // Message table, logging, allocator.
  if (f == "load") return n(get_msgtbl(s(1)));
  if (f == "lookup") return msg ? msg : "null";
  if (f == "fit") return n(msg_text_fit(s(1), s(2)));
  if (f == "fits")  // loaded entries that take every argument of their calls
    return n(std::count_if(TEST_INF.msgtbl, TEST_INF.msgtbl + TEST_INF.msgtbl_count, [](auto& e) {
      return msg_text_fit(e.msgno, e.text) == static_cast<int>(strlen(msg_signature(e.msgno)));
    }));
  if (f == "printfx") return n(printfx(u(1), s(2), s(3), s(4)));
  if (f == "logfile") return output_logfile(logs_.file(a[1]).c_str(), "D", "00000", s(2)), "";
  if (f == "area") rc = tp_area_ctl(u(1), u(2));
  if (f == "area") return static_cast<int64_t>(rc) > 0 ? "block" : n(rc);
  // Error record and result texts.
  if (f == "init") return eset_init(), "";
  if (f == "info") return eset_test_infomation(s(1), s(2)), "";
  if (f == "title") return eset_etitle(s(1)), "";
  if (f == "free") return eset_freemsg(u(1), s(2)), "";
  if (f == "free_p") return eset_freemsg_p(u(1), s(2)), "";
  if (f == "free_printfx") return n(eset_freemsg_printfx(u(1), u(2), u(3), s(4), s(5), s(6)));
  if (f == "syscall") return eset_system_call(s(1), u(2)), "";
  if (f == "action") return eset_action(u(1), s(2), s(3)), "";
  if (f == "header") return create_msg_header(u(1), buf, s(3) ? u(3) : 64, u(2));
  if (f == "error_list") return n(put_error_list(u(1)));
  if (f == "abort_list") return n(put_skip_abort_list(kAbortListKind));
  ADD_FAILURE() << "no call " << f;
  return "";
}

// The calls of a row, each on logs and output cleared, and what the last did.
class CallTable : public CommonCalls, public testing::WithParamInterface<ts::Row> {};

TEST_P(CallTable, LastCallDid) {
  const ts::Row& r = GetParam();
  const std::string text = ts::expand(r.given + r[0]);
  Words before;
  std::string out;
  for (std::sregex_token_iterator it(text.begin(), text.end(), kCalls, -1), e; it != e; ++it) {
    before = fields();
    ut::world().output.clear();
    for (auto log : {"memot_log.0", "memod_log.0"}) ts::write_file(logs_.file(log), "");
    out = call(*it);
  }
  for (size_t i = 0; const std::string& f : fields()) out += f != before[i++] ? " " + f : "";
  for (const auto& rec : records()) out += " r" + std::to_string(rec.type) + "=" + rec.body;
  out = std::regex_replace(out + " t=" + trace_log() + " d=" + debug_log(), kTime, "@");
  out = std::regex_replace(std::regex_replace(out, kBlank, ""), kNewline, "\\n");
  EXPECT_EQ(out.empty() ? "-" : out, ts::expand(r[1]));
}

// "unit/data/common_NAME.txt:LINE" names its test NAME_line_LINE.
std::string row_name(const testing::TestParamInfo<ts::Row>& info) {
  const std::string& where = info.param.where;
  const size_t name = where.find("common_") + 7;
  const size_t dot = where.find(".txt:");
  return where.substr(name, dot - name) + "_line_" + where.substr(dot + 5);
}

INSTANTIATE_TEST_SUITE_P(Table, CallTable, testing::ValuesIn(call_rows()), row_name);

// A script's transcript: each call, its result and the records it sent.
class CallScript : public CommonCalls, public testing::WithParamInterface<const char*> {};

TEST_P(CallScript, MatchesGolden) {
  const std::string name = GetParam();
  std::string out;
  for (const ts::Row& r : ts::read_table("unit/data/common_" + name + ".txt", 1)) {
    ut::world().output.clear();
    const std::string rc = call(ts::expand(r[0]));
    out += "> " + r[0] + "\n" + (rc.empty() ? "" : "= " + rc + "\n") + output();
    records();  // checks the length field and the line count of each record
  }
  EXPECT_TRUE(ts::matches_golden("common/" + name, out));
}

INSTANTIATE_TEST_SUITE_P(Script, CallScript, testing::Values("records", "lists", "rotation"),
                         [](const auto& info) { return std::string(info.param); });

// Two threads at once. Records through the real standard output stay whole,
// also those longer than a pipe takes in one write; log entries stay whole
// across many rotations, no file passes the limit, the family keeps three
// files, and the process records of the rotations pair up.
TEST_F(MemtestTest, CommonLibraryFromTwoThreads) {
  int fds[2], saved = dup(STDOUT_FILENO);
  ASSERT_EQ(pipe(fds), 0);
  dup2(fds[1], STDOUT_FILENO);
  close(fds[1]);
  platform_.write_record = kSystemPlatform.write_record;
  TEST_INF.log_size_limit = 400;
  TEST_INF.log_generations = 3;
  std::string got, big(10000, 'z');
  std::thread reader([&] {
    char b[4096];
    for (ssize_t n; (n = read(fds[0], b, sizeof b)) > 0;) got.append(b, static_cast<size_t>(n));
  });
  auto work = [&](int id) {
    for (int i = 0; i < 1000; ++i) {
      printfx(kPfFormat | kPfTraceLog | kPfLogRecord1, "_w()  %d %03d\n", id, i);
      transmit_progress(i, id, 0, 2, big.c_str());
    }
  };
  std::thread a(work, 1), b(work, 2);
  a.join();
  b.join();
  dup2(saved, STDOUT_FILENO);
  close(saved);
  reader.join();
  close(fds[0]);
  ut::world().output = got;
  const auto recs = records();
  EXPECT_EQ(ts::of_type(recs, kRecLog).size() + ts::of_type(recs, kRecProgress).size(), 4000u);
  std::string codes;
  for (const ts::Record& r : ts::of_type(recs, kRecProcess)) codes += r.body;
  EXPECT_TRUE(std::regex_match(codes, std::regex("(0x00000001\n0x00000002\n)+")));
  static const std::regex kEntry(R"(([\d/: .]{25},00000,_w\(\)  [12] \d{3}\n)+)");
  for (int g = 0; g < 4; ++g) {
    const std::string text = ts::read_file(logs_.file("memot_log." + std::to_string(g)));
    EXPECT_TRUE(g == 3 ? text.empty() : text.size() <= 400 && std::regex_match(text, kEntry));
  }
}

// An error or an abort list is the run's final status: once one is out, a
// cancel finds the end of the process taken and sends no second one.
class FinalListTest : public MemtestTest, public testing::WithParamInterface<bool> {};

TEST_P(FinalListTest, ClaimsTheEndOfTheProcess) {
  if (GetParam()) {
    put_skip_abort_list(0);
  } else {
    put_error_list(1);
  }
  EXPECT_EQ(ts::of_type(records(), kRecStatus).size(), 1u);
  EXPECT_FALSE(memtest_claim_cancel());
  EXPECT_EQ(execute_cancel.load(), 0u);  // nor is the cancel requested
}

INSTANTIATE_TEST_SUITE_P(ErrorOrAbort, FinalListTest, testing::Bool());

}  // namespace
