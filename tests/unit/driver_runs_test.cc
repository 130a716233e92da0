// The main sequence and the run loop over table rows, and the cancel routine.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <utility>

#include "driver/cancel.h"
#include "driver/chunk.h"
#include "driver/cover.h"
#include "driver/exec.h"
#include "driver/main_seq.h"
#include "fixture.h"
#include "params/parse_param.h"
#include "params/prescan.h"
#include "state/param_block.h"

namespace {

using ut::world;

std::string g_kinds;           // data kind of every MSCAN call
uint32_t g_advance_ms, g_err;  // see driver_runs.txt
bool g_mscan_ran;              // MSCAN's time checks read the clock over the chunk held

// The run's clock reads: while a chunk is held, it is on record for the cancel.
int clock_seen(timeval* tv) {
  if (!world().live_chunks.empty()) {
    EXPECT_TRUE(Ex_lpCommittedBuffer == *world().live_chunks.begin() &&
                Ex_Committed_dwSize == world().chunk_sizes.back());
    g_mscan_ran |= VykTp2MemStruct.algo_no == kAlgoMscan;
  }
  return ut::fake_platform().time_of_day(tv);
}

// A chunk MSCAN ran over is given back: its data kind is noted, the clock moves on.
void chunk_back(void* chunk) {
  if (std::exchange(g_mscan_ran, false)) {
    g_kinds += (g_kinds.empty() ? "" : ",") + std::to_string(VykTp2MemStruct.data_kind);
    world().now_us += uint64_t{g_advance_ms} * 1000;
  }
  ut::fake_platform().chunk_free(chunk);
}

class DriverRun : public ut::MemtestTest, public testing::WithParamInterface<ts::Row> {};

TEST_P(DriverRun, Outcome) {
  const ts::Row& row = GetParam();
  platform_.time_of_day = &clock_seen;
  platform_.chunk_free = &chunk_back;
  g_kinds.clear();
  g_advance_ms = 0;
  uint8_t sel[5] = {};
  uint64_t done[5] = {}, counters = 0;
  ut::Args args(row[1]);
  Pre_Getp_ForProgress(Ex_argv = args.argv());
  if (row[0] == "mem") VykTp2ParseParam2(Ex_argv, &VykTp2MemStruct, sel, &g_err);
  for (const auto& [k, text] : ut::key_values(row[2] == "-" ? "" : row[2])) {
    const uint64_t v = std::stoull(text, nullptr, k == "sel" ? 2 : 0);
    for (int i = 0; i < 5 && k == "sel"; ++i) sel[i] = (v >> (4 - i)) & 1 ? kAlgoSelected : 0;
    if (k == "done") done[2] = done[3] = done[4] = v;
    if (k == "commit") Commit_Size = v;
    if (k == "advance") g_advance_ms = v;
    if (k == "fail") world().chunk_fail_at = v;
    if (k == "tkind") Ex_dwDebug_TKind = counters = v;
  }
  const uint32_t rc =
      row[0] == "mem" ? VykTp2Mem(&VykTp2MemStruct, &counters, done, sel) : nonthread_memtest();
  std::string fn = Error_Details.function_name;
  std::replace(fn.begin(), fn.end(), ' ', '_');
  const std::string trace = trace_log();
  size_t runs = 0;  // main sequences begun
  for (size_t at = 0; (at = trace.find("memtest argv=", at)) != std::string::npos; ++at) ++runs;
  std::ostringstream s;
  const auto& sizes = world().chunk_sizes;
  s << "rc=" << rc << " mscan=" << (g_kinds.empty() ? "-" : g_kinds) << " passes=" << Ex_pass_cnt
    << " runs=" << runs << " err=" << Error_Details.error_class << "/" << Error_Details.error_code
    << "/" << fn << " ret=" << Ex_dwReturnValue << " endf=" << Ex_Thread_End_f
    << " kind=" << VykTp2MemStruct.data_kind << " chunks=" << world().chunk_calls << "*0x"
    << std::hex << (sizes.empty() ? 0 : sizes.back()) << " tkind=0x" << Ex_dwDebug_TKind
    << " held=" << world().live_chunks.size() + Ex_Committed_dwSize + !!Ex_lpCommittedBuffer;
  EXPECT_EQ(ut::key_values(s.str()), ut::key_values(row[3], ut::key_values(row.given)));
  EXPECT_TRUE(row[4] == "-" || output().find(row[4]) != std::string::npos) << output();
}

INSTANTIATE_TEST_SUITE_P(Table, DriverRun,
                         testing::ValuesIn(ts::read_table_over("unit/data/driver_runs.txt", 5, 3)),
                         [](const auto& info) { return ts::row_id(info.param); });

// A cancel at level 1 (the fixture's) with the progress thread running,
// chunks held and a parse under way: in this order the Ixx90 log record, the
// Canceled progress record (state 3) and status 2; chunk and text released,
// the progress thread told to stop, exit status 2. The cancel claims the end
// of the process for good, so it runs in a child.
using driverDeathTest = ut::MemtestTest;

TEST_F(driverDeathTest, CancelTellsTheProgressThreadToStop) {
  auto cancel = [this] {
    Ex_lpCommittedBuffer = VykTp2GetMemoryChunk(0x1000, nullptr);
    cover_take(2, 0x1000);  // a cover-mode pass's chunks too
    lpTempString = static_cast<char*>(std::malloc(2048));
    std::thread(&park_forever).detach();  // the test thread, stopped at a checkpoint
    platform_.end_process = [](int code) {
      std::fprintf(stderr, "%sthread end %u, chunks %zu, chunk %p, text %p, exit %d, end %d\n",
                   world().output.c_str(), Ex_Thread_End_f.load(), world().live_chunks.size(),
                   Ex_lpCommittedBuffer.load(), static_cast<void*>(lpTempString), code,
                   memtest_claim_end());  // a normal end may no longer claim it
    };
    Memtest_Cancel();
  };
  EXPECT_EXIT(
      cancel(), testing::ExitedWithCode(2),
      ",I0390,[^\n]*memtest was Canceled\n.*,0x03,I0399:<<memtest Canceled>>\n.*\n0x02,0x02,"
      "0x00000000,.*\nthread end 1, chunks 0, chunk \\(nil\\), text \\(nil\\), exit 2, end 0\n$");
}

// Standard descriptors closed at the start: each gets /dev/null before any
// file of the program could take its number.
TEST_F(driverDeathTest, ClosedStandardDescriptorsGetDevNull) {
  auto start = [] {
    for (int fd = 0; fd <= 2; ++fd) close(fd);
    process_start_guard();
    struct stat null {
    }, st{};
    int ok = stat("/dev/null", &null) == 0;
    for (int fd = 0; fd <= 2; ++fd) ok &= fstat(fd, &st) == 0 && st.st_rdev == null.st_rdev;
    std::_Exit(ok);
  };
  EXPECT_EXIT(start(), testing::ExitedWithCode(1), "");
}

}  // namespace
