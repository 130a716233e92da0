// The ideal MSCAN: N threads share 64 MiB chunks of a held area, and each
// writes its chunk with a 64-bit pattern and reads it back once, comparing,
// as fast as plain loops go. The area is held as cover mode holds its chunks
// (huge pages advised, then locked), so both pay the same first touch.
// memtest's cover mode should come near it for the same size and threads.
// Prints the seconds from the first allocation on.
//   write_verify SIZE_MIB THREADS
#include <pthread.h>
#include <sys/mman.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr size_t kChunk = size_t{64} << 20;

struct Work {
  std::vector<uint64_t*> chunks;
  std::atomic<size_t> next{0};
  std::atomic<uint64_t> misses{0};
};

void* run(void* arg) {
  auto* w = static_cast<Work*>(arg);
  for (size_t c; (c = w->next.fetch_add(1)) < w->chunks.size();) {
    uint64_t* p = w->chunks[c];
    const size_t words = kChunk / 8;
    for (size_t i = 0; i < words; ++i) p[i] = 0x5555aaaa5555aaaaull ^ (i & 7);
    uint64_t miss = 0;
    for (size_t i = 0; i < words; ++i) miss += p[i] != (0x5555aaaa5555aaaaull ^ (i & 7));
    w->misses.fetch_add(miss);
  }
  return nullptr;
}

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_verify SIZE_MIB THREADS\n");
    return 64;
  }
  const size_t chunks = std::strtoul(argv[1], nullptr, 10) / 64;
  const int threads = std::atoi(argv[2]);
  const double start = now();
  Work w;
  for (size_t c = 0; c < chunks; ++c) {
    auto* p = static_cast<uint64_t*>(std::malloc(kChunk));
    if (p == nullptr) return 2;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + 4095) & ~uintptr_t{4095};
    madvise(reinterpret_cast<void*>(begin), kChunk - 4096, MADV_HUGEPAGE);
    mlock(p, kChunk);
    w.chunks.push_back(p);
  }
  std::vector<pthread_t> tids(threads > 1 ? threads - 1 : 0);
  for (pthread_t& t : tids) pthread_create(&t, nullptr, &run, &w);
  run(&w);
  for (pthread_t& t : tids) pthread_join(t, nullptr);
  const double seconds = now() - start;
  for (uint64_t* p : w.chunks) std::free(p);
  std::printf("%.3f s, %llu misses\n", seconds, static_cast<unsigned long long>(w.misses.load()));
  return w.misses.load() == 0 ? 0 : 1;
}
