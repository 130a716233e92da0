#include "algorithms/first_error.h"

#include <atomic>

namespace {

std::atomic<bool> g_shared{false};
// The claiming thread, named by the address of its own marker: unique among
// live threads, and no claim outlives the sweep whose threads made it.
std::atomic<const void*> g_owner{nullptr};
thread_local char t_marker;

}  // namespace

void first_error_share(bool shared) {
  g_owner.store(nullptr);
  g_shared.store(shared);
}

bool first_error_claim() {
  if (!g_shared.load(std::memory_order_relaxed)) return true;
  const void* expected = nullptr;
  return g_owner.compare_exchange_strong(expected, &t_marker) || expected == &t_marker;
}

void first_error_unclaim() {
  const void* mine = &t_marker;
  g_owner.compare_exchange_strong(mine, nullptr);
}

bool first_error_shared() {
  return g_shared.load(std::memory_order_relaxed);
}

bool first_error_stops_me() {
  const void* owner = g_owner.load(std::memory_order_relaxed);
  return owner != nullptr && owner != &t_marker;
}
