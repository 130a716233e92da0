#include "fault_memory.h"

#include <algorithm>
#include <bit>
#include <sstream>
#include <stdexcept>

#include "files.h"

namespace ts {

// Cell c is bit c % 64 of unit c / 64 as loaded.
static_assert(std::endian::native == std::endian::little);

FaultSpec parse_fault(const std::string& text) {
  std::istringstream in(text);
  std::string name, v = "0", a = "0", up, value;
  in >> name >> v >> a >> up >> value;
  const auto* kind = std::ranges::find(kFaultNames, name);
  if (kind == std::end(kFaultNames)) throw std::invalid_argument("no fault " + name);
  return {Fault(kind - kFaultNames), std::stoull(v, nullptr, 0), std::stoull(a, nullptr, 0),
          up == "1", value == "1"};
}

FaultSpec random_fault(Fault kind, uint64_t size, std::mt19937_64& rng, bool above) {
  const uint64_t units = size / 8, v = rng() % units;
  above = v == 0 || (above && v + 1 < units);
  const uint64_t a = above ? v + 1 + rng() % (units - v - 1) : rng() % v;
  return {kind, v * 64 + rng() % 64, a * 64 + rng() % 64, rng() % 2 == 1, rng() % 2 == 1};
}

FaultMemory::FaultMemory(uint64_t size, std::vector<FaultSpec> faults)
    : units_((size + 7) / 8), shown_(units_.size()), faults_(std::move(faults)) {
  put(0, 0, 0);  // stuck and state faults hold from the start
  accesses = 0;
}

int64_t FaultMemory::unit_of(uint64_t off) const {
  for (const FaultSpec& f : faults_) {
    if (off / 8 == f.victim / 64 && f.kind == Fault::kNoCell) return -1;
    if (off / 8 == f.victim / 64 && f.kind == Fault::kAlias) return int64_t(f.aggressor / 64);
  }
  return int64_t(off / 8);
}

uint64_t FaultMemory::peek(uint64_t off) const {
  const int64_t u = unit_of(off);
  return u < 0 ? 0 : units_[size_t(u)];
}

void FaultMemory::access(char op, uint64_t off, uint64_t value) {
  if (++accesses == event_at && on_event) on_event(*this);
  if (log == nullptr) return;
  log->push_back(op == 'R' ? format("R%llu", off)
                           : format("W%llu=%08llx,%08llx", off, uint32_t(value), value >> 32));
}

uint64_t FaultMemory::get(uint64_t off) {
  access('R', off, 0);
  const uint64_t v = peek(off);
  for (const FaultSpec& f : faults_) {
    if (f.kind == Fault::kReadDisturb && int64_t(f.aggressor / 64) == unit_of(off)) flip(f.victim);
  }
  return v;
}

void FaultMemory::put(uint64_t off, uint64_t value, uint64_t mask) {
  access('W', off, value);
  const int64_t u = unit_of(off);
  if (u < 0) return;
  const uint64_t before = units_[size_t(u)];
  units_[size_t(u)] = (before & ~mask) | (value & mask);
  auto here = [&](uint64_t cell) { return int64_t(cell / 64) == u; };
  auto was = [&](uint64_t cell) { return ((before >> (cell % 64)) & 1) != 0; };
  for (const FaultSpec& f : faults_) {
    const bool moved = here(f.aggressor) && was(f.aggressor) != f.up && bit(f.aggressor) == f.up;
    if (f.kind == Fault::kTransition && here(f.victim) && was(f.victim) != f.up &&
        bit(f.victim) == f.up) {
      set(f.victim, !f.up);
    }
    if (f.kind == Fault::kInversion && moved) flip(f.victim);
    if (f.kind == Fault::kIdempotent && moved) set(f.victim, f.value);
  }
  for (const FaultSpec& f : faults_) {
    if (f.kind == Fault::kStuck) set(f.victim, f.value);
    if (f.kind == Fault::kState && bit(f.aggressor) == f.up) set(f.victim, f.value);
  }
}

}  // namespace ts
