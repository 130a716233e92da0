#include "pmem/pmem_map.h"

#include <cerrno>
#include <cstring>

#include "algorithms/error_disp.h"
#include "common/logfile.h"
#include "common/platform.h"
#include "common/test_inf.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/pmem_state.h"
#include "state/process_end.h"

namespace {

using ull = unsigned long long;

constexpr uint64_t kProbeEnd = 0x400000000ull;      // 16 GiB
constexpr uint64_t kProbeStep = 0x10000;            // 64 KiB
constexpr uint64_t kSeekTraceStep = 0x10000000;     // 256 MiB
constexpr uint64_t kSeekTraceEnd = 0x100000000ull;  // 4 GiB
constexpr size_t kProbeBytes = 128;
constexpr size_t kSearchBytes = 512;
constexpr int32_t kOpenFailed = 2;

// A seek counts only when the whole 64-bit position reached is the one asked for.
bool seek_to(int fd, uint64_t address, int64_t* reached) {
  *reached = platform().pmem.seek(fd, address);
  return static_cast<uint64_t>(*reached) == address;
}

// The starts (or ends) of entries 0 to 7, for the table traces.
struct FirstEight {
  ull v[8];
};
FirstEight first_eight(bool ends) {
  FirstEight f{};
  for (uint32_t i = 0; i < 8; ++i) f.v[i] = ends ? jaddr_t[i].end : jaddr_t[i].start;
  return f;
}

// Closes the open region at `address`; the table then has one more entry.
void close_region(uint64_t address, const char* how) {
  printfx(kPfTraceText, "get_exec_time()  tentative fail to %s Ex_jend_addr=%llx Ex_jump_cnt=%x\n",
          how, ull{address}, Ex_jump_cnt);
  jaddr_t[Ex_jump_cnt].end = address;
  ++Ex_jump_cnt;
  printfx(kPfTraceText, "get_exec_time()  tentative fail to %s Ex_jump_cnt INC.. -->%x\n", how,
          Ex_jump_cnt);
}

// Steps through the first 16 GiB and records every readable range.
void probe_regions(int fd) {
  const PmemDevice& dev = platform().pmem;
  char buf[kProbeBytes];
  Ex_jump_cnt = 0;
  bool readable = true;  // so an unreadable address 0 closes entry 0 as {0, 0}
  for (uint64_t address = 0; address < kProbeEnd; address += kProbeStep) {
    // A cancel stops the test thread here within a 256 MiB stretch.
    if (address % kSeekTraceStep == 0) cancel_checkpoint();
    int64_t reached = 0;
    if (seek_to(fd, address, &reached)) {
      const bool ok = dev.read(fd, buf, kProbeBytes) == static_cast<ssize_t>(kProbeBytes);
      if (ok && !readable) {
        jaddr_t[Ex_jump_cnt].start = address;
        readable = true;
        printfx(kPfTraceText,
                "get_exec_time()  tentative read OK !! again .. Ex_jump_addr=%llx Ex_jump_cnt=%x\n",
                ull{address}, Ex_jump_cnt);
      } else if (!ok && readable) {
        close_region(address, "read");
        readable = false;
      }
    } else {
      const int err = errno;
      if (address % kSeekTraceStep == 0 && address < kSeekTraceEnd) {
        printfx(kPfTraceText,
                "get_exec_time()  tentative lseek err. addr=%llx rtn=%llx errno=%d ( Fail to seek "
                ".. )\n",
                ull{address}, static_cast<ull>(reached), err);
        const FirstEight s = first_eight(false);
        printfx(kPfTraceText,
                "get_exec_time()  Ex_jump_addr[]={%llx,%llx,%llx,%llx,%llx,%llx,%llx,%llx}\n",
                s.v[0], s.v[1], s.v[2], s.v[3], s.v[4], s.v[5], s.v[6], s.v[7]);
      }
      if (readable) close_region(address, "seek");
      readable = false;
    }
    // More regions than the table holds: the probe stops with the table full
    // rather than write past it or merge ranges that have holes between them.
    // The regions after it are not read, and the estimate covers exactly the
    // regions that the read passes walk.
    if (Ex_jump_cnt == kPmemRegionSlots) {
      printfx(kPfTraceText, "get_exec_time()  region table full (%u entries) at %llx, probe ends\n",
              kPmemRegionSlots, ull{address});
      return;
    }
  }
  // A region still readable at 16 GiB is closed there, so that it is read
  // and counted in the estimate like any other; left open it would never be
  // jumped to, and an all-readable map would estimate 0 seconds. The read
  // passes go on past 16 GiB until a read fails, as at the end of any region.
  if (readable) {
    printfx(kPfTraceText, "get_exec_time()  still readable at the probe end Ex_jend_addr=%llx\n",
            ull{kProbeEnd});
    jaddr_t[Ex_jump_cnt].end = kProbeEnd;
    ++Ex_jump_cnt;
  }
}

// Seconds for one round: 2 for a region under one block, otherwise the
// WAITSEC pause after every 64 MiB block plus a read rate of 128 MiB/s.
void estimate_round(uint64_t* ex_sec) {
  printfx(kPfTraceText, "get_exec_time()  through 0  *ex_sec=%llx\n", ull{*ex_sec});
  for (uint32_t i = 0; i < Ex_jump_cnt; ++i) {
    const uint64_t size = jaddr_t[i].end - jaddr_t[i].start;
    if (size < kPmemBlockBytes) {
      *ex_sec += 2;
      continue;
    }
    *ex_sec += (size >> 26) * execute_waitsec.load();
    printfx(kPfTraceText, "get_exec_time()  through %d  jaddr0=%llx jaddr1=%llx\n",
            static_cast<int>(i), ull{jaddr_t[i].start}, ull{jaddr_t[i].end});
    printfx(kPfTraceText,
            "get_exec_time()  through %d  Ex_jump_cnt=%x execute_waitsec=%x *ex_sec=%llx\n",
            static_cast<int>(i), Ex_jump_cnt, execute_waitsec.load(), ull{*ex_sec});
    *ex_sec += size >> 27;
  }
  printfx(kPfTraceText, "get_exec_time()  through 20  *ex_sec=%llx\n", ull{*ex_sec});
}

}  // namespace

