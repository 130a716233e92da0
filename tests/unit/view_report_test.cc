// memtest-view and the run report: where memtest puts it, which one counts,
// and what the verdict makes of it.
#include <cstdlib>
#include <filesystem>

#include "fixture.h"
#include "view/view.h"
#include "view/view_report.h"

namespace {

namespace fs = std::filesystem;

constexpr char kCorrected[] =
    R"({"format": "memtest-run-report/1", "verdict": "corrected-errors", )"
    R"("summary": "passed, but 12 corrected errors on DIMM DIMM_A1 during the run", )"
    R"("failing_cells": [], "cells_not_listed": 0})";

class ViewReportTest : public ut::MemtestTest {
 protected:
  std::string report_file() const { return logs_.file("memot_report.json"); }
  ReportLoad load(const ReportAge* age) {
    return report_load(report_file(), age, &report_, &error_);
  }
  ViewReport report_;
  std::string error_;
};

// The report memtest writes, as tests/golden/common/report/failed.json holds it.
TEST_F(ViewReportTest, CellsOfAReportMemtestWrote) {
  fs::copy_file(ts::test_dir() + "/golden/common/report/failed.json", report_file());
  ASSERT_EQ(load(nullptr), ReportLoad::kRead);
  EXPECT_EQ(report_.verdict, "memory-error");
  EXPECT_EQ(report_.summary,
            "failed: 4 memory errors at physical address 0x12345008 (DIMM DIMM_A1)");
  EXPECT_EQ(
      report_.cells,
      (std::vector<std::string>{
          "failing cell: MSCAN Ref No. 1 at 0xf7a01008, physical address 0x12345008 (DIMM "
          "DIMM_A1), expected 0x00000000ffffffff, read 0x00000000fffffffe, page offlined",
          "failing cell: machine check at 0xf7a03000, physical address unknown (hidden (the "
          "kernel shows page frames only to CAP_SYS_ADMIN)), poisoned, offline failed: Device or "
          "resource busy"}));
  EXPECT_EQ(report_.cells_not_listed, 2u);
  EXPECT_EQ(report_.json.substr(0, 42), R"({"format":"memtest-run-report/1","host":"t)");
}

// Only a report written after the start counts: not the one that was there,
// not one stamped before the start, not a link; no report at all is no error.
TEST_F(ViewReportTest, OnlyAReportOfThisRun) {
  ReportAge age;
  age.started = file_clock_now();
  EXPECT_EQ(load(&age), ReportLoad::kNone);
  ts::write_file(report_file(), kCorrected);
  age.before = file_stamp(report_file());
  EXPECT_EQ(load(&age), ReportLoad::kNone);
  ts::write_file(report_file() + ".new", kCorrected);
  fs::rename(report_file() + ".new", report_file());
  EXPECT_EQ(load(&age), ReportLoad::kRead);
  age.started.tv_sec += 2;
  EXPECT_EQ(load(&age), ReportLoad::kNone);
  fs::remove(report_file());
  fs::create_symlink(ts::test_dir() + "/golden/common/report/failed.json", report_file());
  age.started.tv_sec -= 2;
  EXPECT_EQ(load(&age), ReportLoad::kBad);
}

// A report that saw corrected errors: memtest's No Error does not make it a
// pass, and the JSON stream ends with the report.
TEST_F(ViewReportTest, CorrectedErrorsAreNoCleanPass) {
  ts::write_file(report_file(), kCorrected);
  ViewState v;
  v.mode = kViewJson;
  v.have_status = true;
  v.status.status = 1;
  ASSERT_EQ(report_load(report_file(), nullptr, &v.report, &error_), ReportLoad::kRead);
  Verdict verdict;
  std::string out;
  view_finish(&v, "", MemtestEnd{}, &verdict, &out);
  EXPECT_FALSE(verdict.passed);
  EXPECT_EQ(verdict.exit_status, kExitFault);
  EXPECT_TRUE(out.ends_with("}\n{\"report\":" + v.report.json + "}\n")) << out;
}

// Arguments, $VYK_log and $VYK_data ("": unset), and the directory of the
// report.
struct PathRow {
  const char *name, *args, *vyk_log, *vyk_data, *dir;
};

const PathRow kPaths[] = {
    {"trc", "-dev MEM -trc /logs -path /data", "/env", "/vdata", "/logs"},
    {"quotes_dropped_last_wins", R"(-trc /x -TRC "\"/lo\"g\"")", "", "/vdata", "/log"},
    {"value_taken_whatever_it_is", "-trc /x -dev -trc", "", "/vdata", "/x"},
    {"vyk_log", "-dev MEM -path /data", "/env", "/vdata", "/env"},
    {"path_before_vyk_data", "-dev MEM -path /data", "", "/vdata", "/data"},
    {"vyk_data", "-dev MEM", "", "/vdata", "/vdata"},
};

class ReportPathTest : public ut::MemtestTest, public testing::WithParamInterface<PathRow> {};

TEST_P(ReportPathTest, WhereMemtestWritesIt) {
  const PathRow& row = GetParam();
  setenv("VYK_log", row.vyk_log, 1);
  setenv("VYK_data", row.vyk_data, 1);
  ut::Args args(row.args);
  const std::string path = report_path(args.argv());
  unsetenv("VYK_log");
  unsetenv("VYK_data");
  EXPECT_EQ(path, std::string(row.dir) + "/memot_report.json");
}

INSTANTIATE_TEST_SUITE_P(Table, ReportPathTest, testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
