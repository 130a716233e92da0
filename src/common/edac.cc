// The EDAC counters read from sysfs, and what grew between two readings.
#include "common/edac.h"

#include <fcntl.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/platform.h"

namespace {

constexpr char kEdacRoot[] = "/sys/devices/system/edac/mc";
constexpr size_t kPathSize = 128;
// Folder numbers of more digits are ignored: no machine has that many
// controllers or DIMMs, and with at most six the names always fit their fields.
constexpr size_t kMaxDigits = 6;

// Reads at most n bytes from the start of a small file: the length read, or
// -1 when it cannot be opened or read.
ssize_t read_small(const char* path, char* buf, size_t n) {
  PlatformFile f(path);
  if (f.fd() < 0) return -1;
  size_t got = 0;
  while (got < n) {
    const ssize_t k = platform().read_file_at(f.fd(), buf + got, n - got, got);
    if (k < 0) return -1;
    if (k == 0) break;
    got += static_cast<size_t>(k);
  }
  return static_cast<ssize_t>(got);
}

// A counter file holds a decimal number and a newline; false when the file is
// missing, unreadable or holds anything else.
bool read_count(const char* path, uint64_t* value) {
  char buf[32];
  const ssize_t n = read_small(path, buf, sizeof buf);
  if (n <= 0) return false;
  std::string_view text(buf, static_cast<size_t>(n));
  if (text.back() == '\n') text.remove_suffix(1);
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  *value = v;
  return true;
}

// The label without its newline, cut to the field. Labels are set by anyone
// with root and end up in logs and JSON: everything but printable ASCII, and
// the characters JSON escapes, becomes '?'.
template <size_t N>
void read_label(const char* path, char (&label)[N]) {
  char buf[N];
  const ssize_t n = read_small(path, buf, sizeof buf);
  size_t len = n > 0 ? static_cast<size_t>(n) : 0;
  if (len > 0 && buf[len - 1] == '\n') --len;
  if (len > N - 1) len = N - 1;
  for (size_t i = 0; i < len; ++i) {
    const char c = buf[i];
    label[i] = (c < 0x20 || c > 0x7e || c == '"' || c == '\\') ? '?' : c;
  }
  label[len] = '\0';
}

// The numbers of the names "<prefix><digits><suffix>" in a directory, smallest
// first, so that the order does not depend on the directory's. At most
// kEdacMaxCounters are kept (no more could go into a snapshot); overflow tells
// that some were left out.
struct Numbers {
  std::string_view prefix;
  std::string_view suffix;
  uint32_t count = 0;
  bool overflow = false;
  uint32_t n[kEdacMaxCounters] = {};
};

// Digits as the kernel writes them: no leading zero except in "0" itself.
bool parse_name(std::string_view name, const Numbers& set, uint32_t* num) {
  if (name.size() <= set.prefix.size() + set.suffix.size()) return false;
  if (!name.starts_with(set.prefix) || !name.ends_with(set.suffix)) return false;
  name.remove_prefix(set.prefix.size());
  name.remove_suffix(set.suffix.size());
  if (name.size() > kMaxDigits || (name[0] == '0' && name.size() > 1)) return false;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), *num);
  return ec == std::errc() && end == name.data() + name.size();
}

void collect(const char* name, void* ctx) {
  Numbers& set = *static_cast<Numbers*>(ctx);
  uint32_t v = 0;
  if (!parse_name(name, set, &v)) return;
  uint32_t at = set.count;
  while (at > 0 && set.n[at - 1] > v) --at;
  if (set.count == kEdacMaxCounters) {
    set.overflow = true;
    if (at == set.count) return;
    --set.count;  // the largest goes
  }
  std::memmove(&set.n[at + 1], &set.n[at], (set.count - at) * sizeof set.n[0]);
  set.n[at] = v;
  ++set.count;
}

Numbers list_numbers(const char* dir, std::string_view prefix, std::string_view suffix) {
  Numbers set;
  set.prefix = prefix;
  set.suffix = suffix;
  platform().list_dir(dir, &collect, &set);
  return set;
}

// Adds c with the counts of the files given (ue_path may be null); a counter
// with neither count readable is left out.
void add_counter(EdacSnapshot* snap, EdacCounter c, const char* ce_path, const char* ue_path) {
  const bool has_ce = read_count(ce_path, &c.ce);
  const bool has_ue = ue_path != nullptr && read_count(ue_path, &c.ue);
  if (!has_ce && !has_ue) return;
  if (snap->count == kEdacMaxCounters) {
    snap->truncated = true;
    return;
  }
  snap->counters[snap->count++] = c;
}

