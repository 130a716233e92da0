// Common command-line options of the suite's test modules.
#include "common/options.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/eset.h"
#include "common/logfile.h"
#include "common/test_inf.h"

namespace {

constexpr size_t kDevWidth = 32;
constexpr size_t kPathWidth = 260;
constexpr size_t kLogBaseWidth = 516;

constexpr uint64_t kMaxLevel = 3;
constexpr uint64_t kMaxRuntime = 99999999;
constexpr uint64_t kMaxLogKiB = 8192;
constexpr uint64_t kMaxGenerations = 9;

constexpr int32_t kDefaultLogSize = 0x20000;
constexpr uint32_t kDefaultGenerations = 4;
constexpr uint32_t kRuntimeOneRound = 0x70000000;

bool same_option(const char* arg, const char* name) {
  return strcasecmp(arg, name) == 0;
}

// Nothing-texts go to line 0 of the first list, error texts to line 1 of the
// second list.
int nothing_first(const char* text) {
  eset_freemsg(0, text);
  return -1;
}

int nothing_second(const char* text) {
  eset_freemsg_p(1, text);
  return -1;
}

int error_second(const char* fmt, const char* value) {
  eset_freemsg_printfx(1, 1, kPfFormat, fmt, value);
  return -1;
}

// Copies a directory value, dropping every double quote.
void copy_unquoted(char* dst, size_t width, std::string_view src) {
  std::memset(dst, 0, width + 1);
  size_t n = 0;
  for (char c : src) {
    if (c == '"') continue;
    if (n == width) break;
    dst[n++] = c;
  }
}

void copy_cut(char* dst, size_t width, const char* src) {
  std::memset(dst, 0, width + 1);
  std::memcpy(dst, src, strnlen(src, width));
}

// Reads a numeric option value; false when unreadable or above max.
bool read_number(const char* text, uint64_t min, uint64_t max, uint64_t* out) {
  uint64_t v = 0;
  if (strtolx(text, &v) != 0 || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

int get_module_name(char* out, const char* path, int max) {
  if (path == nullptr || path[0] == '\0') return -1;
  std::string_view p(path);
  size_t sep = p.find_last_of("/:");
  std::string_view name = sep == std::string_view::npos ? p : p.substr(sep + 1);
  if (name.size() > 4 && strcasecmp(name.data() + name.size() - 4, ".exe") == 0) {
    name.remove_suffix(4);
  }
  size_t n = max > 0 ? std::min(name.size(), static_cast<size_t>(max)) : 0;
  // No terminator: the caller passes a zeroed buffer of max + 1 characters.
  std::memcpy(out, name.data(), n);
  return 0;
}

int get_test_level(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (same_option(argv[i], "-lv")) {
      return std::strtoul(argv[i + 1], nullptr, 0) != 0 ? static_cast<int>(kModeOnline)
                                                        : static_cast<int>(kModePatrol);
    }
  }
  return static_cast<int>(kModeOnline);
}

int strtolx(const char* text, uint64_t* value) {
  if (text == nullptr) return -1;
  std::string_view t(text);
  if (t.empty() || t == "0x" || t == "0X") return -1;
  uint64_t v = 0;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    if (t.size() > 18) return -1;
    for (char c : t.substr(2)) {
      unsigned d;
      if (c >= '0' && c <= '9') {
        d = static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        d = static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        d = static_cast<unsigned>(c - 'A' + 10);
      } else {
        return -1;
      }
      v = v * 16 + d;
    }
  } else {
    if (t.size() > 20) return -1;
    for (char c : t) {
      if (c < '0' || c > '9') return -1;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
  }
  *value = v;
  return 0;
}

int common_arg_analyze(int argc, char** argv) {
  TEST_INF.log_size_limit = kDefaultLogSize;
  TEST_INF.log_generations = kDefaultGenerations;
  TEST_INF.debug_enabled = 0;
  TEST_INF.runtime = kRuntimeOneRound;

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool has_value = i + 1 < argc;
    const char* value = has_value ? argv[i + 1] : nullptr;
    uint64_t num = 0;

    if (same_option(arg, "-debug")) {
      TEST_INF.debug_enabled = 1;
    } else if (same_option(arg, "-dev")) {
      if (!has_value) return nothing_first("\"-dev\" Parameter Nothing");
      if (std::strlen(value) > kDevWidth) {
        return error_second("\"-dev\" Parameter Error ( %s )", value);
      }
      copy_cut(TEST_INF.dev_arg, kDevWidth, value);
      ++i;
    } else if (same_option(arg, "-lv")) {
      if (!has_value) return nothing_first("\"-lv\" Parameter Nothing");
      if (!read_number(value, 0, kMaxLevel, &num)) {
        return error_second("\"-lv\" Parameter Error ( %s )", value);
      }
      TEST_INF.test_level = static_cast<uint32_t>(num);
      TEST_INF.test_mode = num == 0 ? kModePatrol : kModeOnline;
      ++i;
    } else if (same_option(arg, "-runtime") || same_option(arg, "/runtime")) {
      if (!has_value) return nothing_first("\"-runtime\" Parameter Nothing");
      if (!read_number(value, 0, kMaxRuntime, &num)) {
        return error_second("\"/runtime\" Parameter Error ( %s )", value);
      }
      TEST_INF.runtime = static_cast<uint32_t>(num);
      ++i;
    } else if (same_option(arg, "-path")) {
      if (!has_value) return nothing_first("\"-path\" Parameter Nothing");
      if (std::strlen(value) > kPathWidth) {
        return error_second("\"-path\" Parameter Error ( %s )", value);
      }
      copy_unquoted(TEST_INF.data_path, kPathWidth, value);
      ++i;
    } else if (same_option(arg, "-trc")) {
      if (!has_value) return nothing_second("\"-trc\" Parameter Nothing");
      if (std::strlen(value) > kPathWidth) {
        return error_second("\"-trc\" Parameter Error ( %s )", value);
      }
      copy_unquoted(TEST_INF.trace_dir, kPathWidth, value);
      ++i;
    } else if (same_option(arg, "-log")) {
      if (!has_value) return nothing_first("\"-log\" Parameter Nothing");
      if (!read_number(value, 1, kMaxLogKiB, &num)) {
        return error_second("\"-log\" Parameter Error ( %s )", value);
      }
      TEST_INF.log_size_limit = static_cast<int32_t>(num * 1024);
      ++i;
    } else if (same_option(arg, "-gen")) {
      if (!has_value) return nothing_first("\"-gen\" Parameter Nothing");
      if (!read_number(value, 1, kMaxGenerations, &num)) {
        return error_second("\"-gen\" Parameter Error ( %s )", value);
      }
      TEST_INF.log_generations = static_cast<uint32_t>(num);
      ++i;
    }
    // Anything else belongs to the module's own parameters: skipped.
  }
  return 0;
}

int common_arg_check() {
  if (TEST_INF.dev_arg[0] == '\0') {
    eset_freemsg_p(1, "\"/dev test-device-name\" Parameter Not Found");
    return -1;
  }
  if (TEST_INF.test_mode.load() == kModeUnknown) {
    eset_freemsg_p(1, "\"-lv 0-3\" Parameter Not Found");
    return -1;
  }
  if (TEST_INF.trace_dir[0] == '\0') {
    const char* env = std::getenv("VYK_log");
    if (env != nullptr && std::strlen(env) <= kPathWidth) {
      copy_cut(TEST_INF.trace_dir, kPathWidth, env);
    }
  }
  if (TEST_INF.data_path[0] == '\0') {
    // An empty value counts as unset: taken as it is, it would put the
    // message table and the log files at the root of the file system.
    const char* env = std::getenv("VYK_data");
    if (env == nullptr || env[0] == '\0' || std::strlen(env) > kPathWidth) {
      eset_freemsg_p(1, "\"-parh directry-name\" Parameter Not Found");
      return -1;
    }
    copy_cut(TEST_INF.data_path, kPathWidth, env);
  }
  if (TEST_INF.trace_dir[0] == '\0') {
    copy_cut(TEST_INF.trace_dir, kPathWidth, TEST_INF.data_path);
  }
  const char* letter = TEST_INF.test_mode.load() == kModePatrol ? "p" : "o";
  std::snprintf(TEST_INF.trace_log_base, kLogBaseWidth + 1, "%s/%s%s%s", TEST_INF.trace_dir, "mem",
                letter, "t");
  std::snprintf(TEST_INF.debug_log_base, kLogBaseWidth + 1, "%s/%s%s%s", TEST_INF.trace_dir, "mem",
                letter, "d");
  return 0;
}

int common_arg_chk(int argc, char** argv) {
  if (common_arg_analyze(argc, argv) != 0) return -1;
  return common_arg_check();
}
