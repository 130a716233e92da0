#include "fault_memory.h"

#include <bit>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace ts {

// Cell c of a unit is bit c % 64 of its value as loaded.
static_assert(std::endian::native == std::endian::little);

FaultSpec parse_fault(const std::string& text) {
  std::istringstream in(text);
  std::string name, v = "0", a = "0", up, value;
  in >> name >> v >> a >> up >> value;
  int k = 0;
  while (name != kFaultNames[k]) {
    if (++k == 8) throw std::invalid_argument("no fault " + name);
  }
  return {Fault(k), std::stoull(v, nullptr, 0), std::stoull(a, nullptr, 0), up == "1",
          value == "1"};
}

FaultSpec random_fault(Fault kind, uint64_t size, std::mt19937_64& rng, bool above) {
  const uint64_t units = size / 8, v = rng() % units;
  above = v == 0 || (above && v + 1 < units);
  const uint64_t a = above ? v + 1 + rng() % (units - v - 1) : rng() % v;
  return {kind, v * 64 + rng() % 64, a * 64 + rng() % 64, rng() % 2 == 1, rng() % 2 == 1};
}

FaultMemory::FaultMemory(uint64_t size, std::vector<FaultSpec> faults)
    : cells_(size), shown_(size), faults_(std::move(faults)) {
  put(0, 0, 0);  // stuck and state faults hold from the start
  accesses = 0;
}

void FaultMemory::set(uint64_t cell, bool v) {
  const auto b = static_cast<uint8_t>(1u << (cell % 8));
  cells_[cell / 8] = static_cast<uint8_t>(v ? cells_[cell / 8] | b : cells_[cell / 8] & ~b);
}

int64_t FaultMemory::cell_of(uint64_t off) const {
  for (const FaultSpec& f : faults_) {
    if (off / 8 == f.victim / 64 && f.kind == Fault::kNoCell) return -1;
    if (off / 8 == f.victim / 64 && f.kind == Fault::kAlias) return int64_t(f.aggressor / 64 * 8);
  }
  return int64_t(off);
}

uint64_t FaultMemory::peek(uint64_t off) const {
  uint64_t v = 0;
  if (const int64_t c = cell_of(off); c >= 0) std::memcpy(&v, &cells_[size_t(c)], 8);
  return v;
}

void FaultMemory::access(char op, uint64_t off, uint64_t value) {
  if (++accesses == event_at && on_event) on_event(*this);
  if (log == nullptr) return;
  uint32_t w[2];
  std::memcpy(w, &value, 8);
  char text[48];
  std::snprintf(text, sizeof text, op == 'R' ? "R%llu" : "W%llu=%08x,%08x", (unsigned long long)off,
                w[0], w[1]);
  log->push_back(text);
}

uint64_t FaultMemory::get(uint64_t off) {
  access('R', off, 0);
  const uint64_t v = peek(off), c = uint64_t(cell_of(off));
  for (const FaultSpec& f : faults_) {
    if (f.kind == Fault::kReadDisturb && f.aggressor / 64 * 8 == c) set(f.victim, !bit(f.victim));
  }
  return v;
}

void FaultMemory::put(uint64_t off, uint64_t value, uint64_t mask) {
  access('W', off, value);
  const int64_t c = cell_of(off);
  if (c < 0) return;
  const uint64_t before = peek(off), after = (before & ~mask) | (value & mask);
  std::memcpy(&cells_[size_t(c)], &after, 8);
  auto here = [&](uint64_t cell) { return cell / 64 * 8 == uint64_t(c); };
  auto was = [&](uint64_t cell) { return ((before >> (cell % 64)) & 1) != 0; };
  for (const FaultSpec& f : faults_) {
    const bool moved = here(f.aggressor) && was(f.aggressor) != f.up && bit(f.aggressor) == f.up;
    if (f.kind == Fault::kTransition && here(f.victim) && was(f.victim) != f.up &&
        bit(f.victim) == f.up) {
      set(f.victim, !f.up);
    }
    if (f.kind == Fault::kInversion && moved) set(f.victim, !bit(f.victim));
    if (f.kind == Fault::kIdempotent && moved) set(f.victim, f.value);
  }
  for (const FaultSpec& f : faults_) {
    if (f.kind == Fault::kStuck) set(f.victim, f.value);
    if (f.kind == Fault::kState && bit(f.aggressor) == f.up) set(f.victim, f.value);
  }
}

const void* FaultMemory::show(uint64_t off, uint64_t value) {
  std::memcpy(&shown_[size_t(off)], &value, 8);
  return &shown_[size_t(off)];
}

}  // namespace ts
