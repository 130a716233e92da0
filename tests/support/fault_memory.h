// A faulty memory for the algorithm tests: the operations the algorithms use
// on the buffer (UnitMemory, in their exact unit order) over a plain byte
// array, with a fault model applied to every unit read and write.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "algorithms/memory.h"

namespace ts {

// Cells are bits, numbered byte offset * 8 + bit. A fault of two cells keeps
// the aggressor (or the unit an address reaches) in another unit.
enum class Fault : uint8_t {
  kStuck,        // the victim always holds `value`
  kTransition,   // the victim cannot rise (up) or fall (!up)
  kInversion,    // a rising (up) or falling aggressor inverts the victim
  kIdempotent,   // a rising (up) or falling aggressor sets the victim to `value`
  kState,        // while the aggressor holds `up`, the victim holds `value`
  kAlias,        // the victim's unit address reaches the aggressor's unit
  kNoCell,       // the victim's unit address reaches no cell (reads 0)
  kReadDisturb,  // reading the aggressor's unit flips the victim afterwards
};
inline constexpr const char* kFaultNames[] = {"stuck", "transition", "inversion", "idempotent",
                                              "state", "alias",      "nocell",    "disturb"};

struct FaultSpec {
  Fault kind;
  uint64_t victim, aggressor;
  bool up, value;
};
// "name victim aggressor up value", numbers in C syntax.
FaultSpec parse_fault(const std::string& text);
// At random cells of `size` bytes; the aggressor above the victim when `above`.
FaultSpec random_fault(Fault kind, uint64_t size, std::mt19937_64& rng, bool above);

class FaultMemory : public UnitMemory<FaultMemory> {
 public:
  FaultMemory(uint64_t size, std::vector<FaultSpec> faults);
  void* buffer() { return shown_.data(); }  // what the algorithm gets; reports point into it
  // The units as stored, reached without a fault.
  uint8_t* cells() { return reinterpret_cast<uint8_t*>(units_.data()); }
  uint64_t get(uint64_t off);
  void put(uint64_t off, uint64_t value, uint64_t mask);
  const void* show(uint64_t off, uint64_t value) { return &(shown_[off / 8] = value); }
  uint64_t peek(uint64_t off) const;  // a read that is not counted and disturbs nothing
  bool bit(uint64_t cell) const { return (units_[cell / 64] >> (cell % 64)) & 1; }
  void flip(uint64_t cell) { units_[cell / 64] ^= uint64_t{1} << (cell % 64); }
  void set(uint64_t cell, bool v) {
    if (bit(cell) != v) flip(cell);
  }

  uint64_t accesses = 0;             // unit reads and writes so far
  uint64_t event_at = ~uint64_t{0};  // on_event runs just before this access
  std::function<void(FaultMemory&)> on_event;
  std::vector<std::string>* log = nullptr;  // "R<off>", "W<off>=<word>,<word>"

 private:
  int64_t unit_of(uint64_t off) const;  // the unit an address reaches, -1 none
  void access(char op, uint64_t off, uint64_t value);

  std::vector<uint64_t> units_, shown_;
  std::vector<FaultSpec> faults_;
};

}  // namespace ts
