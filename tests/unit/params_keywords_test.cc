// The keyword parser and the run-setting pre-scan over table rows, and the
// small text routines. Random argument lists are the keyword fuzz target's.
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "fixture.h"
#include "params/number_rules.h"
#include "params/param_text.h"
#include "params/parse_param.h"
#include "params/prescan.h"
#include "state/param_block.h"

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;

uint8_t g_algo[5];
uint32_t g_err;
// One parse as the main sequence makes it: algo_array zeroed first.
uint32_t parse(ut::Args& args) {
  std::memset(g_algo, 0, sizeof g_algo);
  g_err = kUntouched;
  return VykTp2ParseParam2(args.argv(), &VykTp2MemStruct, g_algo, &g_err);
}

// Everything a parse or a pre-scan may set; the working text must be gone
// and the two sizes equal.
std::string state(int64_t rc) {
  std::string algos, fakes;
  for (uint8_t b : g_algo) algos += b == kAlgoSelected ? 'w' : b == 0 ? '0' : '?';
  for (int i = 0; i < 6; ++i) fakes += Fake_Err[i] ? '1' : '0';
  const ParamStruct_t& p = ParamStruct;
  std::ostringstream s;
  s << "rc=" << rc << " err=" << (g_err == kUntouched ? "-" : std::to_string(g_err))
    << " test=" << p.wTestMode << " use=" << p.wUseMode << " data=" << p.wDataMode
    << " algos=" << algos << " fakes=" << fakes << " lv=" << Ex_dwTestLevel
    << " time=" << execute_time << " tused=" << execute_time_used
    << " inf=" << execute_infinity_used << " sused=" << execute_size_used
    << " wait=" << execute_waitsec << " wused=" << execute_waitsec_used << " pmem=" << Ex_pmem_FIND
    << " algo=" << VykTp2MemStruct.algo_no << " nonpse=" << +VykTp2MemStruct.use_nonpse
    << " unit=" << VykTp2MemStruct.size_unit << " sa=" << p.dwSaValue << " rt=" << TEST_INF.runtime
    << " count=" << Algo_Count_ForProgress << " text=" << (lpTempString ? "held" : "-") << std::hex
    << " size=0x" << p.dwSize << (p.dwlSize == p.dwSize ? "" : "(dwlSize-differs)") << " pa=0x"
    << Ex_test_ad << " total=0x" << Total_Execute_Size;
  return s.str();
}

// A row of the parse or pre-scan table; the outcome of its table's first row
// is the base its outcome names the differences from.
class ParseTable : public ut::MemtestTest, public testing::WithParamInterface<ts::Row> {};

TEST_P(ParseTable, Outcome) {
  const ts::Row& row = GetParam();
  const bool prescan = row.where.starts_with("unit/data/params_prescan.txt");
  Ex_dwTestLevel = prescan ? 9 : 0;  // the pre-scan sets it itself
  TEST_INF.runtime = 0;
  g_err = kUntouched;  // the pre-scan has no outputs of the parser's
  std::memset(g_algo, 0, sizeof g_algo);
  ut::Args args(row[0] == "-" ? "" : ts::expand(row[0]));
  const int64_t rc = prescan ? Pre_Getp_ForProgress(args.argv()) : parse(args);
  EXPECT_EQ(ut::key_values(state(rc)), ut::key_values(row[1], ut::key_values(row.given)));
}

std::vector<ts::Row> parse_rows() {
  std::vector<ts::Row> rows = ts::read_table_over("unit/data/params_parse.txt", 2, 1);
  for (const ts::Row& r : ts::read_table_over("unit/data/params_prescan.txt", 2, 1)) {
    rows.push_back(r);
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, ParseTable, testing::ValuesIn(parse_rows()), [](const auto& info) {
  const bool prescan = info.param.where.starts_with("unit/data/params_prescan.txt");
  return (prescan ? "prescan_" : "parse_") + ts::row_id(info.param);
});

class NumberTable : public testing::TestWithParam<ts::Row> {};

TEST_P(NumberTable, ResultAndValue) {
  const ts::Row& row = GetParam();
  const std::vector<std::string> in = ts::split_words(row[1]);
  uint32_t value = 77;
  const int32_t rc = VykTp2StringToLong(in[0].c_str(), &value, std::stoi(in[1]));
  EXPECT_EQ(std::to_string(rc) + " " + std::to_string(value), row[2]);
}

INSTANTIATE_TEST_SUITE_P(Table, NumberTable,
                         testing::ValuesIn(ts::read_table("unit/data/params_numbers.txt", 3)),
                         [](const auto& info) { return ts::row_id(info.param); });

}  // namespace
