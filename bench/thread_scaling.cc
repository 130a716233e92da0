// What a second test thread can gain on this machine, and what memtest's
// threads gain.
//
// One process holds 1 GiB as sixteen 64 MiB chunks (huge pages advised, every
// page touched before timing), so every measurement sees the same memory in
// the same state. For each algorithm of a WHOLE pass (MSCAN, MASEST, BMOVE,
// IMOVE on the whole chunk) it times one sweep over the sixteen chunks with
// one thread and with two, the threads taking chunks in turn and meeting at
// the end of the sweep, as cover mode shares them:
//   memtest: the algorithm's own call on each chunk;
//   plain:   plain loops in the same order of accesses: the same sweeps, up
//            or down, over the same areas (chunk, 32 MiB halves in 32 KiB
//            spans, 4 MiB blocks), by 8-byte stores and loads, memcpy and
//            memcmp, without the time checks and error paths.
// The plain loops say what the access order itself lets two threads gain
// here: where one thread's sweep is partly served by the shared last-level
// cache, two threads each on their own chunk cannot be twice as fast.
// Prints per algorithm the medians of REPS turns (default 3) of one thread's
// seconds, two threads' and their ratio; then the same for the whole pass,
// the sum of its four sweeps.
//   thread_scaling [REPS]
#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "algorithms/bmove.h"
#include "algorithms/masest.h"
#include "algorithms/moving_inversion.h"
#include "algorithms/mscan.h"
#include "state/memstruct.h"
#include "state/param_block.h"

