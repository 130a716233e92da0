// The run report: its verdict, the file it is written to and how texts are
// escaped in it.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "common/run_report.h"
#include "fixture.h"

namespace {

namespace fs = std::filesystem;

// Counters as "mc0 dimm0 DIMM_A1 3 15 0 0 ; mc0 - - 3 15 0 0": controller,
// DIMM and label ("-": none), corrected errors at the start and the end,
// uncorrected ones at the start and the end; into both snapshots.
void add_counters(RunReport* r, const std::string& text) {
  const std::vector<std::string> w = ts::split_words(text);
  for (size_t at = 0; at + 7 <= w.size(); at += 8) {
    for (EdacSnapshot* s : {&r->edac_start, &r->edac_end}) {
      const size_t at_end = s == &r->edac_end;
      EdacCounter& e = s->counters[s->count++];
      std::snprintf(e.mc, sizeof e.mc, "%s", w[at].c_str());
      std::snprintf(e.dimm, sizeof e.dimm, "%s", w[at + 1] == "-" ? "" : w[at + 1].c_str());
      std::snprintf(e.label, sizeof e.label, "%s", w[at + 2] == "-" ? "" : w[at + 2].c_str());
      e.ce = std::stoull(w[at + 3 + at_end]);
      e.ue = std::stoull(w[at + 5 + at_end]);
      s->present = true;
    }
  }
}

class VerdictTest : public ut::MemtestTest, public testing::WithParamInterface<ts::Row> {};

TEST_P(VerdictTest, SaysWhatTheRunCameTo) {
  const ts::Row& row = GetParam();
  RunReport& r = run_report();
  r.final_status = row[0].c_str();
  std::snprintf(r.fault, sizeof r.fault, "%s", row[1] == "-" ? "" : row[1].c_str());
  r.cell_count = static_cast<uint32_t>(std::stoul(row[2]));
  r.cells_dropped = static_cast<uint32_t>(std::stoul(row[3]));
  add_counters(&r, row[4]);
  ReportVerdict v;
  run_report_verdict(r, &v);
  EXPECT_STREQ(v.verdict, row[5].c_str());
  EXPECT_STREQ(v.summary, row[6].c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, VerdictTest,
                         testing::ValuesIn(ts::read_table("unit/data/common_report_verdicts.txt",
                                                          7)),
                         [](const auto& info) { return ts::row_id(info.param); });

class ReportFileTest : public ut::MemtestTest {
 protected:
  std::string report_file() const { return logs_.file(kReportName); }
};

// Two compare cells and a machine check, more beyond them, and corrected
// errors on a DIMM; then a clean run with nothing to list.
TEST_F(ReportFileTest, MatchesGolden) {
  RunReport& r = run_report();
  std::snprintf(r.host, sizeof r.host, "testhost");
  std::snprintf(r.run_id, sizeof r.run_id, "testhost-4242");
  std::snprintf(r.options, sizeof r.options, "-dev MEM -lv 1 -tp MSCAN,MASEST,PMEM");
  r.start_time = static_cast<time_t>(ut::kStartSec);
  r.end_time = static_cast<time_t>(ut::kStartSec + 95);
  r.algorithms_run = 0x05;
  r.pmem_read = true;
  r.bytes_visited = 0x400000;
  r.distinct_known = true;
  r.distinct_bytes = 0x200000;
  r.final_status = "Error Ended";
  r.cell_count = 2;
  r.cells_dropped = 2;
  r.cells[0] = {.algorithm = "MSCAN",
                .ref_no = 1,
                .buffer = 0xf7a00000,
                .offset = 0x1008,
                .vaddr = 0xf7a01008,
                .expected = 0xffffffff,
                .actual = 0xfffffffe,
                .where = {PhysStatus::kLocated, 0x12345, 0x12345008, false},
                .dimm = "DIMM_A1",
                .offline = OfflineResult::kOfflined};
  r.cells[1] = {.kind = CellKind::kMachineCheck,
                .vaddr = 0xf7a03000,
                .where = {PhysStatus::kHidden, 0, 0, true},
                .offline = OfflineResult::kFailed,
                .offline_errno = EBUSY};
  add_counters(&r, "mc0 dimm0 DIMM_A1 1 4 0 0 ; mc0 - - 1 4 0 0");
  ASSERT_EQ(run_report_write(r, logs_.path().c_str()), 0);
  EXPECT_TRUE(ts::matches_golden("common/report/failed.json", ts::read_file(report_file())));

  run_report_clear();
  r.final_status = "No Error";
  r.exit_status = -1;
  ASSERT_EQ(run_report_write(r, logs_.path().c_str()), 0);
  EXPECT_TRUE(ts::matches_golden("common/report/passed.json", ts::read_file(report_file())));
}

// Options text, and how the report writes it.
struct EscapeRow {
  const char *name, *text, *json;
};

const EscapeRow kEscapes[] = {
    {"quote_and_backslash", "-trc \"C:\\x\"", R"("-trc \"C:\\x\"")"},
    {"controls_and_del", "a\nb\x01\x1f\x7f", R"("a\u000ab\u0001\u001f\u007f")"},
    {"valid_utf8_kept", "\xc3\xa4 \xe2\x82\xac \xf0\x9f\x98\x80",
     "\"\xc3\xa4 \xe2\x82\xac \xf0\x9f\x98\x80\""},
    {"latin1_byte", "\xe4xy", R"("\u00e4xy")"},
    {"overlong", "\xc0\xaf", R"("\u00c0\u00af")"},
    {"surrogate", "\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"},
    {"past_u10ffff", "\xf4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},
};

class EscapeTest : public ReportFileTest, public testing::WithParamInterface<EscapeRow> {};

TEST_P(EscapeTest, OptionsLine) {
  std::snprintf(run_report().options, sizeof run_report().options, "%s", GetParam().text);
  ASSERT_EQ(run_report_write(run_report(), logs_.path().c_str()), 0);
  const std::string file = ts::read_file(report_file());
  const size_t at = file.find("\n  \"options\": ") + 14;
  EXPECT_EQ(file.substr(at, file.find(",\n", at) - at), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Table, EscapeTest, testing::ValuesIn(kEscapes),
                         [](const auto& info) { return std::string(info.param.name); });

// A link planted at the name is replaced (the file it points to keeps its
// text) by a file of mode 0640, whatever the umask.
TEST_F(ReportFileTest, LinkAtTheNameReplacedByAFileOfMode0640) {
  ts::write_file(logs_.file("target"), "keep");
  fs::create_symlink(logs_.file("target"), report_file());
  const mode_t old = umask(077);
  const int rc = run_report_write(run_report(), logs_.path().c_str());
  umask(old);
  struct stat st {};
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(lstat(report_file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ts::read_file(logs_.file("target")), "keep");
}

// A failure after the temporary was made (a directory at the name) takes the
// temporary away again.
TEST_F(ReportFileTest, FailedRenameLeavesNoTemporary) {
  fs::create_directories(report_file() + "/inside");
  EXPECT_EQ(run_report_write(run_report(), logs_.path().c_str()), EISDIR);
  const auto entries = std::distance(fs::directory_iterator(logs_.path()), {});
  EXPECT_EQ(entries, 1);
}

}  // namespace