// The DIMM folders of a controller ("dimm<M>", or "rank<M>" on drivers that
// count by rank); false when it has none. Paths are written whole from the
// numbers, which bounds their length.
bool read_dimms(EdacSnapshot* snap, const EdacCounter& mc, uint32_t m, const char* dir) {
  char ce[kPathSize], ue[kPathSize], label[kPathSize];
  for (const char* kind : {"dimm", "rank"}) {
    const Numbers dimms = list_numbers(dir, kind, "");
    snap->truncated |= dimms.overflow;
    for (uint32_t i = 0; i < dimms.count; ++i) {
      const uint32_t d = dimms.n[i];
      EdacCounter c = mc;
      std::snprintf(c.dimm, sizeof c.dimm, "%s%u", kind, d);
      std::snprintf(ce, sizeof ce, "%s/mc%u/%s%u/dimm_ce_count", kEdacRoot, m, kind, d);
      std::snprintf(ue, sizeof ue, "%s/mc%u/%s%u/dimm_ue_count", kEdacRoot, m, kind, d);
      std::snprintf(label, sizeof label, "%s/mc%u/%s%u/dimm_label", kEdacRoot, m, kind, d);
      read_label(label, c.label);
      add_counter(snap, c, ce, ue);
    }
    if (dimms.count > 0) return true;
  }
  return false;
}

// Kernels and drivers without DIMM folders count corrected errors per csrow
// channel; their uncorrected ones only per csrow, which the controller's
// totals already show, so a channel's ue stays 0.
void read_csrows(EdacSnapshot* snap, const EdacCounter& mc, uint32_t m, const char* dir) {
  char sub[kPathSize], ce[kPathSize], label[kPathSize];
  const Numbers rows = list_numbers(dir, "csrow", "");
  snap->truncated |= rows.overflow;
  for (uint32_t r = 0; r < rows.count; ++r) {
    const uint32_t row = rows.n[r];
    std::snprintf(sub, sizeof sub, "%s/mc%u/csrow%u", kEdacRoot, m, row);
    const Numbers channels = list_numbers(sub, "ch", "_ce_count");
    snap->truncated |= channels.overflow;
    for (uint32_t i = 0; i < channels.count; ++i) {
      const uint32_t ch = channels.n[i];
      EdacCounter c = mc;
      std::snprintf(c.dimm, sizeof c.dimm, "csrow%u/ch%u", row, ch);
      std::snprintf(ce, sizeof ce, "%s/mc%u/csrow%u/ch%u_ce_count", kEdacRoot, m, row, ch);
      std::snprintf(label, sizeof label, "%s/mc%u/csrow%u/ch%u_dimm_label", kEdacRoot, m, row, ch);
      read_label(label, c.label);
      add_counter(snap, c, ce, nullptr);
    }
  }
}

const EdacCounter* find_counter(const EdacSnapshot& snap, const EdacCounter& c) {
  for (uint32_t i = 0; i < snap.count; ++i) {
    const EdacCounter& s = snap.counters[i];
    if (std::strcmp(s.mc, c.mc) == 0 && std::strcmp(s.dimm, c.dimm) == 0) return &s;
  }
  return nullptr;
}

// A counter that went down (reset, driver reloaded) did not grow.
uint64_t grown(uint64_t before, uint64_t after) {
  return after > before ? after - before : 0;
}

}  // namespace

void edac_read(EdacSnapshot* snap) {
  *snap = EdacSnapshot{};
  Numbers mcs;
  mcs.prefix = "mc";
  if (platform().list_dir(kEdacRoot, &collect, &mcs) != 0) return;
  snap->present = true;
  snap->truncated = mcs.overflow;
  char dir[kPathSize], ce[kPathSize], ue[kPathSize];
  for (uint32_t i = 0; i < mcs.count; ++i) {
    EdacCounter mc;
    std::snprintf(mc.mc, sizeof mc.mc, "mc%u", mcs.n[i]);
    std::snprintf(dir, sizeof dir, "%s/mc%u", kEdacRoot, mcs.n[i]);
    std::snprintf(ce, sizeof ce, "%s/mc%u/ce_count", kEdacRoot, mcs.n[i]);
    std::snprintf(ue, sizeof ue, "%s/mc%u/ue_count", kEdacRoot, mcs.n[i]);
    // The totals come first: a controller without DIMM folders still shows.
    add_counter(snap, mc, ce, ue);
    if (!read_dimms(snap, mc, mcs.n[i], dir)) read_csrows(snap, mc, mcs.n[i], dir);
  }
}

uint32_t edac_growth(const EdacSnapshot& before, const EdacSnapshot& after, EdacGrowth* out,
                     uint32_t max) {
  uint32_t n = 0;
  for (const bool dimms : {true, false}) {
    for (uint32_t i = 0; i < after.count && n < max; ++i) {
      const EdacCounter& c = after.counters[i];
      if ((c.dimm[0] != '\0') != dimms) continue;
      const EdacCounter* b = find_counter(before, c);
      const EdacGrowth g{c, grown(b != nullptr ? b->ce : 0, c.ce),
                         grown(b != nullptr ? b->ue : 0, c.ue)};
      if (g.ce_delta > 0 || g.ue_delta > 0) out[n++] = g;
    }
  }
  return n;
}
