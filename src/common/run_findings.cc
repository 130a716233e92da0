#include "common/run_findings.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/edac.h"
#include "common/logfile.h"
#include "common/page_offline.h"
#include "common/pagemap.h"
#include "common/platform.h"
#include "common/smbios.h"
#include "common/test_inf.h"
#include "state/memstruct.h"

namespace {

PfnSet g_pages;                // distinct frames of the chunks tested
bool g_pages_unknown = false;  // a chunk gave no frames: coverage not known
bool g_offline = false;        // the quarantine was asked for
std::atomic<bool> g_started{false};
std::atomic<bool> g_ended{false};

// A small file under /proc through the platform, without its final newline.
void read_small_file(const char* path, char* out, size_t size) {
  out[0] = '\0';
  const int fd = platform().open_file(path, O_RDONLY);
  if (fd < 0) return;
  const ssize_t n = platform().read_file_at(fd, out, size - 1, 0);
  platform().close_file(fd);
  const size_t len = n > 0 ? static_cast<size_t>(n) : 0;
  out[len] = '\0';
  out[std::strcspn(out, "\n")] = '\0';
}

void append(char* out, size_t size, const char* text) {
  const size_t used = std::strlen(out);
  if (used + 1 < size) std::snprintf(out + used, size - used, "%s", text);
}

// The DIMM of a located cell: the memory device whose mapped range holds the
// address, where the firmware tells it; else the one DIMM whose EDAC counters
// grew since the run began (several that grew: none of them is named).
void find_dimm(FailingCell* cell) {
  if (cell->where.status == PhysStatus::kLocated &&
      smbios_dimm_of(cell->where.phys, cell->dimm, sizeof cell->dimm)) {
    return;
  }
  EdacSnapshot now;
  edac_read(&now);
  EdacGrowth grown[2];
  const uint32_t n = edac_growth(run_report().edac_start, now, grown, 2);
  if (n == 1 || (n == 2 && grown[1].now.dimm[0] == '\0')) {
    const EdacCounter& c = grown[0].now;
    if (c.label[0] != '\0') {
      std::snprintf(cell->dimm, sizeof cell->dimm, "%s", c.label);
    } else {
      std::snprintf(cell->dimm, sizeof cell->dimm, "%s%s%s", c.mc, c.dimm[0] ? "/" : "", c.dimm);
    }
  }
}

void trace_location(const FailingCell& cell) {
  const PhysLocation& w = cell.where;
  if (w.status == PhysStatus::kLocated) {
    printfx(kPfTraceText,
            "_LocateCell()  adr=0x%llx physical address=0x%llx pfn=0x%llx%s dimm=%s\n",
            static_cast<unsigned long long>(cell.vaddr), static_cast<unsigned long long>(w.phys),
            static_cast<unsigned long long>(w.pfn), w.poisoned ? " poisoned" : "",
            cell.dimm[0] != '\0' ? cell.dimm : "not known");
  } else {
    printfx(kPfTraceText, "_LocateCell()  adr=0x%llx physical address not retrieved: %s\n",
            static_cast<unsigned long long>(cell.vaddr), phys_status_text(w.status));
  }
}

void offline_cells(RunReport& r) {
  const int64_t before = meminfo_hardware_corrupted_kib();
  for (uint32_t i = 0; i < r.cell_count; ++i) {
    FailingCell& cell = r.cells[i];
    // Only a page this run located itself is ever offlined.
    if (cell.where.status != PhysStatus::kLocated) {
      cell.offline = OfflineResult::kNotLocated;
      printfx(kPfTraceText, "_Offline()  adr=0x%llx not located: not offlined\n",
              static_cast<unsigned long long>(cell.vaddr));
      continue;
    }
    cell.offline_errno = page_soft_offline(cell.where.phys);
    cell.offline = cell.offline_errno == 0 ? OfflineResult::kOfflined : OfflineResult::kFailed;
    printfx(kPfTraceText, "_Offline()  physical address=0x%llx soft offline %s (errno=%d)\n",
            static_cast<unsigned long long>(cell.where.phys),
            cell.offline_errno == 0 ? "done" : "refused", cell.offline_errno);
  }
  printfx(kPfTraceText, "_Offline()  HardwareCorrupted %lld kB before, %lld kB after\n",
          static_cast<long long>(before), static_cast<long long>(meminfo_hardware_corrupted_kib()));
}

void trace_edac_growth(const RunReport& r) {
  if (!r.edac_end.present) {
    printfx(kPfTraceText, "_EdacCounters()  no EDAC counters on this host\n");
    return;
  }
  EdacGrowth grown[kEdacMaxCounters];
  const uint32_t n = edac_growth(r.edac_start, r.edac_end, grown, kEdacMaxCounters);
  for (uint32_t i = 0; i < n; ++i) {
    const EdacCounter& c = grown[i].now;
    printfx(kPfTraceText, "_EdacCounters()  %s%s%s label=%s ce+%llu ue+%llu\n", c.mc,
            c.dimm[0] ? "/" : "", c.dimm, c.label[0] ? c.label : "-",
            static_cast<unsigned long long>(grown[i].ce_delta),
            static_cast<unsigned long long>(grown[i].ue_delta));
  }
  if (n == 0) printfx(kPfTraceText, "_EdacCounters()  no growth during the run\n");
}

}  // namespace

