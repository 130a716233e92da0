#include "state/process_end.h"

#include <unistd.h>

#include "state/wait_word.h"

namespace {

enum EndOwner : int { kEndFree = 0, kEndCancel = 1, kEndNormal = 2 };

// The cancel object: its request, whether the test thread has stopped for it,
// and who runs the cancel routine when no signal thread does.
struct Cancel {
  std::atomic<uint32_t> requested{0};
  std::atomic<uint32_t> test_stopped{0};
  std::atomic<CancelRoutine> on_test_thread{nullptr};
};

std::atomic<int> g_end_owner{kEndFree};
constinit Cancel g_cancel;

// A signal handler claims the cancel when no thread waits for the signals.
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free);

}  // namespace

constinit std::atomic<uint32_t>& execute_cancel = g_cancel.requested;

bool memtest_claim_end() {
  int expected = kEndFree;
  if (g_end_owner.compare_exchange_strong(expected, kEndNormal)) return true;
  return expected == kEndNormal;
}

bool memtest_claim_cancel() {
  int expected = kEndFree;
  if (!g_end_owner.compare_exchange_strong(expected, kEndCancel)) return false;
  g_cancel.requested.store(1);
  return true;
}

void cancel_checkpoint() {
  if (g_cancel.requested.load() == 1) park_forever();
}

void park_forever() {
  g_cancel.test_stopped.store(1);
  word_wake_all(g_cancel.test_stopped);
  const CancelRoutine routine = g_cancel.on_test_thread.load();
  if (routine != nullptr && g_cancel.requested.load() == 1) routine();
  for (;;) pause();
}

void set_cancel_on_test_thread(CancelRoutine routine) {
  g_cancel.on_test_thread.store(routine);
}

bool wait_test_thread_stopped(int timeout_ms) {
  return word_wait_while(g_cancel.test_stopped, 0, timeout_ms);
}

void process_end_clear() {
  g_end_owner.store(kEndFree);
  g_cancel.requested.store(0);
  g_cancel.test_stopped.store(0);
  g_cancel.on_test_thread.store(nullptr);
}