namespace {

constexpr size_t kChunk = size_t{64} << 20;
constexpr size_t kChunks = 16;
constexpr size_t kBlock = size_t{4} << 20;  // BMOVE's block
constexpr size_t kStep = 24;                // BMOVE's rotation
constexpr int kBmoveRounds = 64;
constexpr int kImovePasses = 65;
constexpr uint16_t kKind = 46;  // cross talk

enum Algo : int { kMscan, kMasest, kBmove, kImove, kAlgos };
constexpr const char* kNames[kAlgos] = {"MSCAN", "MASEST", "BMOVE", "IMOVE"};

uint64_t pattern(size_t i) {
  return 0x5555aaaa5555aaaaull ^ (i & 7);
}

// Differences found, and what the last reads saw, so that no loop can be
// dropped.
std::atomic<uint64_t> g_misses{0};
std::atomic<uint64_t> g_sink{0};

void plain_mscan(uint64_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = pattern(i);
  uint64_t miss = 0;
  for (size_t i = 0; i < n; ++i) miss += p[i] != pattern(i);
  g_misses.fetch_add(miss);
}

// Pairs up; each unit, its mirror and the unit again, up; all pairs up.
void plain_masest(uint64_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = i % 2 == 0 ? pattern(i) : ~pattern(i - 1);
  auto expect = [](size_t i) { return i % 2 == 0 ? pattern(i) : ~pattern(i - 1); };
  uint64_t miss = 0;
  for (size_t i = 0; i < n; ++i) {
    miss += p[i] != expect(i);
    miss += p[n - 1 - i] != expect(n - 1 - i);
    miss += p[i] != expect(i);
  }
  for (size_t i = 0; i < n; ++i) miss += p[i] != expect(i);
  g_misses.fetch_add(miss);
}

// Noise in each block's first half; per block 64 rounds of: first half onto
// the second, the second back onto the first rotated by 24 bytes, compared;
// then every block read once more.
void plain_bmove(uint64_t* words, size_t n) {
  auto* c = reinterpret_cast<unsigned char*>(words);
  const size_t bytes = n * 8;
  const size_t h = kBlock / 2;
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (size_t b = 0; b < bytes; b += kBlock) {
    auto* w = reinterpret_cast<uint64_t*>(c + b);
    for (size_t i = 0; i < h / 8; ++i) w[i] = x = x * 6364136223846793005ull + 1;
  }
  uint64_t miss = 0;
  for (size_t b = 0; b < bytes; b += kBlock) {
    unsigned char* p = c + b;
    unsigned char* m = p + h;
    for (int r = 0; r < kBmoveRounds; ++r) {
      std::memcpy(m, p, h);
      std::memcpy(p + kStep, m, h - kStep);
      std::memcpy(p, p + kBlock - kStep, kStep);
      miss += std::memcmp(p + kStep, m, h - kStep) != 0;
    }
  }
  uint64_t seen = 0;
  for (size_t i = 0; i < n; ++i) seen ^= words[i];
  g_sink.fetch_xor(seen);
  g_misses.fetch_add(miss);
}

// 65 passes over the halves: fill the first, copy it onto the second,
// compare; each step over the whole half in 32 KiB spans, as IMOVE goes (a
// single memcpy of 32 MiB would bypass the cache, which IMOVE does not).
void plain_imove(uint64_t* p, size_t n) {
  constexpr size_t kSpan = size_t{32} << 10;
  auto* c = reinterpret_cast<unsigned char*>(p);
  const size_t h = n / 2;
  uint64_t miss = 0;
  for (int pass = 0; pass < kImovePasses; ++pass) {
    const uint64_t v = 0x0101010101010101ull * static_cast<uint64_t>(pass);
    for (size_t i = 0; i < h; ++i) p[i] = v ^ (i & 15);
    for (size_t b = 0; b < h * 8; b += kSpan) std::memcpy(c + h * 8 + b, c + b, kSpan);
    for (size_t b = 0; b < h * 8; b += kSpan) miss += std::memcmp(c + h * 8 + b, c + b, kSpan) != 0;
  }
  g_misses.fetch_add(miss);
}

void memtest_call(Algo algo, void* chunk) {
  VykTp2MemStruct_t* ctl = &VykTp2MemStruct;
  uint64_t done = 0;
  const uint32_t rc = algo == kMscan    ? VykTp2MSCAN(kKind, chunk, kChunk, ctl, &done)
                      : algo == kMasest ? VykTp2MASEST(kKind, chunk, kChunk, ctl, &done)
                      : algo == kBmove  ? VykTp2BMOVE(kKind, chunk, kChunk, ctl, 0, &done)
                                        : Vyk_moving_inversion(chunk, kChunk, ctl, &done);
  if (rc != kRcOk || done != kChunk) {
    std::fprintf(stderr, "%s did not pass a whole chunk (rc %u)\n", kNames[algo], rc);
    std::exit(1);
  }
}

struct Sweep {
  Algo algo;
  bool plain;
  std::vector<void*>* chunks;
  std::atomic<size_t> next{0};
};

void* take_chunks(void* arg) {
  auto* s = static_cast<Sweep*>(arg);
  for (size_t c; (c = s->next.fetch_add(1)) < s->chunks->size();) {
    void* chunk = (*s->chunks)[c];
    if (!s->plain) {
      memtest_call(s->algo, chunk);
      continue;
    }
    auto* p = static_cast<uint64_t*>(chunk);
    const size_t n = kChunk / 8;
    switch (s->algo) {
      case kMscan:
        plain_mscan(p, n);
        break;
      case kMasest:
        plain_masest(p, n);
        break;
      case kBmove:
        plain_bmove(p, n);
        break;
      default:
        plain_imove(p, n);
        break;
    }
  }
  return nullptr;
}

double sweep_seconds(Algo algo, bool plain, int threads, std::vector<void*>& chunks) {
  Sweep s{algo, plain, &chunks};
  const auto start = std::chrono::steady_clock::now();
  pthread_t other{};
  const bool two = threads == 2 && pthread_create(&other, nullptr, &take_chunks, &s) == 0;
  take_chunks(&s);
  if (two) pthread_join(other, nullptr);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  // No sweep time limit, no pause, no fault injection.
  Ex_dwTestLevel = 4;
  std::memset(Fake_Err, 0, sizeof Fake_Err);
  VykTp2MemStruct.single_run = 0;

  std::vector<void*> chunks;
  for (size_t c = 0; c < kChunks; ++c) {
    void* p = std::aligned_alloc(size_t{2} << 20, kChunk);
    if (p == nullptr) {
      std::fprintf(stderr, "cannot allocate the chunks\n");
      return 1;
    }
    madvise(p, kChunk, MADV_HUGEPAGE);
    std::memset(p, 0, kChunk);
    chunks.push_back(p);
  }

  // [plain][algo][threads - 1]: the seconds of each turn. One and two
  // threads run back to back, in turns whose order alternates, so that a
  // change in the machine's load between turns falls on both; the ratios are
  // the medians of the turns' own ratios.
  std::vector<double> t[2][kAlgos + 1][2];
  for (int rep = 0; rep < reps; ++rep) {
    double whole[2][2] = {};
    for (int a = 0; a < kAlgos; ++a) {
      for (int plain = 0; plain < 2; ++plain) {
        for (int k = 0; k < 2; ++k) {
          const int threads = (k + rep) % 2 + 1;
          const double s = sweep_seconds(static_cast<Algo>(a), plain == 1, threads, chunks);
          t[plain][a][threads - 1].push_back(s);
          whole[plain][threads - 1] += s;
        }
      }
    }
    for (int plain = 0; plain < 2; ++plain) {
      for (int i = 0; i < 2; ++i) t[plain][kAlgos][i].push_back(whole[plain][i]);
    }
  }
  std::printf(
      "1 GiB as 16 chunks of 64 MiB, medians of %d turns; ratio: 1 thread's seconds / 2 threads'\n",
      reps);
  std::printf("%-8s %28s %28s\n", "", "memtest: 1T s   2T s  ratio", "plain:   1T s   2T s  ratio");
  for (int a = 0; a <= kAlgos; ++a) {
    std::printf("%-8s", a == kAlgos ? "WHOLE" : kNames[a]);
    for (int plain = 0; plain < 2; ++plain) {
      const std::vector<double>& one = t[plain][a][0];
      const std::vector<double>& two = t[plain][a][1];
      std::vector<double> ratios;
      for (size_t i = 0; i < one.size(); ++i) ratios.push_back(one[i] / two[i]);
      std::printf("        %7.3f %6.3f %5.2fx", median(one), median(two), median(ratios));
    }
    std::printf("\n");
  }
  for (void* p : chunks) std::free(p);
  return g_misses.load() == 0 ? 0 : 1;
}
