// Loaded into memtest with LD_PRELOAD: counts the distinct physical pages of
// every large block the program gives back (free), read from
// /proc/self/pagemap just before it goes (root only: the kernel hides frame
// numbers otherwise), and writes the total to $COVERAGE_OUT at exit. It sees
// the chunks from outside, so it checks the program's own count rather than
// repeating it.
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint64_t kPresent = uint64_t{1} << 63;
constexpr uint64_t kFrameMask = (uint64_t{1} << 55) - 1;
constexpr size_t kSmallest = size_t{1} << 20;       // thread stacks and such stay out
constexpr uint64_t kMaxFrames = uint64_t{1} << 25;  // 128 GiB of 4 KiB pages

// No heap here: the hook runs inside free.
uint64_t g_seen[kMaxFrames / 64];
uint64_t g_distinct = 0;
uint64_t g_freed = 0;
bool g_hidden = false;

using FreeFn = void (*)(void*);

void count(void* addr, size_t len) {
  const int fd = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const long page = sysconf(_SC_PAGESIZE);
  const uint64_t first = reinterpret_cast<uintptr_t>(addr) / page;
  const uint64_t pages = (len + page - 1) / page;
  uint64_t entries[512];
  for (uint64_t p = 0; p < pages;) {
    const uint64_t want = pages - p < 512 ? pages - p : 512;
    const ssize_t n = pread(fd, entries, want * 8, static_cast<off_t>((first + p) * 8));
    if (n <= 0) break;
    for (ssize_t i = 0; i < n / 8; ++i) {
      if ((entries[i] & kPresent) == 0) continue;
      g_freed += page;
      const uint64_t pfn = entries[i] & kFrameMask;
      if (pfn == 0) g_hidden = true;
      if (pfn == 0 || pfn >= kMaxFrames) continue;
      const uint64_t bit = uint64_t{1} << (pfn % 64);
      if ((g_seen[pfn / 64] & bit) == 0) g_distinct += page;
      g_seen[pfn / 64] |= bit;
    }
    p += static_cast<uint64_t>(n / 8);
  }
  close(fd);
}

__attribute__((destructor)) void report() {
  const char* out = std::getenv("COVERAGE_OUT");
  if (out == nullptr) return;
  if (FILE* f = std::fopen(out, "w")) {
    std::fprintf(f, "distinct %llu freed %llu hidden %d\n",
                 static_cast<unsigned long long>(g_distinct),
                 static_cast<unsigned long long>(g_freed), g_hidden ? 1 : 0);
    std::fclose(f);
  }
}

}  // namespace

extern "C" void free(void* block) {
  static const auto real = reinterpret_cast<FreeFn>(dlsym(RTLD_NEXT, "free"));
  if (block != nullptr) {
    const size_t len = malloc_usable_size(block);
    if (len >= kSmallest) count(block, len);
  }
  real(block);
}
