// Machine checks and access faults while the test runs.
//
// On a server with ECC memory an uncorrectable error in a page the test
// touches reaches the process as SIGBUS with si_code BUS_MCEERR_AR (the
// access itself failed) or BUS_MCEERR_AO (the kernel found it on its own);
// a wild access gives SIGSEGV or another SIGBUS. By default each of them ends
// the process with no final status, and the controlling process sees a dead
// module instead of a memory error.
//
// While an algorithm runs over a chunk, the guard is armed on the test
// thread: a synchronous fault there stops the algorithm at once and the run
// reports it (fault_guarded_run). A machine check the kernel reports on its
// own for a page of the chunk under test is kept for the test thread to take
// after the algorithm returns. Any other fault, on any thread, is handed to a
// reporter thread that puts out an abort list and the final status.
#pragma once

#include <cstddef>
#include <cstdint>

struct GuardFault {
  int sig = 0;
  int code = 0;       // si_code
  uint64_t addr = 0;  // si_addr
  int lsb = 0;        // si_addr_lsb of a machine check: log2 of the poisoned range
};

// A machine check (BUS_MCEERR_AR or BUS_MCEERR_AO).
bool fault_is_machine_check(const GuardFault& fault);
// "SIGBUS BUS_MCEERR_AR", "SIGSEGV SEGV_MAPERR", ...: the signal and its code.
const char* fault_signal_text(int sig);
const char* fault_code_text(int sig, int code);
// "SIGSEGV SEGV_MAPERR at 0x7f0012345000", cut to size.
void fault_describe(const GuardFault& fault, char* out, size_t size);

// Installs the SIGBUS and SIGSEGV handlers, gives the calling thread a stack
// for them (a fault from a full stack still reaches its handler) and starts
// the reporter thread. `report` runs on the reporter thread for a fault that
// no armed test caught; it puts out the abort list and ends the process.
using FatalFaultReport = void (*)(const GuardFault& fault);
void fault_guard_install(FatalFaultReport report);

// Test threads that may run guarded at once, each in a slot of its own
// (the test thread in slot 0).
inline constexpr uint32_t kGuardSlots = 64;
void fault_guard_slot(uint32_t slot);
// Runs fn(ctx) over [chunk, chunk + size) with the guard armed on the calling
// thread. Returns true when fn returned; false when a synchronous fault
// stopped it, described in *fault. fn must not hold a lock or heap state
// that a fault in the chunk could leave half-changed: an algorithm's sweep
// touches only the chunk and its own locals.
bool fault_guarded_run(void (*fn)(void* ctx), void* ctx, void* chunk, uint64_t size,
                       GuardFault* fault);

// Takes a machine check the kernel reported on its own (BUS_MCEERR_AO) for
// the chunk of the calling thread's last guarded run. False when there is none.
bool fault_take_pending(GuardFault* fault);
