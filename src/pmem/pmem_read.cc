#include "pmem/pmem_read.h"

#include <cerrno>
#include <cstring>

#include "common/logfile.h"
#include "common/platform.h"
#include "pmem/pmem_map.h"
#include "progress/clock.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/pmem_state.h"
#include "state/process_end.h"

namespace {

using ull = unsigned long long;

constexpr uint64_t kSliceMs = 1000;  // one read call at level 0
constexpr uint32_t kPieceBytes = 128;
constexpr uint32_t kProbeBytes = 512;  // read by the search before every block
constexpr uint32_t kRoundUnit = 0x100;
constexpr uint32_t kRoundMask = 0xFF00;

bool time_is_up(const VykTp2MemStruct_t* ctl, uint64_t start) {
  const uint64_t now = memtest_GetTickCount();
  return time_limit_reached(slice_or_run_time(ctl->dwTestLevel, kSliceMs), start, now);
}

// The high word of the call counters: bits 8 to 15 count the PMEM rounds.
void set_round_word(uint64_t* status, uint32_t word) {
  *status = (*status & 0xFFFFFFFFull) | (uint64_t{word} << 32);
  const uint64_t ex = Ex_dwDebug_TKind.load();
  Ex_dwDebug_TKind.store((ex & 0xFFFFFFFFull) | (uint64_t{word} << 32));
}

// The block length at `a`: the size of a recorded region that starts there
// and is smaller than one block, else the read size. Only recorded regions
// count (entries below Ex_jump_cnt): the unused entries are {0, 0}, and
// taking one of them would make a block at address 0 zero bytes long, so that
// a level-0 run (no map) or a map whose region 0 is larger than one block
// would read nothing.
bool fewer_size(uint64_t a, uint32_t read_size, uint32_t* length) {
  for (uint32_t i = 0; i < Ex_jump_cnt; ++i) {
    const uint64_t size = jaddr_t[i].end - jaddr_t[i].start;
    if (jaddr_t[i].start == a && size < read_size) {
      *length = static_cast<uint32_t>(size);
      return true;
    }
  }
  return false;
}

// Reads one block into buf from the device's position (512 bytes past a).
int64_t read_block(uint64_t a, char* buf, uint32_t length, bool in_pieces) {
  const PmemDevice& dev = platform().pmem;
  if (!in_pieces) return dev.read(Ex_found_fd, buf, length);
  printfx(kPfTraceText, "VykTp2PMEMRead() FewerSize=0x%x(Ex_jump_addr=0x%08x)\n", length,
          static_cast<unsigned>(a));
  int64_t n = 0;
  for (uint32_t i = 0; i < length / kPieceBytes; ++i) {
    const ssize_t got = dev.read(Ex_found_fd, buf + uint64_t{i} * kPieceBytes, kPieceBytes);
    if (got > 0) n += got;
  }
  printfx(kPfTraceText, "VykTp2PMEMRead() FewerSize done..=0x%x\n", static_cast<unsigned>(n));
  return n;
}

// The WAITSEC pause after a block, a second at a time so that a cancel stops
// the test thread within a second.
void pause_after_block() {
  for (uint32_t s = 0; s < execute_waitsec.load(); ++s) {
    cancel_checkpoint();
    platform().sleep_seconds(1);
  }
}

// Back to the start of the map for the next round.
void lap_around(uint64_t* status, VykTp2MemStruct_t* ctl, const uint64_t* done) {
  printfx(kPfTraceText, "VykTp2PMEMRead()  memory access lap around(to adr=ZERO)\n");
  Ex_dwlDebug_MSize = *done;
  ctl->pmem_test_ad = 0;
  pmad_t = PmemRegion{};
  Ex_pmem_start = 0;
  Ex_test_ad = 0;
  Ex_test_ad_now = 0;
  Ex_test_ad_end_now = 0;
  Ex_pass_cnt.fetch_add(1);
  uint32_t word = static_cast<uint32_t>(*status >> 32);
  if ((word & kRoundMask) != kRoundMask) word += kRoundUnit;
  set_round_word(status, word);
}

// Blocks and rounds until the time is up, the round ends (levels 1 to 3
// without RUNTIME), or no block buffer can be had.
void read_blocks(uint64_t read_size, uint64_t* status, VykTp2MemStruct_t* ctl, uint64_t* done) {
  const PmemDevice& dev = platform().pmem;
  const uint32_t size = static_cast<uint32_t>(read_size);
  const uint64_t start = memtest_GetTickCount();
  uint32_t k = 0;
  int64_t n = 0;
  for (;;) {
    // No block buffer is held here: a cancel may stop the test thread.
    cancel_checkpoint();
    if (time_is_up(ctl, start)) return;
    get_pmem_address();
    ctl->pmem_test_ad = pmad_t.start;
    ctl->pmem_test_ad_end = pmad_t.end;
    // k stops at the end of the table; later rounds that start at address 0
    // would otherwise walk it past the end against the unused {0, 0} entries.
    if (k < kPmemRegionSlots && ctl->pmem_test_ad == jaddr_t[k].start) {
      printfx(kPfTraceText, "VykTp2PMEMRead()  pmem_test_ad=%llx pmem_test_ad_end=%llx\n",
              ull{ctl->pmem_test_ad}, ull{ctl->pmem_test_ad_end});
      ++k;
    }
    uint64_t a = ctl->pmem_test_ad;
    const uint32_t r = search_next_region(ctl, &a);
    if (r != kPmemLap) {
      ctl->pmem_test_ad = a;
      const uint64_t limit = dev.as_soft_limit();
      if (limit < read_size) {
        printfx(kPfTraceText, "VykTp2PMEMRead()  Couldn't allocate read buff(limit=0x%x)\n",
                static_cast<unsigned>(limit));
        return;
      }
      char* buf = static_cast<char*>(dev.alloc_block(size));
      if (buf == nullptr) {
        printfx(kPfTraceText, "VykTp2PMEMRead()  Couldn't allocate mem\n");
        return;
      }
      // The data word of the failure trace shows 0, not stale heap, when
      // nothing was read.
      std::memset(buf, 0, sizeof(uint32_t));
      uint32_t length = size;
      const bool in_pieces = fewer_size(a, size, &length);
      n = read_block(a, buf, length, in_pieces);
      const int err = errno;
      uint32_t word = 0;
      std::memcpy(&word, buf, sizeof word);
      dev.free_block(buf);
      if (n == 0) {
        printfx(kPfTraceText,
                "VykTp2PMEMRead()  real read addr=%llx size=%x(DATA:%x) rtn=%x errno=%d ( Fail to "
                "read .. )\n",
                ull{a}, length, word, static_cast<unsigned>(n), err);
      }
      if (n != 0 && n != -1) {
        if (ctl->dwTestLevel != 0 && execute_waitsec_used.load() == 1) pause_after_block();
        // The search's probe read took the first 512 bytes of the block.
        if (static_cast<uint64_t>(n) == uint64_t{length} - kProbeBytes) n += kProbeBytes;
        *done += static_cast<uint64_t>(n);
        Ex_dwlDebug_MSize = *done;
        pmad_t = PmemRegion{a, a + length};
        put_pmem_address();
        continue;
      }
    }
    // End of a round: the block read failed or the search lapped.
    if (ctl->dwTestLevel != 0 && execute_time_used.load() == 0) {
      printfx(kPfTraceText, "VykTp2PMEMRead()  rd_ret=%llx\n", static_cast<ull>(n));
      Ex_pass_cnt.fetch_add(1);
      printfx(kPfTraceText,
              "VykTp2PMEMRead()  srch_ret=%d pVykTp2Mem->pmem_test_ad=%llx Ex_pass_cnt=%d\n",
              static_cast<int>(r), ull{ctl->pmem_test_ad}, static_cast<int>(Ex_pass_cnt.load()));
      set_round_word(status, kRoundUnit);
      return;
    }
    lap_around(status, ctl, done);
  }
}

}  // namespace

