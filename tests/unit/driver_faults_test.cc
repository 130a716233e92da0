// Faults while an algorithm runs over a chunk: a machine check in the chunk
// is a memory error of that algorithm, anything else an abort list. The
// signals are the kernel's own kinds (si_code, si_addr), queued to this
// thread while MSCAN reads the clock in the middle of its sweeps; no page is
// poisoned.
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "driver/fault_guard.h"
#include "driver/main_seq.h"
#include "fixture.h"
#include "params/parse_param.h"
#include "params/prescan.h"

namespace {

using ut::world;

struct Injection {
  int sig;
  int code;
  int64_t offset;  // from the chunk's start
  int at_read;     // the clock read over a held chunk during which it comes
};
Injection g_inject;
int g_reads;

void send_to_self(int sig, int code, uint64_t addr) {
  siginfo_t si{};
  si.si_signo = sig;
  si.si_code = code;
  si.si_addr = reinterpret_cast<void*>(static_cast<uintptr_t>(addr));
  si.si_addr_lsb = 12;
  syscall(SYS_rt_tgsigqueueinfo, getpid(), static_cast<pid_t>(syscall(SYS_gettid)), sig, &si);
}

int clock_with_fault(timeval* tv) {
  if (!world().live_chunks.empty() && ++g_reads == g_inject.at_read) {
    const auto chunk = reinterpret_cast<uintptr_t>(*world().live_chunks.begin());
    send_to_self(g_inject.sig, g_inject.code, chunk + g_inject.offset);
  }
  return ut::fake_platform().time_of_day(tv);
}

class DriverFault : public ut::MemtestTest {
 protected:
  // MSCAN over one 1 MiB chunk with the fault injected; returns the result.
  uint32_t run(Injection inject) {
    fault_guard_install(nullptr);
    g_inject = inject;
    g_reads = 0;
    platform_.time_of_day = &clock_with_fault;
    uint8_t sel[5] = {};
    uint64_t done[5] = {}, counters = 0;
    uint32_t err = 0;
    ut::Args args("-tp MSCAN -size 1 -runtime 9");
    Pre_Getp_ForProgress(Ex_argv = args.argv());
    VykTp2ParseParam2(Ex_argv, &VykTp2MemStruct, sel, &err);
    return VykTp2Mem(&VykTp2MemStruct, &counters, done, sel);
  }
  bool output_has(const std::string& text) const {
    return output().find(text) != std::string::npos;
  }
};

TEST_F(DriverFault, MachineCheckInTheChunkIsAMemoryErrorOfTheAlgorithm) {
  EXPECT_EQ(run({SIGBUS, BUS_MCEERR_AR, 0x3008, 3}), kRcCompare);
  EXPECT_TRUE(output_has("MSCAN Data Compare Error(Ref No. 1)")) << output();
  EXPECT_TRUE(output_has("Physical Address=Not Retrieved"));
  EXPECT_EQ(Error_Details.offset_ref, 0x3008u);
  EXPECT_EQ((Ex_error_list_level.load() & 0x80000000u), 0u);
  // The chunk is never given back: its poisoned page is not touched again.
  EXPECT_EQ(world().live_chunks.size(), 1u);
  EXPECT_EQ(Ex_lpCommittedBuffer.load(), nullptr);
  EXPECT_NE(trace_log().find("SIGBUS BUS_MCEERR_AR adr=0x"), std::string::npos);
}

TEST_F(DriverFault, MachineCheckOutsideTheChunkAborts) {
  EXPECT_EQ(run({SIGBUS, BUS_MCEERR_AR, -0x100000, 3}), kRcSyscall);
  EXPECT_TRUE(output_has("Function : SIGBUS BUS_MCEERR_AR at 0x")) << output();
  EXPECT_NE((Ex_error_list_level.load() & 0x80000000u), 0u);
}

TEST_F(DriverFault, AccessFaultAbortsNamingTheSignal) {
  EXPECT_EQ(run({SIGSEGV, SEGV_MAPERR, 0x10, 2}), kRcSyscall);
  EXPECT_TRUE(output_has("Function : SIGSEGV SEGV_MAPERR at 0x")) << output();
  EXPECT_EQ(world().live_chunks.size(), 1u);
}

TEST_F(DriverFault, MachineCheckFoundByTheKernelIsReportedAfterTheAlgorithm) {
  EXPECT_EQ(run({SIGBUS, BUS_MCEERR_AO, 0x2000, 3}), kRcCompare);
  EXPECT_TRUE(output_has("MSCAN Data Compare Error(Ref No. 1)")) << output();
  EXPECT_EQ(Error_Details.offset_ref, 0x2000u);
  // MSCAN ran its sweeps to the end before the check was taken.
  EXPECT_NE(trace_log().find("MSCAN done..="), std::string::npos);
}

}  // namespace