const char* algorithm_of_ref_no(uint32_t ref_no) {
  if (ref_no == 1) return "MSCAN";
  if (ref_no == 2 || ref_no == 3) return "MARCH";
  if (ref_no >= 4 && ref_no <= 11) return "MASEST";
  if (ref_no == 13) return "BMOVE";
  if (ref_no >= 14 && ref_no <= 16) return "IMOVE";
  return "";
}

void findings_run_start(int argc, char** argv) {
  run_report_clear();
  pfn_set_clear(&g_pages);
  g_pages_unknown = false;
  g_offline = false;
  g_ended.store(false);
  g_started.store(true);
  RunReport& r = run_report();
  read_small_file("/proc/sys/kernel/hostname", r.host, sizeof r.host);
  r.start_time = platform().time_now();
  tm t{};
  gmtime_r(&r.start_time, &t);
  // Cut to the field should the host name be very long.
  if (std::snprintf(r.run_id, sizeof r.run_id, "%s-%04d%02d%02dT%02d%02d%02dZ-%ld",
                    r.host[0] ? r.host : "host", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                    t.tm_hour, t.tm_min, t.tm_sec, static_cast<long>(getpid())) < 0) {
    r.run_id[0] = '\0';
  }
  for (int i = 1; argv != nullptr && i < argc && argv[i] != nullptr; ++i) {
    if (i > 1) append(r.options, sizeof r.options, " ");
    append(r.options, sizeof r.options, argv[i]);
    if (std::strcmp(argv[i], kOfflineKeyword) == 0) g_offline = true;
  }
  edac_read(&r.edac_start);
  printfx(kPfTraceText, "_RunFindings()  run %s: EDAC %s, %u counters\n", r.run_id,
          r.edac_start.present ? "present" : "absent", r.edac_start.count);
}

void findings_chunk_tested(uint16_t algo, const void* chunk, uint64_t size) {
  RunReport& r = run_report();
  if (algo >= kAlgoMscan && algo <= kAlgoImove) {
    r.algorithms_run = static_cast<uint8_t>(r.algorithms_run | (1u << (algo - kAlgoMscan)));
  }
  r.bytes_visited += size;
  if (g_pages_unknown) return;
  if (pagemap_collect(chunk, size, &g_pages) == 0) g_pages_unknown = true;
}

void findings_pmem_read() {
  run_report().pmem_read = true;
}

void findings_cell(FailingCell* cell) {
  cell->where = phys_locate(reinterpret_cast<const void*>(static_cast<uintptr_t>(cell->vaddr)));
  find_dimm(cell);
  trace_location(*cell);
  RunReport& r = run_report();
  if (r.cell_count < kReportMaxCells) {
    r.cells[r.cell_count++] = *cell;
  } else {
    ++r.cells_dropped;
  }
}

void findings_run_end(const char* final_status, int exit_status, const char* fault) {
  // A run that never started (a cancel during start-up) has nothing to report.
  if (!g_started.load() || g_ended.exchange(true)) return;
  RunReport& r = run_report();
  r.end_time = platform().time_now();
  r.final_status = final_status;
  r.exit_status = exit_status;
  if (fault != nullptr) std::snprintf(r.fault, sizeof r.fault, "%s", fault);
  r.distinct_known = !g_pages_unknown && r.bytes_visited > 0;
  r.distinct_bytes = pfn_set_count(g_pages) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  printfx(kPfTraceText, "_RunFindings()  visited 0x%llx bytes, distinct physical %s0x%llx bytes\n",
          static_cast<unsigned long long>(r.bytes_visited), r.distinct_known ? "" : "(not known) ",
          static_cast<unsigned long long>(r.distinct_bytes));
  edac_read(&r.edac_end);
  trace_edac_growth(r);
  if (g_offline) offline_cells(r);
  const int rc = TEST_INF.trace_dir[0] != '\0' ? run_report_write(r, TEST_INF.trace_dir) : ENOENT;
  printfx(kPfTraceText, "_RunFindings()  run report %s/%s: %s\n", TEST_INF.trace_dir, kReportName,
          rc == 0 ? "written" : std::strerror(rc));
}

void findings_clear() {
  g_started.store(false);
  run_report_clear();
  pfn_set_clear(&g_pages);
  g_pages_unknown = false;
  g_offline = false;
  g_ended.store(false);
}
