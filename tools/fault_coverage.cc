// Fault coverage of the five algorithms: each one runs over the faulty-memory
// simulator of the tests (tests/support/fault_memory.h) against N random
// instances of every fault class, and the share of instances it reports as a
// compare error is printed as a Markdown table (docs/fault-coverage.md).
//
//   memtest_fault_coverage [-n N] [--exact]
//
// Instances are seeded, so the table is the same on every run. --exact also
// runs every instance over the plain unit-by-unit simulator and stops at the
// first outcome that differs from the fast one below.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "algorithms/bmove_impl.h"
#include "algorithms/march_impl.h"
#include "algorithms/masest_impl.h"
#include "algorithms/moving_inversion_impl.h"
#include "algorithms/mscan_impl.h"
#include "common/platform.h"
#include "fault_memory.h"

namespace {

// The simulator, with the units no fault involves taken in bulk. Those units
// behave as plain memory, so a run of them goes through the shipped memory
// (DirectMemory over the simulator's cells); the involved units go through
// the simulator's fault model one by one, in the algorithm's order. A pair
// fill works on 16-byte pairs, so its involved positions are whole pairs.
class FastFaultMemory : public ts::FaultMemory {
 public:
  FastFaultMemory(uint64_t size, const ts::FaultSpec& f)
      : FaultMemory(size, {f}),
        plain_(cells()),
        involved_{f.victim / 64 * 8, f.aggressor / 64 * 8} {}

  void fill(const uint64_t* period, uint64_t from, uint64_t to) {
    walk(from, to, false, 8, at({0}), [&](uint64_t lo, uint64_t hi, bool exact) {
      exact ? FaultMemory::fill(period, lo, hi) : plain_.fill(period, lo, hi);
      return true;
    });
  }
  void fill_pairs(const uint64_t* plain, const uint64_t* pairs, uint64_t from, uint64_t to) {
    walk(from, to, false, 16, at({0}), [&](uint64_t lo, uint64_t hi, bool exact) {
      exact ? FaultMemory::fill_pairs(plain, pairs, lo, hi)
            : plain_.fill_pairs(plain, pairs, lo, hi);
      return true;
    });
  }
  bool verify(const Verify& v, uint64_t from, uint64_t to, Miss* miss) {
    return walk(from, to, v.down, 8, at({0}), [&](uint64_t lo, uint64_t hi, bool exact) {
      return exact ? FaultMemory::verify(v, lo, hi, miss) : plain_.verify(v, lo, hi, miss);
    });
  }
  bool mirror(const uint64_t* pairs, uint64_t end, uint64_t from, uint64_t to,
              const uint8_t* inject, Miss* miss) {
    std::vector<uint64_t> exact = at({0});
    for (uint64_t u : involved_) exact.push_back(end - u - 8);
    return walk(from, to, false, 8, exact, [&](uint64_t lo, uint64_t hi, bool e) {
      return e ? FaultMemory::mirror(pairs, end, lo, hi, inject, miss)
               : plain_.mirror(pairs, end, lo, hi, inject, miss);
    });
  }
  void fill_bytes(uint64_t off, uint64_t len, const void* period, uint32_t plen) {
    const auto* p = static_cast<const unsigned char*>(period);
    walk(off, off + len, false, 8, at({0}), [&](uint64_t lo, uint64_t hi, bool exact) {
      for (uint64_t o = lo; o < hi; o += 8) {
        uint64_t value;
        std::memcpy(&value, p + (o - off) % plen, 8);
        if (exact) {
          put(o, value, ~uint64_t{0});
        } else {
          std::memcpy(cells() + o, &value, 8);
        }
      }
      return true;
    });
  }
  void fill_noise(uint64_t off, uint64_t len, unsigned bits) {
    uint32_t plen = 0;
    const uint8_t* period = noise_period(bits, &plen);
    fill_bytes(off, len - len % (bits / 8), period, plen);
  }
  void copy(uint64_t dst, uint64_t src, uint64_t len) {
    walk(0, len, false, 8, at({dst, src}), [&](uint64_t lo, uint64_t hi, bool exact) {
      exact ? FaultMemory::copy(dst + lo, src + lo, hi - lo)
            : plain_.copy(dst + lo, src + lo, hi - lo);
      return true;
    });
  }
  bool diff(uint64_t a, uint64_t b, uint64_t len, Miss* miss) {
    return walk(0, len, false, 8, at({a, b}), [&](uint64_t lo, uint64_t hi, bool exact) {
      const bool same = exact ? FaultMemory::diff(a + lo, b + lo, hi - lo, miss)
                              : plain_.diff(a + lo, b + lo, hi - lo, miss);
      if (!same) miss->off += lo;
      return same;
    });
  }
  int64_t unequal_pair(uint64_t off, uint64_t len) {
    int64_t found = -1;
    walk(0, len, false, 8, at({off}), [&](uint64_t lo, uint64_t hi, bool exact) {
      const int64_t i = exact ? FaultMemory::unequal_pair(off + lo, hi - lo)
                              : plain_.unequal_pair(off + lo, hi - lo);
      if (i >= 0) found = static_cast<int64_t>(lo / 4) + i;
      return i < 0;
    });
    return found;
  }

