// What a run finds beyond the protocol records: where each failing cell lies
// (physical address, page frame, DIMM), how much distinct physical memory the
// chunks covered, the memory controllers' error counts at the start and the
// end, and the quarantine of failing pages. All of it goes to the trace log
// and the run report; the records and the error lists stay as they are.
#pragma once

#include <cstdint>

#include "common/run_report.h"

// The keyword that asks for the quarantine: after the run, every failing page
// whose frame was located is handed to the kernel's soft offline. The
// parameter parser's prefixes do not take it, so a run without it is the
// same as before, and a controlling process that does not know it is not
// affected.
inline constexpr const char* kOfflineKeyword = "-offline";

// At the start of the test: the host, the run id, the options, the start time
// and the EDAC counters.
void findings_run_start(int argc, char** argv);

// Algorithm `algo` (kAlgoMscan.. kAlgoImove) has gone over the chunk: counts
// the bytes and adds the chunk's physical pages to the distinct ones.
void findings_chunk_tested(uint16_t algo, const void* chunk, uint64_t size);
// The physical read has run.
void findings_pmem_read();

// A failing cell: located (physical address, frame, DIMM), traced, and kept
// for the report (the first kReportMaxCells; later ones are counted).
void findings_cell(FailingCell* cell);
// The algorithm a Ref No. belongs to ("" for none).
const char* algorithm_of_ref_no(uint32_t ref_no);

// At the end of the run, once its final status is out: the EDAC counters
// again, the quarantine when asked for, and the run report beside the trace
// log. Runs once per process; later calls do nothing.
void findings_run_end(const char* final_status, int exit_status, const char* fault);

// Back to no run: for the tests.
void findings_clear();
