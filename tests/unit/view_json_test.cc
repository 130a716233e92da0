// memtest-view's fields for scripts and its live line: a failure as members
// of the verdict, and the time left as memtest's records let it be known.
#include <filesystem>

#include "fixture.h"
#include "view/view.h"
#include "view/view_report.h"

namespace {

// The detail part of an error list as memtest sends it for MSCAN's Ref No. 1.
constexpr char kMscanList[] =
    " ERROR   : MSCAN Data Compare Error(Ref No. 1)\n"
    " \n"
    " Logical Address=f7a00000 Physical Address=Not Retrieved\n"
    " Exp.Address (+56a4e0d4ec8) ffffffff 00000000 00000000 00000000 00000000\n"
    " Act.Address (+1008) fffffffe 00000000 00000000 00000000 00000000\n"
    " Local Read Buffer:+56a4e0d4ed0\n";

class ViewJsonTest : public ut::MemtestTest {};

// The error list's cell takes the physical address and the DIMM of the
// report's cell of the same Ref No. and offset; the report's other cells
// follow.
TEST_F(ViewJsonTest, FailureFieldsFromTheListAndTheReport) {
  ViewState v;
  v.mode = kViewJson;
  v.have_status = true;
  v.status.status = 4;
  v.status.text = kMscanList;
  std::string error;
  ASSERT_EQ(
      report_load(ts::test_dir() + "/golden/common/report/failed.json", nullptr, &v.report, &error),
      ReportLoad::kRead);
  Verdict verdict;
  std::string out;
  view_finish(&v, "", MemtestEnd{}, &verdict, &out);
  EXPECT_NE(out.find(R"(,"failures":[{"kind":"compare","algorithm":"MSCAN","ref_no":1,)"
                     R"("offset":"0x1008","expected":"0x00000000ffffffff",)"
                     R"("actual":"0x00000000fffffffe","physical_address":"0x12345008",)"
                     R"("dimm":"DIMM_A1"},{"kind":"machine-check","algorithm":null,"ref_no":0,)"
                     R"("offset":"0x0","expected":null,"actual":null,"physical_address":null,)"
                     R"("dimm":null}]})"),
            std::string::npos)
      << out;
}

// The records of a run of a fraction of a second at level 1: the first
// carries the nominal round of 70 seconds, the final one repeats it.
TEST_F(ViewJsonTest, NoNominalRoundLeftInASubSecondRun) {
  ProgressFields first{0, 70, 0, 1, "I0399:<<MSCAN1 w/r Pass=0>>"};
  EXPECT_EQ(progress_line(first, 0),
            "[----------------]   0% 0:00:00 elapsed -:--:-- left  MSCAN1 w/r Pass=0");
  ProgressFields final{0, 70, 0, 5, "I0399:<<memtest Error Ended>>"};
  EXPECT_EQ(progress_line(final, 0),
            "[----------------]   0% 0:00:00 elapsed 0:00:00 left  memtest Error Ended");
}

}  // namespace
