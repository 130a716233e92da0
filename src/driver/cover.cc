#include "driver/cover.h"

#include <fcntl.h>
#include <algorithm>

#include <atomic>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/logfile.h"
#include "common/page_offline.h"
#include "common/platform.h"
#include "driver/chunk.h"
#include "driver/fault_guard.h"
#include "driver/sweep_threads.h"
#include "state/memstruct.h"

namespace {

// What the system keeps for itself on top of what it has available: the
// larger of 256 MiB and a sixteenth of all memory. Without it a test size
// near MemAvailable would push the host into swap or the OOM killer, which is
// worse for a production server than a refused run.
constexpr uint64_t kMinReserve = uint64_t{256} << 20;
constexpr uint64_t kReserveShare = 16;

std::atomic<bool> g_cover{false};
std::atomic<uint32_t> g_threads{1};

// The chunks of the current pattern pass; empty slots were abandoned. Only
// the test thread changes them, and the cancel reads them only after that
// thread has stopped for good.
struct Held {
  std::vector<void*> chunks;
  uint32_t size = 0;
};
Held g_held;

// Refuses a plan that does not fit, with the numbers in the trace. Where
// /proc/meminfo cannot be read the plan is taken as it is (traced): the
// allocation itself still fails cleanly.
bool fits(uint64_t bytes) {
  const int64_t avail_kib = meminfo_kib("MemAvailable:");
  const int64_t total_kib = meminfo_kib("MemTotal:");
  if (avail_kib < 0 || total_kib < 0) {
    printfx(kPfTraceText, "_CoverMode()  MemAvailable not known: 0x%llx bytes taken unchecked\n",
            static_cast<unsigned long long>(bytes));
    return true;
  }
  const uint64_t avail = static_cast<uint64_t>(avail_kib) * 1024;
  const uint64_t total = static_cast<uint64_t>(total_kib) * 1024;
  const uint64_t reserve = std::max(kMinReserve, total / kReserveShare);
  if (avail > reserve && bytes <= avail - reserve) return true;
  printfx(kPfTraceText,
          "_CoverMode()  0x%llx bytes do not fit: MemAvailable 0x%llx less a reserve of 0x%llx\n",
          static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(avail),
          static_cast<unsigned long long>(reserve));
  return false;
}

// The CPUs the kernel has online ("0-3,6"), or 0 when it does not say.
uint32_t online_cpus() {
  PlatformFile f("/sys/devices/system/cpu/online", O_RDONLY);
  char buf[256];
  const ssize_t n = f.fd() < 0 ? -1 : platform().read_file_at(f.fd(), buf, sizeof buf - 1, 0);
  if (n <= 0) return 0;
  uint32_t count = 0;
  const char* p = buf;
  const char* end = buf + n;
  while (p < end && *p >= '0' && *p <= '9') {
    uint32_t first = 0;
    auto r = std::from_chars(p, end, first);
    uint32_t last = first;
    if (r.ptr < end && *r.ptr == '-') r = std::from_chars(r.ptr + 1, end, last);
    if (r.ec != std::errc{} || last < first) return 0;
    count += last - first + 1;
    p = r.ptr < end && *r.ptr == ',' ? r.ptr + 1 : r.ptr;
  }
  return count;
}

// "-threads N" as a separate word; a value that is no number of 0 to 64 is
// taken as 1 (traced): a typo never starts more threads than asked.
uint32_t threads_asked(int argc, char** argv) {
  const char* value = nullptr;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (std::strcmp(argv[i], kThreadsKeyword) == 0) value = i + 1 < argc ? argv[i + 1] : "";
  }
  if (value == nullptr) return 1;
  const std::string_view text = value;
  uint32_t n = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  if (r.ec != std::errc{} || r.ptr != text.data() + text.size() || n > kGuardSlots) {
    printfx(kPfTraceText, "_CoverMode()  -threads %s not understood: 1 thread\n", value);
    return 1;
  }
  if (n == 0) n = std::clamp(online_cpus(), uint32_t{1}, kGuardSlots);
  return n;
}

struct LockPass {
  uint32_t size = 0;
  std::atomic<uint64_t> unlocked{0};
};

bool lock_step(void* ctx, uint64_t c) {
  auto* pass = static_cast<LockPass*>(ctx);
  if (platform().lock_memory(g_held.chunks[static_cast<size_t>(c)], pass->size) != 0) {
    pass->unlocked.fetch_add(1);
  }
  return true;
}

}  // namespace

void cover_setup(int argc, char** argv) {
  bool on = false;
  for (int i = 1; argv != nullptr && i < argc && argv[i] != nullptr; ++i) {
    if (std::strcmp(argv[i], kCoverKeyword) == 0) on = true;
  }
  g_cover.store(on);
  const uint32_t threads = argv != nullptr ? threads_asked(argc, argv) : 1;
  g_threads.store(on ? threads : 1);
  if (on) {
    printfx(kPfTraceText, "_CoverMode()  on: every pattern pass holds its chunks, %u thread(s)\n",
            threads);
  } else if (threads != 1) {
    printfx(kPfTraceText, "_CoverMode()  off: -threads has no effect without -cover\n");
  }
}

uint32_t cover_threads() {
  return g_threads.load();
}

bool cover_mode() {
  return g_cover.load();
}

uint32_t cover_take(uint64_t count, uint32_t size) {
  cover_release();
  if (!fits(count * size)) return kRcSyscall;
  g_held.size = size;
  g_held.chunks.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    uint32_t status = 0;
    void* chunk = VykTp2GetMemoryChunk(size, &status);
    // What was taken so far goes back with the pass's own release.
    if (status != kRcOk) return kRcSyscall;
    g_held.chunks.push_back(chunk);
  }
  // A chunk that cannot be locked (RLIMIT_MEMLOCK without root) is tested
  // all the same: the fit check already keeps the host out of swap. The
  // lock faults every page in, which costs about as much as a sweep: the
  // test threads share it.
  LockPass pass;
  pass.size = size;
  sweep_threads_run(g_threads.load(), count, &lock_step, &pass);
  printfx(kPfTraceText, "_CoverMode()  holding 0x%llx chunks of 0x%x bytes, %llu not locked\n",
          static_cast<unsigned long long>(count), size,
          static_cast<unsigned long long>(pass.unlocked.load()));
  return kRcOk;
}

void* cover_chunk(uint64_t i) {
  return i < g_held.chunks.size() ? g_held.chunks[static_cast<size_t>(i)] : nullptr;
}

void cover_abandon(uint64_t i) {
  if (i < g_held.chunks.size()) g_held.chunks[static_cast<size_t>(i)] = nullptr;
}

void cover_release() {
  for (void* chunk : g_held.chunks) {
    if (chunk == nullptr) continue;
    platform().unlock_memory(chunk, g_held.size);
    VykTp2FreeMemoryChunk(chunk);
  }
  g_held.chunks.clear();
  g_held.chunks.shrink_to_fit();
}

uint64_t cover_held() {
  uint64_t n = 0;
  for (void* chunk : g_held.chunks) n += chunk != nullptr ? 1 : 0;
  return n;
}

void cover_clear() {
  cover_release();
  g_cover.store(false);
  g_threads.store(1);
}
