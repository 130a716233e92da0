#include "driver/exec.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "algorithms/error_disp.h"
#include "common/area.h"
#include "common/eset.h"
#include "common/logfile.h"
#include "common/msgtbl.h"
#include "common/options.h"
#include "common/platform.h"
#include "common/result_list.h"
#include "common/run_findings.h"
#include "common/test_inf.h"
#include "common/transmit.h"
#include "driver/cancel.h"
#include "driver/cover.h"
#include "driver/fault_guard.h"
#include "driver/main_seq.h"
#include "driver/usage.h"
#include "params/prescan.h"
#include "pmem/pmem_map.h"
#include "progress/clock.h"
#include "progress/progress.h"
#include "progress/progress_message.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/pmem_state.h"
#include "state/test_level.h"

namespace {

enum class StartupFailure { kAreaTable, kCommonArgs, kMessageTable };

void setup_names(const char* argv0) {
  char name[17] = {};
  get_module_name(name, argv0, 16);
  transmit_setup(name, "MEM");
}

// Start-up failures end in an abort list and the "E0309" log record.
int32_t startup_failure(StartupFailure kind) {
  // The abort list is a final status: a cancel that already owns the end of
  // the process must not see a second one.
  if (!memtest_claim_end()) park_forever();
  eset_test_infomation(TEST_INF.module_name, TEST_INF.device_name);
  if (kind == StartupFailure::kAreaTable) {
    eset_etitle("Memory Allocate Error");
    eset_date();
    eset_system_call("malloc", -1);
    eset_action(1, "Exx91", TEST_INF.device_name);
  } else {
    const bool args = kind == StartupFailure::kCommonArgs;
    eset_etitle(args ? "common parameter error" : "message table error");
    eset_date();
    snprintfx(err_msg, sizeof err_msg, "%s",
              args ? "Starting Parameters ware Wrong." : "Messege Table was not Correct.");
    eset_action(1, "Exx99", err_msg);
    eset_action(2, "Exx91", TEST_INF.device_name);
  }
  Ex_error_list_level = kAbortListKind;
  put_skip_abort_list(kAbortListKind);

  char text[128];
  std::snprintf(text, sizeof text, "<<%s>> abnormal end. device:<<%s>>", TEST_INF.module_name,
                TEST_INF.device_name);
  char stamp[30];
  create_date_times(stamp, sizeof stamp);
  transmit_log(1, "E0309", stamp, text);
  tp_area_ctl(kAreaFreeAll, 0);
  return -1;
}

// Logs that cannot be written never change a run (the controller reads the
// records), but a person who named the directory is told once, on standard
// error.
void warn_if_logs_unwritable() {
  const int err = log_dir_error(TEST_INF.trace_dir);
  if (err == 0) return;
  char reason[96];
  char line[512];
  const int n = std::snprintf(
      line, sizeof line, "%s: log directory %s: %s; no logs will be written there\n",
      TEST_INF.module_name, TEST_INF.trace_dir, sys_error_text(err, reason, sizeof reason));
  if (n > 0) platform().write_error(line, std::min(static_cast<size_t>(n), sizeof line - 1));
}

// Frees every area at the end of memtest_exec. Claiming the end first keeps
// a cancel that is already under way from working on freed tables.
void release_areas_at_end() {
  if (!memtest_claim_end()) park_forever();
  tp_area_ctl(kAreaFreeAll, 0);
}

// Sends the final progress and status records for the result r. The caller
// has claimed the end of the process, so no cancel is requested and no run
// ended in 4: a cancel stops the test thread at a checkpoint and ends the
// process itself.
void final_report(int32_t r) {
  if (r == kRcOk) {
    progress_end_make_message_IA(Ex_progress_end_msg);
    if (Ex_dwTestLevel != 0) {
      const uint32_t t = execute_time_used == 1 ? TEST_INF.runtime : progress.elapsed_time;
      transmit_progress(t, 0, 100, 1, Ex_progress_end_msg);
    }
    if (execute_time_used == 1) {
      transmit_status(kStatusCompleted, 0, 0, nullptr);
    } else if (Ex_dwTestLevel == 0) {
      const uint32_t v = static_cast<uint32_t>(Ex_test_ad_end_now.load() >> 26);
      transmit_status(kStatusNoError, 1, v, nullptr);
    } else {
      transmit_status(kStatusNoError, 0, 0, nullptr);
    }
    return;
  }
  const bool aborted = (Ex_error_list_level.load() & kAbortListKind) != 0;
  if (Ex_dwTestLevel == 0) {
    const uint32_t w = static_cast<uint32_t>(Ex_test_ad_end_now.load());
    transmit_status(aborted ? kStatusAborted : kStatusErrorEnded, 1, w, nullptr);
  } else if (aborted) {
    transmit_status(kStatusAborted, 0, 0, nullptr);
  }
}

// A fault that no armed test caught (the reporter thread runs this): an
// abort list naming the signal and the address, then the final status, as a
// system call error ends a run, instead of a death without one.
void report_fatal_fault(const GuardFault& fault) {
  if (!memtest_claim_end()) park_forever();
  Error_Details_t details{};
  details.error_class = kClassSyscall;
  details.name_text = TEST_INF.module_name;
  details.device_text = TEST_INF.device_name;
  fault_describe(fault, details.function_name, sizeof details.function_name);
  printfx(kPfTraceText, "memtest  fatal fault: %s\n", details.function_name);
  VykTp2MemErrorDisp(&details);
  final_report(static_cast<int32_t>(kRcSyscall));
  findings_run_end("Aborted", static_cast<int>(kRcSyscall & 0xFF), details.function_name);
  std::fflush(nullptr);
  // The exit status main would give for the same result.
  const int status = static_cast<int>(kRcSyscall & 0xFF);
  platform().end_process(status);
  _exit(status);
}

// The final status a result ends with, for the run report: as final_report
// sends it (a memory error at level 1 to 3 sends none and ends Error Ended).
const char* final_status_name(int32_t r) {
  if (r == static_cast<int32_t>(kRcOk)) return execute_time_used == 1 ? "Completed" : "No Error";
  return (Ex_error_list_level.load() & kAbortListKind) != 0 ? "Aborted" : "Error Ended";
}

}  // namespace

