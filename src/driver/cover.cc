#include "driver/cover.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "common/logfile.h"
#include "common/page_offline.h"
#include "common/platform.h"
#include "driver/chunk.h"
#include "state/memstruct.h"

namespace {

// What the system keeps for itself on top of what it has available: the
// larger of 256 MiB and a sixteenth of all memory. Without it a test size
// near MemAvailable would push the host into swap or the OOM killer, which is
// worse for a production server than a refused run.
constexpr uint64_t kMinReserve = uint64_t{256} << 20;
constexpr uint64_t kReserveShare = 16;

std::atomic<bool> g_cover{false};

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

}  // namespace

void cover_setup(int argc, char** argv) {
  bool on = false;
  for (int i = 1; argv != nullptr && i < argc && argv[i] != nullptr; ++i) {
    if (std::strcmp(argv[i], kCoverKeyword) == 0) on = true;
  }
  g_cover.store(on);
  if (on) printfx(kPfTraceText, "_CoverMode()  on: every pattern pass holds its chunks\n");
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
  // all the same: the fit check already keeps the host out of swap.
  uint64_t unlocked = 0;
  for (void* chunk : g_held.chunks) {
    if (platform().lock_memory(chunk, size) != 0) ++unlocked;
  }
  printfx(kPfTraceText, "_CoverMode()  holding 0x%llx chunks of 0x%x bytes, %llu not locked\n",
          static_cast<unsigned long long>(count), size, static_cast<unsigned long long>(unlocked));
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
}
