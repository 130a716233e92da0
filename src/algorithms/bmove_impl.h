// BMOVE: noise in the first half of every 4 MiB block, 64 rounds of moves per
// block (first half onto the second, the first half rotated by 24 bytes),
// each checked against its source, then every 64-bit position checked for
// two equal words (Ref No. 13). BMOVEX stores 0xCAFECAFE after the first
// move of the first block.
#pragma once

#include <cstdint>
#include <cstring>

#include "algorithms/error_disp.h"
#include "algorithms/sweep_frame.h"
#include "common/logfile.h"
#include "common/test_inf.h"

namespace bmove {

inline constexpr uint64_t kBlock = 0x400000;
inline constexpr uint64_t kStep = 24;
inline constexpr int kRounds = 64;
inline constexpr int kWindow = 10;
inline constexpr uint32_t kOutside = 0xFFFFFFFFu;

// The one failure a call keeps, with its windows. Static, so that
// Error_Details, which points at the windows, stays valid after the call.
struct Failure {
  bool found;
  uint64_t word;   // offset of the failing word
  uint64_t block;  // offset of the block start as recorded
  uint32_t expect[kWindow];
  uint32_t result[kWindow];
};
// Per thread: test threads sharing a sweep each run BMOVE on a chunk.
extern thread_local Failure g_failure;
extern char g_device_text[32];

// Trace "_BMOVE()  Completed" for a start wait that used up the run time.
uint32_t completed_early();
// Error_Details from g_failure, reported. Returns 1024.
uint32_t report_failure(const void* buffer);
inline unsigned address_of(const void* buffer, uint64_t off) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(buffer) + static_cast<uintptr_t>(off));
}
inline unsigned address_of(const void* p) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}
// The first 32-bit word of a unit value (memory order).
inline uint32_t first_word(uint64_t unit) {
  uint32_t w;
  std::memcpy(&w, &unit, 4);
  return w;
}

// Block [p, q) of the move and fill phases: 4 MiB steps, the last one cut at
// the end.
inline uint64_t block_end(uint64_t p, uint64_t end) {
  return end - p <= kBlock ? end : p + kBlock;
}

// A move round of block [p, q) with half h: false when a moved word differs
// from its source (g_failure then holds it).
template <class Mem>
bool move_round(Mem& mem, uint64_t p, uint64_t q, uint64_t h, const void* buffer,
                VykTp2MemStruct_t* ctl) {
  const uint64_t m = p + h;
  mem.copy(m, p, h);
  mem.copy(p + kStep, m, h - kStep);
  mem.copy(p, q - kStep, kStep);
  if (Fake_Err[3] == 1) mem.store32(p + kStep, 0xCAFECAFEu);
  Miss miss;
  if (mem.diff(p + kStep, m, h - kStep, &miss)) return true;

  // First differing word i, counted from p + 24, of n compared words.
  const bool first_equal = first_word(miss.value) == first_word(miss.expect);
  const int64_t i = static_cast<int64_t>(miss.off / 4) + (first_equal ? 1 : 0);
  const int64_t n = static_cast<int64_t>((h - kStep) / 4);
  g_failure.found = true;
  g_failure.word = p + kStep + 4 * static_cast<uint64_t>(i);
  g_failure.block = p;
  for (int k = 0; k < kWindow; ++k) {
    const int64_t j = i - 4 + k;
    const bool inside = j >= 0 && j < n;
    g_failure.expect[k] = inside ? mem.load32(m + 4 * static_cast<uint64_t>(j)) : kOutside;
    g_failure.result[k] = inside ? mem.load32(p + kStep + 4 * static_cast<uint64_t>(j)) : kOutside;
  }
  printfx(kPfTraceText,
          "_BMOVE()  logging1:size=%x &stRetryState=%x pVykTp2Mem=%x expect=%x, result=%x\n",
          address_of(buffer, g_failure.word), address_of(&g_failure), address_of(ctl),
          address_of(g_failure.expect), address_of(g_failure.result));
  return false;
}

