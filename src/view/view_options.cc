#include "view/view_options.h"

#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/logfile.h"
#include "params/number_rules.h"
#include "params/parse_param.h"
#include "params/prescan.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "view/view_report.h"

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr unsigned kMostUnits = 999;    // memtest reads three digits
constexpr uint64_t kChunk = 64 * kMiB;  // memtest tests whole chunks of this size

struct SizeArg {
  bool given = false;
  bool level_given = false;  // without -lv memtest refuses its command line
  std::string_view value;
};

// The first -size value (a second one is memtest's own parameter error).
SizeArg find_size(char* const* command) {
  SizeArg s;
  for (int i = 1; command[i] != nullptr; ++i) {
    const std::string_view arg = command[i];
    if (strcasecmp(command[i], "-lv") == 0) s.level_given = true;
    if (s.given || arg.size() < 5 || strncasecmp(command[i], "-size", 5) != 0) continue;
    if (arg.size() == 5 && command[i + 1] == nullptr) break;
    s.given = true;
    s.value = arg.size() > 5 ? arg.substr(5) : std::string_view(command[i + 1]);
  }
  return s;
}

// The size a person means by a text such as 1024, 64G, 8GiB or 1.5GB: a
// decimal number, then no unit (MiB) or K, M, G or T, alone or with B or iB.
// 0 when the text is no size.
struct Meant {
  double bytes = 0;
  std::string text;  // "1024 MiB", "1.5 GiB"
};
Meant meant_size(std::string_view v) {
  size_t i = 0;
  double n = 0, decimals = 1;  // n / decimals: one rounding, none for whole numbers
  bool digits = false, point = false;
  for (; i < v.size(); ++i) {
    if (v[i] == '.' && !point) {
      point = true;
    } else if (v[i] >= '0' && v[i] <= '9') {
      digits = true;
      if (point) decimals *= 10;
      n = n * 10 + (v[i] - '0');
    } else {
      break;
    }
  }
  const std::string_view unit = v.substr(i);
  static constexpr std::string_view kUnits = "KMGT";
  const size_t u = unit.empty() ? 1 : kUnits.find(static_cast<char>(unit[0] & ~0x20));
  const std::string_view tail = unit.empty() ? unit : unit.substr(1);
  if (!digits || u == std::string_view::npos ||
      !(tail.empty() || memtest_params::equals_ci(tail, "B") ||
        memtest_params::equals_ci(tail, "iB"))) {
    return {};
  }
  n /= decimals;
  char text[48];
  std::snprintf(text, sizeof text, "%.15g %ciB", n, kUnits[u]);
  return {n * static_cast<double>(uint64_t{1} << (10 * (u + 1))), text};
}

std::string size_text(uint64_t bytes) {
  const bool gib = bytes % kGiB == 0;
  return std::to_string(bytes / (gib ? kGiB : kMiB)) + (gib ? " GiB" : " MiB");
}

// The bytes memtest tests of a size it reads: one chunk up to 64 MiB, above
// that whole 64 MiB chunks, the rest left out.
uint64_t tested_bytes(uint64_t read) {
  return read <= kChunk ? read : read / kChunk * kChunk;
}

// How to write the size meant so that memtest reads and tests all of it.
std::string how_to_write(double bytes) {
  for (const uint64_t unit : {kGiB, kMiB}) {
    const double units = bytes / static_cast<double>(unit);
    if (units >= 1 && units <= kMostUnits && units == static_cast<double>(uint64_t(units)) &&
        tested_bytes(uint64_t(units) * unit) == uint64_t(units) * unit) {
      const std::string n = std::to_string(uint64_t(units));
      return "write -size " + n + (unit == kGiB ? "GB for " : " for ") +
             size_text(uint64_t(units) * unit);
    }
  }
  return "write whole MiB up to 999 (-size 512) or whole GiB (-size 2GB)";
}

// What a size is tested as: "64 MiB", or "64 MiB of the 100 MiB it reads".
std::string tested_text(uint64_t read) {
  const uint64_t tested = tested_bytes(read);
  return size_text(tested) + (tested == read ? "" : " of the " + size_text(read) + " it reads");
}

}  // namespace

std::string size_refusal(char** command) {
  const SizeArg arg = find_size(command);
  if (!arg.given || !arg.level_given) return "";
  // What memtest reads: its pre-scan, then the parse of its first run.
  uint8_t algo_array[5] = {};
  uint32_t error_number = 0;
  if (Pre_Getp_ForProgress(command) != static_cast<int32_t>(kRcOk)) return "";
  if (VykTp2ParseParam2(command, &VykTp2MemStruct, algo_array, &error_number) != kRcOk) return "";
  if (Ex_pmem_FIND.load() == 1) return "";  // the read of physical memory has no size
  const uint64_t read = ParamStruct.dwSize;
  const Meant meant = meant_size(arg.value);
  if (meant.bytes == static_cast<double>(read) && tested_bytes(read) == read) return "";
  if (meant.bytes == static_cast<double>(read)) {
    // Read as written, but the part past the last whole chunk goes untested.
    // Such a size is at most 999 MiB, so the chunk above it is 1 GiB at most.
    const uint64_t below = tested_bytes(read) / kMiB, above = below + kChunk / kMiB;
    return "-size " + std::string(arg.value) + " would test " + tested_text(read) +
           " (memtest tests whole chunks of 64 MiB); write -size " + std::to_string(below) +
           " or -size " + (above * kMiB == kGiB ? "1GB" : std::to_string(above)) +
           ", or give --as-is to run it as memtest reads it";
  }

  std::string fix = how_to_write(meant.bytes);
  const bool number_right =
      meant.bytes == static_cast<double>(memtest_params::read_size_rule(arg.value));
  std::string why;
  if (execute_time_used.load() == 1) {
    why = " (a run time, -runtime, makes memtest test 2 MiB)";
    fix = "leave out -runtime" + (number_right ? "" : " and " + fix);
  } else if (Ex_dwTestLevel.load() == 0) {
    why = " (memtest reads no -size at level 0)";
    fix = "give -lv 1, 2 or 3" + (number_right ? "" : " and " + fix);
  }
  return "-size " + std::string(arg.value) + " would test " + tested_text(read) +
         (meant.bytes > 0 ? ", not " + meant.text : "") + why + "; " + fix +
         ", or give --as-is to run it as memtest reads it";
}

std::string log_dir_warning(char* const* command) {
  const std::string report = report_path(command);
  if (report.empty()) return "";
  const std::string dir = report.substr(0, report.rfind('/'));
  const int err = log_dir_error(dir.c_str());
  if (err == 0) return "";
  return "log directory " + dir + ": " + std::strerror(err) +
         "; memtest will run without logs and without a run report";
}
