#include "driver/sweep_threads.h"

#include <pthread.h>

#include <atomic>
#include <vector>

#include "driver/fault_guard.h"

namespace {

struct Sweep {
  uint64_t count = 0;
  bool (*step)(void* ctx, uint64_t c) = nullptr;
  void* ctx = nullptr;
  std::atomic<uint64_t> next{0};
  std::atomic<bool> stop{false};
};

void take_steps(Sweep* s) {
  while (!s->stop.load()) {
    const uint64_t c = s->next.fetch_add(1);
    if (c >= s->count) return;
    if (!s->step(s->ctx, c)) s->stop.store(true);
  }
}

struct Worker {
  Sweep* sweep;
  uint32_t slot;
};

void* worker_main(void* arg) {
  const auto* w = static_cast<const Worker*>(arg);
  // The cancel signals stay blocked here as in the test thread that started
  // it: the cancel thread alone takes them.
  fault_guard_slot(w->slot);
  take_steps(w->sweep);
  return nullptr;
}

}  // namespace

uint32_t sweep_threads_run(uint32_t threads, uint64_t count, bool (*step)(void* ctx, uint64_t c),
                           void* ctx) {
  Sweep sweep;
  sweep.count = count;
  sweep.step = step;
  sweep.ctx = ctx;
  const uint32_t extra = threads > 1 ? threads - 1 : 0;
  std::vector<Worker> workers(extra);
  std::vector<pthread_t> tids(extra);
  uint32_t started = 0;
  for (uint32_t i = 0; i < extra; ++i) {
    workers[i] = Worker{&sweep, i + 1};
    // A thread that cannot start leaves its share to the others.
    if (pthread_create(&tids[started], nullptr, &worker_main, &workers[i]) != 0) break;
    ++started;
  }
  take_steps(&sweep);
  for (uint32_t i = 0; i < started; ++i) pthread_join(tids[i], nullptr);
  return started + 1;
}
