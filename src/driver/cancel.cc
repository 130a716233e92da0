#include "driver/cancel.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "algorithms/pattern.h"
#include "common/logfile.h"
#include "common/transmit.h"
#include "driver/main_seq.h"
#include "progress/progress.h"
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
std::atomic<CancelExitFn> g_exit_fn{nullptr};

// How long the cancel routine waits for the test thread to reach a stopping
// point. The test thread reaches one within a 32 KiB sweep step, a parser
// token or a second of pause, so this is only a guard against a hang.
constexpr int kParkWaitMs = 5000;

sigset_t sigint_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  return set;
}

void sleep_ms(long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

void* signal_thread_main(void*) {
  sigset_t set = sigint_set();
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) == 0 && sig == SIGINT) sigint_function();
  }
  return nullptr;
}

// Waits until the test thread has stopped at a stopping point. Returns false
// when it did not within the guard time.
bool wait_for_test_thread() {
  for (int waited = 0; waited < kParkWaitMs; ++waited) {
    if (test_thread_parked()) return true;
    sleep_ms(1);
  }
  return test_thread_parked();
}

}  // namespace

void sigint_block() {
  sigset_t set = sigint_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void sigint_setup(CancelHandler routine) {
  if (routine != nullptr) TEST_INF.cancel_handler.store(routine);
  bool expected = false;
  if (!g_signal_thread_started.compare_exchange_strong(expected, true)) return;
  // SIGINT is blocked in every thread (the main thread blocked it first thing,
  // and new threads inherit the mask); this thread alone takes it.
  sigint_block();
  pthread_t tid;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (pthread_create(&tid, &attr, &signal_thread_main, nullptr) != 0) {
    g_signal_thread_started.store(false);
  }
  pthread_attr_destroy(&attr);
}

void set_cancel_exit_fn(CancelExitFn fn) {
  g_exit_fn.store(fn);
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
  execute_cancel = 1;

  // The cancel works with the state of the test thread, so it waits until
  // that thread has stopped for good; only then is its chunk released. Should
  // the test thread not stop in time, its chunk is left to the process end.
  const bool test_stopped = wait_for_test_thread();

  if (Ex_pmem_FIND == 1) {
    printfx(0x100C, "_Cancel()  PMEM read done..=0x%llx\n",
            static_cast<unsigned long long>(Ex_dwlDebug_MSize.load()));
  }
  printfx(0x200D, "Ixx90", "memtest");

  if (test_stopped) {
    void* chunk = Ex_lpCommittedBuffer.load();
    if (chunk != nullptr) {
      VykTp2FreeMemoryChunk(chunk);
      printfx(0x100C, "_Cancel()  CommittedBuffer Free(adr=%x size=%x)\n",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(chunk)),
              Ex_Committed_dwSize.load());
      Ex_lpCommittedBuffer = nullptr;
    }
    if (lpTempString != nullptr || bpPtnData != nullptr) {
      std::free(lpTempString);
      std::free(bpPtnData);
      lpTempString = nullptr;
      bpPtnData = nullptr;
      printfx(0x100C, "_Cancel() lpTempString, bpPtnData Free\n");
    }
  }

  const uint32_t level = Ex_dwTestLevel.load();
  if (level >= 1 && level <= 3 && Ex_Thread_End_f == 0) {
    Ex_Thread_End_f = 1;
    printfx(0x100C, "_Cancel()  Terminate Thread(exitcode=0x%x)\n", 0u);
    // The areas (message table, list buffers) are left to the process end:
    // the progress thread may still be formatting a record, and nothing of
    // them is needed again before the exit below.
  }
  // A progress step already under way finishes before the final records,
  // so no running record comes after the Canceled one.
  progress_quiesce();
  const uint64_t tkind = Ex_dwDebug_TKind.load();
  printfx(0x100C, "_Cancel() Ex_dwDebug_TKind=0x%08x%08x\n", static_cast<unsigned>(tkind >> 32),
          static_cast<unsigned>(tkind));
  transmit_status(2, 0, 0, nullptr);
  std::fflush(nullptr);
  if (CancelExitFn fn = g_exit_fn.load()) fn(2);
  _exit(2);
}