void process_start_guard() {
  // A descriptor 0-2 closed at start would be taken by the next open: the
  // message table or a log file would become standard output, and records
  // would land in the trace log. /dev/null fills each gap (the records of a
  // closed standard output are lost, as they would be anyway); where it
  // cannot be opened, the root directory read-only does: writes to it fail.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDWR);
    if (opened < 0) opened = open("/", O_RDONLY | O_DIRECTORY);
    if (opened > fd) close(opened);  // only when a lower one was not free
  }
  // A controlling process that goes away must not kill the test halfway
  // through its logs: records to its pipe then fail with EPIPE and are
  // dropped, and the run ends as it would have, with its normal status.
  signal(SIGPIPE, SIG_IGN);
  // Under a file-size limit (ulimit -f) a log that reaches it must not end
  // the process: its writes then fail with EFBIG, the entries are dropped and
  // the run ends with its normal status.
  signal(SIGXFSZ, SIG_IGN);
  // So that no thread ever takes a cancel signal asynchronously; a signal
  // that comes early waits until the signal thread is there.
  sigint_block();
}

int memtest_main(int argc, char** argv) {
  process_start_guard();
  if (answer_usage_request(argc, argv)) return 0;
  Ex_argc = argc;
  Ex_argv = argv;
  setup_names(argc > 0 ? argv[0] : "");
  TEST_INF.test_mode = static_cast<uint32_t>(get_test_level(argc, argv));
  transmit_progress(0, 0, 0, 1, "I0399:<<Start processing Pass=0>>");
  transmit_module_vl(argc, argv);
  sigint_setup(&Memtest_Cancel);
  fault_guard_install(&report_fatal_fault);

  Ex_dwTestLevel = 0;
  int32_t r = memtest_exec(argc, argv);
  if (Ex_ret_thread_memtest != 1) r = Ex_ret_thread_memtest;
  printfx(kPfTraceText, "main()  memtest_exec() return=%d\n", r);
  if (!memtest_claim_end()) park_forever();
  final_report(r);
  // A start-up failure (-1) never began a test: it has no report.
  if (r != -1) findings_run_end(final_status_name(r), r & 0xFF, nullptr);
  return r;
}