void pmem_report_open_error(const char* function_name) {
  Error_Details = Error_Details_t{};
  Error_Details.error_class = kClassSyscall;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.device_text = TEST_INF.device_name;
  std::strncpy(Error_Details.function_name, function_name, sizeof(Error_Details.function_name) - 1);
  VykTp2MemErrorDisp(&Error_Details);
  Ex_dwReturnValue = kRcSyscall;
}

int32_t get_exec_time(uint64_t* ex_sec) {
  Error_Details = Error_Details_t{};
  const PmemDevice& dev = platform().pmem;
  errno = 0;
  const int fd = dev.open_mem();
  const int open_errno = errno;
  // ABORT makes the open count as failed even when the device opened.
  const bool opened = fd >= 0 && Fake_Err[5] != 1;
  if (!opened) {
    printfx(kPfTraceText, "get_exec_time()  open error fd=%d errno=%d\n", fd, open_errno);
    pmem_report_open_error("open (get_exec_time)");
  } else {
    probe_regions(fd);
    const int count = static_cast<int>(Ex_jump_cnt);
    const FirstEight s = first_eight(false);
    printfx(kPfTraceText,
            "get_exec_time()  Ex_jump_addr[%d]={%llx,%llx,%llx,%llx,%llx,%llx,%llx,%llx}\n", count,
            s.v[0], s.v[1], s.v[2], s.v[3], s.v[4], s.v[5], s.v[6], s.v[7]);
    const FirstEight e = first_eight(true);
    printfx(kPfTraceText,
            "get_exec_time()  Ex_jend_addr[%d]={%llx,%llx,%llx,%llx,%llx,%llx,%llx,%llx}\n", count,
            e.v[0], e.v[1], e.v[2], e.v[3], e.v[4], e.v[5], e.v[6], e.v[7]);
    estimate_round(ex_sec);
  }
  if (fd >= 0) dev.close(fd);
  printfx(kPfTraceText, "get_exec_time()  end..  *ex_sec=%llx\n", ull{*ex_sec});
  return opened ? 0 : kOpenFailed;
}

