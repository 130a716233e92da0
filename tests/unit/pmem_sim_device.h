// The simulated physical memory put behind the PMEM code's device layer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "physmem_sim.h"
#include "pmem/pmem_device.h"

namespace ut {

struct SimDevice {
  physmem::Device dev;
  int opens = 0, closes = 0;
  int live_blocks = 0, most_blocks = 0;  // block buffers held now / at most
};
inline SimDevice g_sim;
inline constexpr int kSimFd = 99;

inline const PmemDevice kSimDevice{
    [] { return g_sim.dev.map.open_fails ? (errno = EACCES, -1) : (++g_sim.opens, kSimFd); },
    [](int, uint64_t to) { return g_sim.dev.seek(to); },
    [](int, void*, size_t n) { return g_sim.dev.read(n); },
    [](int) { return ++g_sim.closes, 0; },
    [] { return g_sim.dev.map.as_limit; },
    [](size_t n) -> void* {
      if (g_sim.dev.map.alloc_fails) return nullptr;
      g_sim.most_blocks = std::max(g_sim.most_blocks, ++g_sim.live_blocks);
      return std::malloc(n);
    },
    [](void* p) { --g_sim.live_blocks, std::free(p); },
};

// A fresh simulated device with `map` behind the layer.
inline void use_sim(const std::string& map) {
  g_sim = SimDevice{};
  ASSERT_EQ(physmem::parse(map, &g_sim.dev.map), "");
  set_pmem_device(&kSimDevice);
}

}  // namespace ut
