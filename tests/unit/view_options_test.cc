// memtest-view's checks of the command line it starts memtest with.
#include "view/view_options.h"
#include "fixture.h"

namespace {

// A row of tests/unit/data/view_size_refusal.txt.
class SizeRefusal : public ut::MemtestTest, public testing::WithParamInterface<ts::Row> {};

TEST_P(SizeRefusal, Message) {
  const ts::Row& r = GetParam();
  ut::Args args("-dev MEM -path /nonexistent " + r[0]);
  const std::string expected =
      r[1] == "-" ? "" : r[1] + ", or give --as-is to run it as memtest reads it";
  EXPECT_EQ(size_refusal(args.argv()), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, SizeRefusal,
                         testing::ValuesIn(ts::read_table("unit/data/view_size_refusal.txt", 2)),
                         [](const auto& info) { return ts::row_id(info.param); });

}  // namespace
