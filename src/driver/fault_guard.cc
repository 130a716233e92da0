#include "driver/fault_guard.h"

#include <pthread.h>
#include <semaphore.h>
#include <setjmp.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "driver/cancel.h"

namespace {

// The armed run of the calling thread. The handler reads these on the thread
// that faulted, so they are per thread; a synchronous fault is always taken
// by the thread whose access failed.
thread_local sigjmp_buf t_jump;
thread_local volatile sig_atomic_t t_armed = 0;
thread_local GuardFault t_fault;

// The chunk each test thread has under test, for a machine check the kernel
// sends to whichever thread it picks (BUS_MCEERR_AO), and what such a check
// left for that test thread.
struct Slot {
  std::atomic<uintptr_t> chunk_begin{0};
  std::atomic<uintptr_t> chunk_end{0};
  std::atomic<bool> pending{false};
  std::atomic<uint64_t> pending_addr{0};
  std::atomic<int> pending_lsb{0};
};
Slot g_slots[kGuardSlots];
thread_local uint32_t t_slot = 0;

// A fault no armed run caught: the first one is reported, by the reporter
// thread, which the handler wakes with the semaphore (sem_post is
// async-signal-safe; nothing else the report needs is).
sem_t g_fatal_sem;
std::atomic<bool> g_reporter_running{false};
std::atomic<bool> g_fatal_taken{false};
std::atomic<int> g_fatal_sig{0};
std::atomic<int> g_fatal_code{0};
std::atomic<uint64_t> g_fatal_addr{0};
FatalFaultReport g_report = nullptr;

// How long a faulting thread waits for the reporter to end the process. The
// reporter may need a lock the faulting thread holds (the log, the heap);
// then the fault ends the process by its default action after all.
constexpr time_t kReporterWaitSec = 10;

// The handler's own stack for the thread that installs the guard (the test
// thread): a fault caused by a full stack still finds room to run on.
alignas(16) char g_alt_stack[64 * 1024];

int mce_lsb(const siginfo_t* si) {
#ifdef BUS_MCEERR_AR
  return si->si_addr_lsb;
#else
  (void)si;
  return 0;
#endif
}

bool is_mce_code(int sig, int code) {
#ifdef BUS_MCEERR_AR
  return sig == SIGBUS && (code == BUS_MCEERR_AR || code == BUS_MCEERR_AO);
#else
  (void)sig;
  (void)code;
  return false;
#endif
}

[[noreturn]] void die_by_default(int sig) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);  // a signal that could not end the process
}

void on_fault(int sig, siginfo_t* si, void*) {
  const auto addr = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(si->si_addr));
#ifdef BUS_MCEERR_AO
  if (sig == SIGBUS && si->si_code == BUS_MCEERR_AO) {
    // Asynchronous: no access failed here. A page of the chunk under test is
    // the test's error, taken after the algorithm; the kernel has already
    // taken any other page out of service, and touching it would come back
    // as BUS_MCEERR_AR.
    for (Slot& s : g_slots) {
      if (addr >= s.chunk_begin.load() && addr < s.chunk_end.load() && !s.pending.load()) {
        s.pending_addr.store(addr);
        s.pending_lsb.store(mce_lsb(si));
        s.pending.store(true);
      }
    }
    return;
  }
#endif
  // si_code > 0: raised by the access itself, not sent by another process.
  if (t_armed != 0 && si->si_code > 0) {
    t_armed = 0;
    t_fault.sig = sig;
    t_fault.code = si->si_code;
    t_fault.addr = addr;
    t_fault.lsb = is_mce_code(sig, si->si_code) ? mce_lsb(si) : 0;
    siglongjmp(t_jump, 1);
  }
  if (g_reporter_running.load() && !g_fatal_taken.exchange(true)) {
    g_fatal_sig.store(sig);
    g_fatal_code.store(si->si_code);
    g_fatal_addr.store(addr);
    sem_post(&g_fatal_sem);
  }
  // Sent by another process: nothing failed in this thread, which goes on
  // (it may hold the log the report needs) until the report ends the process.
  if (si->si_code <= 0 && g_reporter_running.load()) return;
  if (g_reporter_running.load()) {
    timespec left{kReporterWaitSec, 0};
    while (nanosleep(&left, &left) != 0) {
    }
  }
  die_by_default(sig);
}