uint32_t get_pmem_address() {
  if (Ex_pmem_start == 0) {
    pmad_t.start = Ex_test_ad != 0 ? Ex_test_ad : jaddr_t[0].start;
    Ex_pmem_start = 1;
  } else {
    pmad_t.start = Ex_test_ad_end_now.load();
  }
  return 0;
}

uint32_t put_pmem_address() {
  Ex_test_ad_now = pmad_t.start;
  Ex_test_ad_end_now = pmad_t.end;
  return 0;
}

uint32_t search_next_region(VykTp2MemStruct_t* /*ctl*/, uint64_t* address) {
  Error_Details = Error_Details_t{};
  const PmemDevice& dev = platform().pmem;
  char scratch[kSearchBytes];
  uint64_t a = *address;
  uint32_t result = 0;
  // Every turn that does not end moves the cursor one entry on, towards
  // Ex_jump_cnt, so the search always ends.
  for (;;) {
    int64_t reached = 0;
    if (!seek_to(Ex_found_fd, a, &reached)) {
      const int err = errno;
      printfx(kPfTraceText,
              "search_next_region()  tentative lseek err. addr=%llx rtn=%llx errno=%d ( Fail to "
              "seek .. )\n",
              ull{a}, static_cast<ull>(reached), err);
      printfx(kPfTraceText, "search_next_region()  Ex_sr_jump_cnt=%d Ex_jump_cnt=%d\n",
              static_cast<int>(Ex_sr_jump_cnt), static_cast<int>(Ex_jump_cnt));
      if (Ex_sr_jump_cnt >= Ex_jump_cnt) {
        printfx(kPfTraceText,
                "search_next_region()  tentative lseek err. occurred, return for lap !\n");
        result = kPmemLap;
        break;
      }
      printfx(kPfTraceText, "search_next_region()  tentative lseek Ex_jump_addr[%d]=%llx\n",
              static_cast<int>(Ex_sr_jump_cnt), ull{jaddr_t[Ex_sr_jump_cnt].start});
      a = jaddr_t[Ex_sr_jump_cnt].start;
      ++Ex_sr_jump_cnt;
      continue;
    }
    const ssize_t n = dev.read(Ex_found_fd, scratch, kSearchBytes);
    if (n == static_cast<ssize_t>(kSearchBytes)) break;
    const int err = errno;
    printfx(kPfTraceText,
            "search_next_region()  tentative read addr=%llx size=0x200 rtn=%x errno=%d ( Fail to "
            "read .. )\n",
            ull{a}, static_cast<unsigned>(n), err);
    if (Ex_jump_cnt != 0 && a == jaddr_t[Ex_jump_cnt - 1].end) {
      Ex_sr_jump_cnt = Ex_jump_cnt;
      printfx(kPfTraceText, "search_next_region()  reached readable memory-end !!!! 0x%llx\n",
              ull{a});
    }
    printfx(kPfTraceText, "search_next_region()  Ex_sr_jump_cnt=%d Ex_jump_cnt=%d\n",
            static_cast<int>(Ex_sr_jump_cnt), static_cast<int>(Ex_jump_cnt));
    if (Ex_sr_jump_cnt >= Ex_jump_cnt) {
      printfx(kPfTraceText,
              "search_next_region()  tentative read err. occurred, return for lap !\n");
      Ex_sr_jump_cnt = 1;
      result = kPmemLap;
      break;
    }
    const uint32_t c = Ex_sr_jump_cnt;
    printfx(kPfTraceText,
            "search_next_region()  tentative read Ex_jump_addr[%d]=%llx Ex_jend_addr[%d]=%llx\n",
            static_cast<int>(c), ull{jaddr_t[c].start}, static_cast<int>(c), ull{jaddr_t[c].end});
    a = jaddr_t[c].start;
    ++Ex_sr_jump_cnt;
    printfx(kPfTraceText, "search_next_region()  tentative read Ex_sr_jump_cnt=%d AFTER INC...\n",
            static_cast<int>(Ex_sr_jump_cnt));
  }
  *address = a;
  return result;
}
