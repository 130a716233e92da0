// Preloaded into the real memtest by the end-to-end tests only: an open of
// "/dev/mem" gets a descriptor of the simulated physical memory that
// MEMTEST_PHYSMEM describes (tests/support/physmem_sim.h); seeks, reads and
// the close on that descriptor go to the simulation, all else to the C
// library. Without MEMTEST_PHYSMEM the program sees the machine's /dev/mem.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "physmem_sim.h"

namespace {

std::atomic<int> g_fd{-1};  // the descriptor standing for /dev/mem
physmem::Device g_dev;      // used by the test thread only

template <typename Fn>
Fn next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  static const auto real = next<int (*)(const char*, int, ...)>("open");
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(ap, mode_t) : 0;
  va_end(ap);
  const char* map = std::getenv("MEMTEST_PHYSMEM");
  if (map == nullptr || std::strcmp(path, "/dev/mem") != 0) {
    return real(path, flags, mode);
  }
  if ((flags & O_ACCMODE) != O_RDONLY)
    std::fprintf(stderr, "/dev/mem not read-only\n"), std::abort();
  g_dev = physmem::Device{};
  const std::string error = physmem::parse(map, &g_dev.map);
  if (!error.empty()) std::fprintf(stderr, "MEMTEST_PHYSMEM: %s\n", error.c_str()), std::abort();
  if (g_dev.map.open_fails) return errno = EACCES, -1;
  g_fd = real("/dev/null", O_RDONLY);
  return g_fd;
}

off64_t lseek64(int fd, off64_t offset, int whence) {
  static const auto real = next<off64_t (*)(int, off64_t, int)>("lseek64");
  if (fd != g_fd || whence != SEEK_SET) return real(fd, offset, whence);
  return g_dev.seek(static_cast<uint64_t>(offset));
}

ssize_t read(int fd, void* buf, size_t n) {
  static const auto real = next<ssize_t (*)(int, void*, size_t)>("read");
  return fd == g_fd ? g_dev.read(n) : real(fd, buf, n);
}

int close(int fd) {
  static const auto real = next<int (*)(int)>("close");
  int expected = fd;
  if (fd >= 0) g_fd.compare_exchange_strong(expected, -1);
  return real(fd);
}

}  // extern "C"