int32_t memtest_exec(int argc, char** argv) {
  sigint_handler_lock();
  test_inf_clear();
  TEST_INF.test_start_time = platform().time_now();
  TEST_INF.cancel_handler = &Memtest_Cancel;
  sigint_handler_unlock();

  setup_names(argc > 0 ? argv[0] : "");
  eset_init();
  if (tp_area_ctl(kAreaCreate, 1024) != 0) return startup_failure(StartupFailure::kAreaTable);

  eset_init();
  if (common_arg_chk(argc, argv) != 0) return startup_failure(StartupFailure::kCommonArgs);
  warn_if_logs_unwritable();

  eset_init();
  int loaded = -1;
  if (TEST_INF.test_mode == kModeOnline) {
    loaded = get_msgtbl("onl_msge.txt");
  } else if (TEST_INF.test_mode == kModePatrol) {
    loaded = get_msgtbl("pat_msge.txt");
  }
  if (loaded != 0) return startup_failure(StartupFailure::kMessageTable);

  setup_names(argc > 0 ? argv[0] : "");
  ParamStruct = ParamStruct_t{};
  VykTp2MemStruct.param = &ParamStruct;
  Ex_MemStruct = &VykTp2MemStruct;
  printfx(kPfTraceMsg, "Ixx07", "Memory Test");
  findings_run_start(argc, argv);
  cover_setup(argc, argv);

  // The pre-scan gives 4 when it saw a cancel, which owns the end of the
  // process: the test thread stops here.
  if (Pre_Getp_ForProgress(argv) == 4) park_forever();

  pthread_t progress_thread;
  bool thread_created = false;
  int create_result = 0;
  if (test_level_row(Ex_dwTestLevel).progress_thread) {
    progress = progress_t{};
    progress.start_time = static_cast<uint32_t>(platform().time_now());
    progress.total_time = static_cast<uint32_t>(execute_time / 1000);
    if (Ex_pmem_FIND == 1) {
      // The probe maps physical memory and estimates one read round, which
      // becomes the progress thread's round length. Level 0 makes no probe:
      // a patrol run stays short, and its read pass starts at address 0 (or
      // PA) and reads on until a read fails.
      uint64_t est = 0;
      const int32_t r = get_exec_time(&est);
      if (r != 0) {
        release_areas_at_end();
        return r;
      }
      Ex_pmem_1round_sec = static_cast<uint32_t>(est);
      if (execute_time_used == 0) progress.total_time = static_cast<uint32_t>(est);
    }
    uintptr_t arg = 2;
    if (execute_infinity_used == 1) {
      progress.total_time = 0;
      arg = 1;
    }
    create_result =
        start_helper_thread(&progress_thread, &thread_memtest, reinterpret_cast<void*>(arg), false);
    thread_created = create_result == 0;
  }
  printfx(kPfTraceText, "memtest_exec()  pthread_create ret1=%d ret2=%d\n", 0, create_result);

  nonthread_memtest();
  if (thread_created) pthread_join(progress_thread, nullptr);
  cancel_checkpoint();

  const int32_t r = static_cast<int32_t>(Ex_dwReturnValue.load());
  printfx(kPfTraceMsg, r == kRcOk ? "Ixx08" : "Ixx09", "Memory Test");
  release_areas_at_end();
  return r;
}

uint32_t nonthread_memtest() {
  const uint32_t limit = Ex_dwTestLevel == 0 ? 1 : 0;
  const uint64_t start = memtest_GetTickCount();
  Ex_Prev_MSec = start;
  uint32_t r = kRcOk;
  uint32_t i = 1;
  bool finish_now = false;  // exit X: straight to the end, no single run
  while (i != limit) {
    cancel_checkpoint();
    const uint64_t now = memtest_GetTickCount();
    if (execute_infinity_used != 1 && time_limit_reached(run_time_limit(), start, now)) {
      finish_now = true;
      break;
    }
    r = VYTMEM_Main(Ex_dwTestLevel, limit, Ex_argc, Ex_argv);
    printfx(kPfTraceText, "nonthread_memtest()  VYTMEM_Main return code=0x%x\n", r);
    Ex_ret_thread_memtest = static_cast<int32_t>(r);
    if (r != kRcOk) break;
    if (execute_size_used == 1 && !is_long_level_time(execute_time)) {
      finish_now = true;
      break;
    }
    if (execute_time_used == 0) {
      finish_now = true;
      break;
    }
    ++i;
  }
  if (!finish_now) {
    if (r == kRcOk) {
      r = VYTMEM_Main(Ex_dwTestLevel, limit, Ex_argc, Ex_argv);
      Ex_ret_thread_memtest = static_cast<int32_t>(r);
    }
  }
  Ex_Thread_End_f = 1;
  return r;
}