void* reporter_main(void*) {
  // A fault sent to the process must reach another thread: this one waits
  // for the report it is to make.
  sigset_t faults;
  sigemptyset(&faults);
  sigaddset(&faults, SIGBUS);
  sigaddset(&faults, SIGSEGV);
  pthread_sigmask(SIG_BLOCK, &faults, nullptr);
  while (sem_wait(&g_fatal_sem) != 0) {
  }
  GuardFault fault;
  fault.sig = g_fatal_sig.load();
  fault.code = g_fatal_code.load();
  fault.addr = g_fatal_addr.load();
  g_report(fault);
  return nullptr;
}

}  // namespace

bool fault_is_machine_check(const GuardFault& fault) {
  return is_mce_code(fault.sig, fault.code);
}

const char* fault_signal_text(int sig) {
  switch (sig) {
    case SIGBUS:
      return "SIGBUS";
    case SIGSEGV:
      return "SIGSEGV";
    default:
      return "signal";
  }
}

const char* fault_code_text(int sig, int code) {
  if (sig == SIGSEGV) {
    if (code == SEGV_MAPERR) return "SEGV_MAPERR";
    if (code == SEGV_ACCERR) return "SEGV_ACCERR";
  }
  if (sig == SIGBUS) {
    if (code == BUS_ADRALN) return "BUS_ADRALN";
    if (code == BUS_ADRERR) return "BUS_ADRERR";
    if (code == BUS_OBJERR) return "BUS_OBJERR";
#ifdef BUS_MCEERR_AR
    if (code == BUS_MCEERR_AR) return "BUS_MCEERR_AR";
    if (code == BUS_MCEERR_AO) return "BUS_MCEERR_AO";
#endif
  }
  return code <= 0 ? "sent" : "other";
}

void fault_describe(const GuardFault& fault, char* out, size_t size) {
  if (fault.code <= 0) {  // sent: si_addr holds no address
    std::snprintf(out, size, "%s sent by another process", fault_signal_text(fault.sig));
    return;
  }
  std::snprintf(out, size, "%s %s at 0x%llx", fault_signal_text(fault.sig),
                fault_code_text(fault.sig, fault.code),
                static_cast<unsigned long long>(fault.addr));
}

void fault_guard_install(FatalFaultReport report) {
  stack_t ss{};
  ss.ss_sp = g_alt_stack;
  ss.ss_size = sizeof g_alt_stack;
  sigaltstack(&ss, nullptr);

  if (report != nullptr && !g_reporter_running.load() && sem_init(&g_fatal_sem, 0, 0) == 0) {
    g_report = report;
    pthread_t tid;
    // Without the thread an uncaught fault ends the process by its default
    // action, as it would without the guard.
    if (start_helper_thread(&tid, &reporter_main, nullptr, true) == 0) {
      g_reporter_running.store(true);
    }
  }

  struct sigaction sa {};
  sa.sa_sigaction = &on_fault;
  sigfillset(&sa.sa_mask);
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigaction(SIGBUS, &sa, nullptr);
  sigaction(SIGSEGV, &sa, nullptr);
}

void fault_guard_slot(uint32_t slot) {
  t_slot = slot < kGuardSlots ? slot : 0;
}

bool fault_guarded_run(void (*fn)(void* ctx), void* ctx, void* chunk, uint64_t size,
                       GuardFault* fault) {
  Slot& s = g_slots[t_slot];
  const auto begin = reinterpret_cast<uintptr_t>(chunk);
  s.chunk_begin.store(begin);
  s.chunk_end.store(begin + static_cast<uintptr_t>(size));
  // The signal mask is saved and put back by the jump: the handler runs with
  // every signal blocked.
  if (sigsetjmp(t_jump, 1) != 0) {
    s.chunk_end.store(0);
    *fault = t_fault;
    return false;
  }
  t_armed = 1;
  fn(ctx);
  t_armed = 0;
  s.chunk_end.store(0);
  return true;
}

bool fault_take_pending(GuardFault* fault) {
  Slot& s = g_slots[t_slot];
  if (!s.pending.exchange(false)) return false;
  fault->sig = SIGBUS;
#ifdef BUS_MCEERR_AO
  fault->code = BUS_MCEERR_AO;
#endif
  fault->addr = s.pending_addr.load();
  fault->lsb = s.pending_lsb.load();
  return true;
}
