// The memory controllers' error counters the kernel keeps (EDAC, under
// /sys/devices/system/edac/mc): corrected (ce) and uncorrected (ue) errors
// per controller and per DIMM, with the DIMM's label.
#pragma once

#include <cstdint>

inline constexpr uint32_t kEdacMaxCounters = 64;

struct EdacCounter {
  char mc[12] = {};     // "mc0"
  char dimm[24] = {};   // "dimm3" (or "rank3"), or "csrow0/ch1" on kernels without dimm
                        // folders; "" for the controller's own totals
  char label[64] = {};  // dimm_label / chX_dimm_label; bytes outside printable ASCII and
                        // '"' '\\' replaced by '?'; "" if none
  uint64_t ce = 0;
  uint64_t ue = 0;  // always 0 for a csrow channel: the kernel counts those per csrow,
                    // and the controller's totals show them
};

struct EdacSnapshot {
  bool present = false;    // an EDAC tree was found
  bool truncated = false;  // more counters than kEdacMaxCounters; the later ones are left out
  uint32_t count = 0;
  EdacCounter counters[kEdacMaxCounters];
};

struct EdacGrowth {
  EdacCounter now;  // the counter at the later snapshot
  uint64_t ce_delta = 0;
  uint64_t ue_delta = 0;
};

// Reads every controller and DIMM counter, controllers in number order, each
// controller's totals before its DIMMs; a missing or unreadable file leaves
// that counter out (or at 0 when only one of its two counts is readable).
void edac_read(EdacSnapshot* snap);

// The counters that grew from `before` to `after`, DIMMs before controllers'
// totals; returns how many were put into out (at most max).
uint32_t edac_growth(const EdacSnapshot& before, const EdacSnapshot& after, EdacGrowth* out,
                     uint32_t max);