 private:
  // Positions n of a span where unit base + n is an involved one, for each
  // base (positions below a base do not exist and wrap out of every span).
  std::vector<uint64_t> at(std::initializer_list<uint64_t> bases) const {
    std::vector<uint64_t> out;
    for (uint64_t b : bases) {
      for (uint64_t u : involved_) out.push_back(u - b);
    }
    return out;
  }
  // Steps through [from, to) in order, descending when `down`: the pieces of
  // `grain` bytes holding an exact position one by one as exact, the runs
  // between them in one step; stops when a step returns false.
  template <class Step>
  bool walk(uint64_t from, uint64_t to, bool down, uint64_t grain, std::vector<uint64_t> exact,
            Step step) {
    for (uint64_t& e : exact) e = e / grain * grain;
    std::erase_if(exact, [&](uint64_t e) { return e < from || e >= to; });
    std::sort(exact.begin(), exact.end());
    exact.erase(std::unique(exact.begin(), exact.end()), exact.end());
    if (down) {
      uint64_t top = to;
      for (auto e = exact.rbegin(); e != exact.rend(); ++e) {
        if (*e + grain < top && !step(*e + grain, top, false)) return false;
        if (!step(*e, *e + grain, true)) return false;
        top = *e;
      }
      return top == from || step(from, top, false);
    }
    uint64_t low = from;
    for (uint64_t e : exact) {
      if (low < e && !step(low, e, false)) return false;
      if (!step(e, e + grain, true)) return false;
      low = e + grain;
    }
    return low >= to || step(low, to, false);
  }

