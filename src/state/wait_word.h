// Sleeping on a 32-bit word until another thread (or a signal handler)
// changes it, with a deadline: a futex, so that nobody polls.
#pragma once

#include <atomic>
#include <cstdint>

// Sleeps while `word` holds `value`, at most `timeout_ms` milliseconds of the
// monotonic clock. True when the word no longer holds `value`. The thread
// that changes the word calls word_wake_all after the store.
bool word_wait_while(const std::atomic<uint32_t>& word, uint32_t value, int timeout_ms);
// Wakes every thread sleeping on `word`. One system call, errno kept: a
// signal handler may call it.
void word_wake_all(std::atomic<uint32_t>& word);