// The adjacent-value check of the whole 4 MiB block at p: false when a
// 64-bit position holds two different words (g_failure then holds it).
template <class Mem>
bool adjacent_block(Mem& mem, uint64_t p, const void* buffer, VykTp2MemStruct_t* ctl) {
  const int64_t i = mem.unequal_pair(p, kBlock);
  if (i < 0) return true;
  const int64_t n = static_cast<int64_t>(kBlock / 4);
  // The window walks pairs: two words on per entry inside the block, one on
  // per entry outside it (0xFFFFFFFF in both windows).
  int64_t j = i - 4;
  int64_t advanced = i;
  for (int k = 0; k < kWindow; ++k) {
    const bool inside = j >= 0 && j < n;
    g_failure.expect[k] = inside ? mem.load32(p + 4 * static_cast<uint64_t>(j)) : kOutside;
    g_failure.result[k] = inside ? mem.load32(p + 4 * static_cast<uint64_t>(j + 1)) : kOutside;
    j += inside ? 2 : 1;
    if (inside) advanced += 2;
  }
  g_failure.found = true;
  g_failure.word = p + 4 * static_cast<uint64_t>(i + 1);
  g_failure.block = p + 4;
  printfx(kPfTraceText, "_BMOVE()  logging2:size=%x &stRetryState=%x pVykTp2Mem=%x\n",
          address_of(buffer, p + 4 * static_cast<uint64_t>(advanced + 1)), address_of(&g_failure),
          address_of(ctl));
  const uint32_t* e = g_failure.expect;
  const uint32_t* r = g_failure.result;
  printfx(kPfTraceText, "_BMOVE()  expect(%08x)=%x %x %x %x %x %x %x\n", address_of(e), e[0], e[1],
          e[2], e[3], e[4], e[5], e[6]);
  printfx(kPfTraceText, "_BMOVE()  result(%08x)=%x %x %x %x %x %x %x\n", address_of(r), r[0], r[1],
          r[2], r[3], r[4], r[5], r[6]);
  return false;
}

}  // namespace bmove

template <class Mem>
uint32_t bmove_body(Mem& mem, uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                    uint32_t /*weight*/, uint64_t* done) {
  using namespace bmove;
  uint64_t local_done = 0;
  if (done == nullptr) done = &local_done;

  sweep::trace_started("_BMOVE");
  sweep::clear_error_details();
  if (buffer == nullptr || size % 8 != 0) {
    return sweep::reject_buffer("_BMOVE", size, kPfTraceMsg);
  }
  const uint16_t bits = ctl != nullptr && (ctl->single_run & 1) != 0 ? 64 : 128;
  if (ctl != nullptr) ctl->pattern_bits = bits;
  const uint64_t end = size;
  g_failure = Failure{};
  if (sweep::start_wait_expired()) return completed_early();

  // Blocks whose half is shorter than one move step or not whole 8-byte
  // units (only a size that is not a multiple of 4 MiB leaves such a last
  // block) are filled but not moved: a move would reach outside the block.
  auto movable = [](uint64_t h) { return h >= kStep && h % 8 == 0; };

  for (uint64_t p = 0; p < end; p = block_end(p, end)) {
    if (sweep::cancel_requested()) return kRcCancel;
    const uint64_t q = block_end(p, end);
    mem.fill_noise(p, (q - p) / 4 / 2 * 4, bits);
  }
  if (sweep::start_wait_expired()) return completed_early();
  printfx(kPfTraceText, "_BMOVE()  %d bit(Pattern No.%d) generated\n", bits, kind);

  for (uint64_t p = 0; p < end && !g_failure.found; p = block_end(p, end)) {
    const uint64_t q = block_end(p, end);
    const uint64_t h = (q - p) / 2;
    for (int round = 0; round < kRounds && movable(h); ++round) {
      // A round moves about three block halves: the cancel check point.
      if (sweep::cancel_requested()) return kRcCancel;
      if (!move_round(mem, p, q, h, buffer, ctl)) break;
    }
  }
  if (sweep::start_wait_expired()) return completed_early();
  printfx(kPfTraceText, "_BMOVE()  Algo No.%d for 0x%llx bytes block done\n",
          ctl != nullptr ? ctl->algo_no.load() : 0, static_cast<unsigned long long>(size));

  // Whole 4 MiB blocks only. A failure of the move phase still lets the
  // first block be checked, and a failure found there replaces it.
  for (uint64_t p = 0; end - p >= kBlock; p += kBlock) {
    if (sweep::cancel_requested()) return kRcCancel;
    adjacent_block(mem, p, buffer, ctl);
    if (g_failure.found || end - p == kBlock) break;
  }
  if (sweep::start_wait_expired()) return completed_early();
  printfx(kPfTraceText, "_BMOVE()  Buffer verification of adjacent values done..\n");

  if (g_failure.found) return report_failure(buffer);
  *done = size;
  printfx(kPfTraceText, "_BMOVE()  Completed\n");
  return kRcOk;
}