  DirectMemory plain_;
  std::vector<uint64_t> involved_;
};

struct Variant {
  const char* label;
  int algo;       // 0 MSCAN, 1 MARCH, 2 MASEST, 3 BMOVE, 4 IMOVE
  uint16_t kind;  // data kind; BMOVE: single_run, 1 for 64-bit noise units
  uint64_t size;  // the test area (IMOVE: both halves)
  const char* size_text;
};

// The smallest areas that go through each algorithm's whole structure: two
// full 32 KiB check spans and a part (MARCH's descending sweep then starts
// with its unchecked part), one whole 4 MiB BMOVE block (moves and the
// adjacent-value check), and IMOVE halves of that first size.
constexpr uint64_t kSweep = 0x10040;
constexpr Variant kVariants[] = {
    {"MSCAN, cross talk", 0, kDataCrossTalk, kSweep, "64 KiB + 64"},
    {"MSCAN, repeat", 0, kDataRepeat, kSweep, "64 KiB + 64"},
    {"MARCH, cross talk", 1, kDataCrossTalk, kSweep, "64 KiB + 64"},
    {"MARCH, repeat", 1, kDataRepeat, kSweep, "64 KiB + 64"},
    {"MASEST, cross talk", 2, kDataCrossTalk, kSweep, "64 KiB + 64"},
    {"MASEST, repeat", 2, kDataRepeat, kSweep, "64 KiB + 64"},
    {"BMOVE, 128-bit noise", 3, 0, 0x400000, "4 MiB"},
    {"BMOVE, 64-bit noise", 3, 1, 0x400000, "4 MiB"},
    {"IMOVE", 4, 0, 2 * kSweep, "2 × (64 KiB + 64)"},
};

struct FaultClass {
  const char* label;
  ts::Fault kind;
  int above;  // aggressor above the victim (1), below (0), either (-1)
  int value;  // stuck value or transition direction (1 up), -1 random
};
constexpr FaultClass kClasses[] = {
    {"SA0", ts::Fault::kStuck, -1, 0},          {"SA1", ts::Fault::kStuck, -1, 1},
    {"TF↑", ts::Fault::kTransition, -1, 1},     {"TF↓", ts::Fault::kTransition, -1, 0},
    {"CFin <", ts::Fault::kInversion, 0, -1},   {"CFin >", ts::Fault::kInversion, 1, -1},
    {"CFid <", ts::Fault::kIdempotent, 0, -1},  {"CFid >", ts::Fault::kIdempotent, 1, -1},
    {"CFst", ts::Fault::kState, -1, -1},        {"AF alias", ts::Fault::kAlias, -1, -1},
    {"AF no cell", ts::Fault::kNoCell, -1, -1}, {"RDF", ts::Fault::kReadDisturb, -1, -1},
};

// What the run reported: "-" when it passed, else the Ref No., the offsets
// and the compared data.
template <class Mem>
std::string outcome(const Variant& v, Mem& mem) {
  VykTp2MemStruct_t* ctl = &VykTp2MemStruct;
  ctl->algo_no = static_cast<uint16_t>(kAlgoMscan + v.algo);
  ctl->single_run = v.kind;
  void* buffer = mem.buffer();
  uint64_t done = 0;
  const uint32_t rc = v.algo == 0   ? mscan_body(mem, v.kind, buffer, v.size, ctl, &done)
                      : v.algo == 1 ? march_body(mem, v.kind, buffer, v.size, ctl, &done)
                      : v.algo == 2 ? masest_body(mem, v.kind, buffer, v.size, ctl, &done)
                      : v.algo == 3 ? bmove_body(mem, v.kind, buffer, v.size, ctl, 0, &done)
                                    : imove_body(mem, buffer, v.size, ctl, &done);
  if (rc == kRcOk) return "-";
  if (rc != kRcCompare) {
    std::fprintf(stderr, "%s: unexpected result %u\n", v.label, rc);
    std::exit(1);
  }
  const Error_Details_t& d = Error_Details;
  std::string text = std::to_string(d.error_code) + " " + std::to_string(d.offset_ref) + " " +
                     std::to_string(d.mismatch_offset);
  for (const void* data : {d.expected_data, d.actual_data}) {
    text.append(" ").append(static_cast<const char*>(data), d.compare_length);
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  int n = 200;
  bool exact = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
      n = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--exact") == 0) {
      exact = true;
    } else {
      std::fprintf(stderr, "usage: %s [-n N] [--exact]\n", argv[0]);
      return 2;
    }
  }
  // Records and traces are not wanted; no time limit, no wait, no injection.
  Platform quiet = kSystemPlatform;
  quiet.write_record = [](const char*, size_t) {};
  set_platform(&quiet);
  Ex_dwTestLevel = 1;

  std::printf("Detected, in %% of %d random instances per fault class:\n\n| Algorithm | Area |", n);
  for (const FaultClass& c : kClasses) std::printf(" %s |", c.label);
  std::printf("\n|---|---|");
  for (size_t i = 0; i < std::size(kClasses); ++i) std::printf("---:|");
  std::printf("\n");
  for (const Variant& v : kVariants) {
    const auto start = std::chrono::steady_clock::now();
    std::printf("| %s | %s |", v.label, v.size_text);
    for (const FaultClass& c : kClasses) {
      std::mt19937_64 rng(static_cast<uint64_t>(&v - kVariants) * 100 + (&c - kClasses));
      int found = 0;
      for (int i = 0; i < n; ++i) {
        ts::FaultSpec f = ts::random_fault(c.kind, v.size, rng, c.above < 0 ? rng() % 2 : c.above);
        if (c.value >= 0) f.value = f.up = c.value == 1;
        FastFaultMemory fast(v.size, f);
        const std::string seen = outcome(v, fast);
        found += seen != "-";
        if (!exact) continue;
        ts::FaultMemory slow(v.size, {f});
        if (outcome(v, slow) != seen) {
          std::fprintf(stderr, "%s, %s, instance %d: the fast simulator differs\n", v.label,
                       c.label, i);
          return 1;
        }
      }
      std::printf(" %.1f |", 100.0 * found / n);
      std::fflush(stdout);
    }
    std::printf("\n");
    std::fprintf(stderr, "%s: %.1f s\n", v.label,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return 0;
}
