// What a run finds beyond the records, over a fake /proc and /sys: the
// EDAC counters that grow during a run, the cell located and named, and the
// quarantine, which never takes a page the run did not locate.
#include <unistd.h>

#include <cstdio>

#include "common/run_findings.h"
#include "fixture.h"

namespace {

using ut::world;

const std::string kDimm = "/sys/devices/system/edac/mc/mc0/dimm0/";
const std::string kOffline = "/sys/devices/system/memory/soft_offline_page";
const uint64_t kPage = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

class Findings : public ut::MemtestTest {
 protected:
  void SetUp() override {
    MemtestTest::SetUp();
    std::snprintf(TEST_INF.trace_dir, sizeof TEST_INF.trace_dir, "%s", logs_.path().c_str());
    set_dimm_ce(5);
    world().files[kDimm + "dimm_ue_count"] = "0\n";
    world().files[kDimm + "dimm_label"] = "DIMM_A1\n";
    world().files[kOffline] = "";
  }
  static void set_dimm_ce(int ce) { world().files[kDimm + "dimm_ce_count"] = std::to_string(ce); }
  // Page `page` of the fake address space lies in frame `pfn`.
  static void map_page(uint64_t page, uint64_t pfn) {
    std::string& map = world().files["/proc/self/pagemap"];
    if (map.size() < (page + 1) * 8) map.resize((page + 1) * 8, '\0');
    const uint64_t entry = uint64_t{1} << 63 | pfn;
    for (int i = 0; i < 8; ++i) map[page * 8 + i] = static_cast<char>(entry >> (8 * i));
  }
  static FailingCell compare_cell(uint64_t vaddr) {
    FailingCell cell;
    cell.vaddr = vaddr;
    return cell;
  }
  std::string report() const { return ts::read_file(logs_.file(kReportName)); }
  bool report_has(const std::string& text) const {
    return report().find(text) != std::string::npos;
  }
  bool trace_has(const std::string& text) const {
    return trace_log().find(text) != std::string::npos;
  }
};

TEST_F(Findings, CorrectedErrorsDuringARunAreNoCleanPass) {
  ut::Args args("-tp MSCAN");
  findings_run_start(args.argc(), args.argv());
  set_dimm_ce(17);
  findings_run_end("No Error", 1, nullptr);
  EXPECT_TRUE(trace_has("_EdacCounters()  mc0/dimm0 label=DIMM_A1 ce+12 ue+0")) << trace_log();
  EXPECT_TRUE(report_has("\"verdict\": \"corrected-errors\"")) << report();
  EXPECT_TRUE(report_has("passed, but 12 corrected errors on DIMM DIMM_A1 during the run"));
}

TEST_F(Findings, ACellIsLocatedAndNamedByTheDimmWhoseCountersGrew) {
  ut::Args args("-tp MSCAN");
  findings_run_start(args.argc(), args.argv());
  map_page(5, 0x1234);
  set_dimm_ce(6);
  FailingCell cell = compare_cell(5 * kPage + 0x18);
  findings_cell(&cell);
  char want[96];
  std::snprintf(want, sizeof want, "physical address=0x%llx pfn=0x1234 dimm=DIMM_A1",
                static_cast<unsigned long long>(0x1234 * kPage + 0x18));
  EXPECT_TRUE(trace_has(want)) << trace_log();
  ASSERT_EQ(run_report().cell_count, 1u);
  EXPECT_EQ(run_report().cells[0].where.phys, 0x1234 * kPage + 0x18);
}

TEST_F(Findings, TheQuarantineTakesOnlyLocatedPages) {
  ut::Args args("-tp MSCANX -offline");
  findings_run_start(args.argc(), args.argv());
  map_page(5, 0x1234);
  FailingCell located = compare_cell(5 * kPage + 0x18);
  FailingCell unknown = compare_cell(9 * kPage);  // beyond the fake pagemap
  findings_cell(&located);
  findings_cell(&unknown);
  findings_run_end("Error Ended", 0, nullptr);
  char page[32];
  std::snprintf(page, sizeof page, "0x%llx\n", static_cast<unsigned long long>(0x1234 * kPage));
  ASSERT_EQ(world().writes.size(), 1u);
  EXPECT_EQ(world().writes[0], std::make_pair(kOffline, std::string(page)));
  EXPECT_TRUE(report_has("\"offline\": \"offlined\"")) << report();
  EXPECT_TRUE(report_has("\"offline\": \"not-located\""));
}

TEST_F(Findings, WithoutTheKeywordNothingIsOfflined) {
  ut::Args args("-tp MSCANX -offlinex");
  findings_run_start(args.argc(), args.argv());
  map_page(5, 0x1234);
  FailingCell located = compare_cell(5 * kPage);
  findings_cell(&located);
  findings_run_end("Error Ended", 0, nullptr);
  EXPECT_TRUE(world().writes.empty());
  EXPECT_TRUE(report_has("\"offline\": \"not-asked\"")) << report();
}

TEST_F(Findings, ARunThatNeverStartedWritesNoReport) {
  findings_run_end("Canceled", 2, nullptr);
  EXPECT_NE(access(logs_.file(kReportName).c_str(), F_OK), 0);
}

}  // namespace
