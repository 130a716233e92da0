#include "state/process_end.h"

#include <unistd.h>

#include <atomic>

namespace {

enum EndOwner : int { kEndFree = 0, kEndCancel = 1, kEndNormal = 2 };

std::atomic<int> g_end_owner{kEndFree};
std::atomic<bool> g_cancel_started{false};
std::atomic<bool> g_test_parked{false};
std::atomic<CancelRoutine> g_cancel_on_test_thread{nullptr};

// A signal handler claims the cancel when no thread waits for the signals.
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

}  // namespace

bool memtest_claim_end() {
  int expected = kEndFree;
  if (g_end_owner.compare_exchange_strong(expected, kEndNormal)) return true;
  return expected == kEndNormal;
}

bool memtest_claim_cancel() {
  int expected = kEndFree;
  if (!g_end_owner.compare_exchange_strong(expected, kEndCancel)) return false;
  g_cancel_started.store(true, std::memory_order_release);
  return true;
}

void cancel_checkpoint() {
  if (g_cancel_started.load(std::memory_order_acquire)) park_forever();
}

void park_forever() {
  g_test_parked.store(true, std::memory_order_release);
  const CancelRoutine routine = g_cancel_on_test_thread.load();
  if (routine != nullptr && g_cancel_started.load(std::memory_order_acquire)) routine();
  for (;;) pause();
}

void set_cancel_on_test_thread(CancelRoutine routine) {
  g_cancel_on_test_thread.store(routine);
}

bool test_thread_parked() {
  return g_test_parked.load(std::memory_order_acquire);
}

void process_end_clear() {
  g_end_owner.store(kEndFree);
  g_cancel_started.store(false);
  g_test_parked.store(false);
  g_cancel_on_test_thread.store(nullptr);
}