uint32_t VykTp2PMEMRead(uint64_t read_size, uint64_t* status, VykTp2MemStruct_t* ctl,
                        uint64_t* done) {
  uint32_t result = kRcOk;
  Error_Details = Error_Details_t{};
  const PmemDevice& dev = platform().pmem;
  errno = 0;
  Ex_found_fd = dev.open_mem();
  if (Ex_found_fd < 0) {
    printfx(kPfTraceText, "VykTp2PMEMRead()  open error Ex_found_fd=%d errno=%d\n",
            static_cast<int>(Ex_found_fd), errno);
    pmem_report_open_error("open (in _PMEMRead)");
    result = kRcDevOpen;
  } else {
    read_blocks(read_size, status, ctl, done);
  }
  printfx(kPfTraceText,
          "VykTp2PMEMRead() ended .. (Ex_test_ad=0x%llx Ex_test_ad_now=0x%llx "
          "Ex_test_ad_end_now=0x%llx)\n",
          ull{Ex_test_ad}, ull{Ex_test_ad_now}, ull{Ex_test_ad_end_now.load()});
  if (execute_time_used.load() == 0) execute_time = 0;
  if (Ex_found_fd >= 0) dev.close(Ex_found_fd);
  Ex_found_fd = -1;
  return result;
}
