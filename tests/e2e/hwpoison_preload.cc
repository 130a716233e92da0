// Loaded into memtest inside the test virtual machine only: takes one page
// of the first test chunk out of service through the kernel's own
// memory-failure path (madvise MADV_HWPOISON, which needs CAP_SYS_ADMIN and
// a kernel built with memory-failure handling), as an uncorrectable ECC error
// would. memtest then meets the poisoned page the way it meets a real one:
// SIGBUS with BUS_MCEERR_AR when a sweep touches it. Never load this on a
// machine whose memory matters: the page stays poisoned until reboot.
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" void* __libc_malloc(size_t size);

namespace {

std::atomic<bool> g_done{false};

// The kernel signals the poisoning task at once; that signal is this
// library's, not memtest's.
void ignore_own_signal(int) {}

void poison_one_page(void* chunk, size_t size) {
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t middle = reinterpret_cast<uintptr_t>(chunk) + size / 2;
  auto* target = reinterpret_cast<volatile char*>(middle & ~(page - 1));
  *target = 1;  // a page of its own, not the shared zero page
  struct sigaction quiet {
  }, old{};
  quiet.sa_handler = &ignore_own_signal;
  sigemptyset(&quiet.sa_mask);
  sigaction(SIGBUS, &quiet, &old);
  const int rc = madvise(const_cast<char*>(target), page, MADV_HWPOISON);
  sigaction(SIGBUS, &old, nullptr);
  std::fprintf(stderr, "hwpoison_preload: page 0x%lx offset 0x%lx: %s\n",
               static_cast<unsigned long>(reinterpret_cast<uintptr_t>(target)),
               static_cast<unsigned long>(reinterpret_cast<uintptr_t>(target) -
                                          reinterpret_cast<uintptr_t>(chunk)),
               rc == 0 ? "poisoned" : "refused");
}

}  // namespace

extern "C" void* malloc(size_t size) {
  void* p = __libc_malloc(size);
  if (p != nullptr && size >= (size_t{1} << 20) && !g_done.exchange(true)) {
    poison_one_page(p, size);
  }
  return p;
}
