#include "driver/cancel.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "algorithms/pattern.h"
#include "common/logfile.h"
#include "common/platform.h"
#include "common/run_findings.h"
#include "common/transmit.h"
#include "driver/chunk.h"
#include "driver/cover.h"
#include "progress/progress.h"
#include "state/final_status.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/pmem_state.h"

// Taken by the cancel routine and never released. Initialised statically
// rather than by the run controller, so that a cancel that starts before the
// run controller runs is never undone by a second initialisation.
pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

// Guards cancel_handler while the run controller clears and re-stores it, so
// the signal thread never sees the short gap in between.
pthread_mutex_t g_handler_mutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<bool> g_signal_thread_started{false};

// How long the cancel routine waits for the test thread to reach a stopping
// point. The test thread reaches one within a 32 KiB sweep step, a parser
// token or a second of pause, so this is only a guard against a hang.
constexpr int kParkWaitMs = 5000;

// Helper threads get a stack of their own size instead of the default (8 MiB
// or more, from RLIMIT_STACK), for which a tight RLIMIT_AS may have no room.
// The deepest frame is a record being built (34 KiB).
constexpr size_t kHelperStack = 256 * 1024;

// The signals that cancel the test: SIGINT from the controlling process, and
// SIGTERM and SIGHUP, with which a service manager or a closing session stop
// a program. A SIGHUP ignored at start (nohup) stays ignored.
sigset_t g_cancel_signals;

sigset_t cancel_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

// The fallback handler: lock-free atomics only. Its claim raises the cancel
// request, and the test thread, which sees it at its next stopping point,
// runs cancel_on_test_thread there.
void cancel_signal_handler(int) {
  if (TEST_INF.cancel_handler.load() != nullptr) memtest_claim_cancel();
}

[[noreturn]] void finish_cancel(bool test_stopped);

[[noreturn]] void cancel_on_test_thread() {
  pthread_mutex_lock(&mutex);
  finish_cancel(true);
}

void* signal_thread_main(void*) {
  for (;;) {
    int sig = 0;
    if (sigwait(&g_cancel_signals, &sig) == 0) sigint_function();
  }
  return nullptr;
}

}  // namespace

void sigint_block() {
  sigset_t set = cancel_signal_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int start_helper_thread(pthread_t* tid, void* (*fn)(void*), void* arg, bool detached) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, std::max<size_t>(kHelperStack, PTHREAD_STACK_MIN));
  if (detached) pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  const int rc = pthread_create(tid, &attr, fn, arg);
  pthread_attr_destroy(&attr);
  return rc;
}

void sigint_setup(CancelHandler routine) {
  if (routine != nullptr) TEST_INF.cancel_handler.store(routine);
  bool expected = false;
  if (!g_signal_thread_started.compare_exchange_strong(expected, true)) return;
  g_cancel_signals = cancel_signal_set();
  struct sigaction old {};
  if (sigaction(SIGHUP, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
    sigdelset(&g_cancel_signals, SIGHUP);
    sigset_t hup;
    sigemptyset(&hup);
    sigaddset(&hup, SIGHUP);
    pthread_sigmask(SIG_UNBLOCK, &hup, nullptr);
  }
  // The signals are blocked in every thread (the main thread blocked them
  // first thing, and new threads inherit the mask); this thread alone takes
  // them.
  pthread_sigmask(SIG_BLOCK, &g_cancel_signals, nullptr);
  pthread_t tid;
  if (start_helper_thread(&tid, &signal_thread_main, nullptr, true) == 0) return;

  // No thread (RLIMIT_NPROC reached, no room for a stack): a signal must
  // still cancel, so a handler takes the signals in whichever thread they
  // reach, and the test thread runs the cancel routine at its next stopping
  // point (every sweep span, parser token, second of a pause and chunk).
  set_cancel_on_test_thread(&cancel_on_test_thread);
  struct sigaction sa {};
  sa.sa_handler = &cancel_signal_handler;
  sigfillset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigismember(&g_cancel_signals, sig) == 1) sigaction(sig, &sa, nullptr);
  }
  pthread_sigmask(SIG_UNBLOCK, &g_cancel_signals, nullptr);
}

void sigint_handler_lock() {
  pthread_mutex_lock(&g_handler_mutex);
}
void sigint_handler_unlock() {
  pthread_mutex_unlock(&g_handler_mutex);
}

void sigint_function() {
  pthread_mutex_lock(&g_handler_mutex);
  CancelHandler handler = TEST_INF.cancel_handler.load();
  pthread_mutex_unlock(&g_handler_mutex);
  if (handler != nullptr) handler();
}

void Memtest_Cancel() {
  pthread_mutex_lock(&mutex);
  if (!memtest_claim_cancel()) {
    // The test has already finished and is sending its own final records;
    // that end stands, and this cancel only waits for the process to end.
    for (;;) pause();
  }
  // The claim raised execute_cancel. The cancel works with the state of the
  // test thread, so it waits until that thread has stopped for good; only
  // then is its chunk released. Should the test thread not stop in time, its
  // chunk is left to the process end.
  finish_cancel(wait_test_thread_stopped(kParkWaitMs));
}

namespace {

void finish_cancel(bool test_stopped) {
  if (Ex_pmem_FIND == 1) {
    printfx(kPfTraceText, "_Cancel()  PMEM read done..=0x%llx\n",
            static_cast<unsigned long long>(Ex_dwlDebug_MSize.load()));
  }
  printfx(kPfTraceMsg | kPfLogRecord1, "Ixx90", "memtest");

  if (test_stopped) {
    void* chunk = Ex_lpCommittedBuffer.load();
    if (chunk != nullptr) {
      VykTp2FreeMemoryChunk(chunk);
      printfx(kPfTraceText, "_Cancel()  CommittedBuffer Free(adr=%x size=%x)\n",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(chunk)),
              Ex_Committed_dwSize.load());
      Ex_lpCommittedBuffer = nullptr;
    }
    if (cover_held() != 0) {
      printfx(kPfTraceText, "_Cancel()  Cover chunks Free(count=%llu)\n",
              static_cast<unsigned long long>(cover_held()));
      cover_release();
    }
    if (lpTempString != nullptr || bpPtnData != nullptr) {
      std::free(lpTempString);
      std::free(bpPtnData);
      lpTempString = nullptr;
      bpPtnData = nullptr;
      printfx(kPfTraceText, "_Cancel() lpTempString, bpPtnData Free\n");
    }
  }

  const uint32_t level = Ex_dwTestLevel.load();
  if (level >= 1 && level <= 3 && Ex_Thread_End_f == 0) {
    Ex_Thread_End_f = 1;
    printfx(kPfTraceText, "_Cancel()  Terminate Thread(exitcode=0x%x)\n", 0u);
    // The areas (message table, list buffers) are left to the process end:
    // the progress thread may still be formatting a record, and nothing of
    // them is needed again before the exit below.
  }
  // A progress step already under way finishes before the final records,
  // so no running record comes after the Canceled one.
  progress_quiesce();
  const uint64_t tkind = Ex_dwDebug_TKind.load();
  printfx(kPfTraceText, "_Cancel() Ex_dwDebug_TKind=0x%08x%08x\n",
          static_cast<unsigned>(tkind >> 32), static_cast<unsigned>(tkind));
  transmit_status(kStatusCanceled, 0, 0, nullptr);
  findings_run_end("Canceled", 2, nullptr);
  std::fflush(nullptr);
  // A replaced end of the process may come back; the process ends all the same.
  platform().end_process(2);
  _exit(2);
}

}  // namespace
