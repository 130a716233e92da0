// Reading memtest's run report for memtest-view.
#include "view/view_report.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/run_report.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr char kFormatPrefix[] = "memtest-run-report/1";
constexpr size_t kMaxReportBytes = 1 << 20;  // a report is some kilobytes
constexpr size_t kPathWidth = 260;           // memtest's longest directory value

// Members of the types asked for; a member that is missing or of another
// type reads as none (a report from a later memtest may differ).
std::string text_of(const Json& o, const char* key) {
  const auto it = o.find(key);
  return it != o.end() && it->is_string() ? it->get<std::string>() : "";
}

bool count_of(const Json& o, const char* key, uint64_t* n) {
  const auto it = o.find(key);
  if (it == o.end() || !it->is_number_unsigned()) return false;
  *n = it->get<uint64_t>();
  return true;
}

bool flag_of(const Json& o, const char* key) {
  const auto it = o.find(key);
  return it != o.end() && it->is_boolean() && it->get<bool>();
}

bool older(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

bool same_file(const FileStamp& a, const FileStamp& b) {
  return a.exists && b.exists && a.dev == b.dev && a.ino == b.ino &&
         a.mtime.tv_sec == b.mtime.tv_sec && a.mtime.tv_nsec == b.mtime.tv_nsec;
}

FileStamp stamp_of(const struct stat& st) {
  FileStamp s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.mtime = st.st_mtim;
  return s;
}

// "MSCAN Ref No. 1 at 0xf7a01008, physical address 0x12345008 (DIMM A1),
// expected 0x..., read 0x..., page offlined"
std::string cell_line(const Json& c) {
  std::string line = "failing cell: ";
  if (text_of(c, "kind") == "machine-check") {
    line += "machine check";
  } else {
    const std::string algorithm = text_of(c, "algorithm");
    line += algorithm.empty() ? "compare" : algorithm;
    if (uint64_t ref = 0; count_of(c, "ref_no", &ref)) line += " Ref No. " + std::to_string(ref);
  }
  line += " at " + text_of(c, "virtual_address");
  const std::string phys = text_of(c, "physical_address");
  line += phys.empty() ? ", physical address unknown (" + text_of(c, "location") + ")"
                       : ", physical address " + phys;
  if (const std::string dimm = text_of(c, "dimm"); !dimm.empty()) line += " (DIMM " + dimm + ")";
  if (const std::string expected = text_of(c, "expected"); !expected.empty())
    line += ", expected " + expected + ", read " + text_of(c, "actual");
  if (flag_of(c, "poisoned")) line += ", poisoned";
  const std::string offline = text_of(c, "offline");
  if (offline == "offlined") line += ", page offlined";
  if (offline.starts_with("failed")) line += ", offline " + offline;
  if (offline == "not-located") line += ", not offlined (page not located)";
  return line;
}

std::string unquoted(const char* value) {
  std::string dir;
  for (const char* p = value; *p != '\0'; ++p) {
    if (*p != '"') dir += *p;
  }
  return dir;
}

}  // namespace

FileStamp file_stamp(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? stamp_of(st) : FileStamp{};
}

timespec file_clock_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}

ReportLoad report_load(const std::string& path, const ReportAge* age, ViewReport* out,
                       std::string* error) {
  *out = ViewReport{};
  // Non-blocking: a FIFO planted at the name must not stop the view.
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (age != nullptr ? O_NOFOLLOW : 0);
  const int fd = open(path.c_str(), flags);
  if (fd < 0 && age != nullptr && errno == ENOENT) return ReportLoad::kNone;
  if (fd < 0) {
    *error = std::string("cannot open: ") + std::strerror(errno);
    return ReportLoad::kBad;
  }
  struct stat st {};
  std::string text;
  bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const bool stale =
      regular && age != nullptr &&
      (same_file(stamp_of(st), age->before) || older(stamp_of(st).mtime, age->started));
  char buf[8192];
  for (ssize_t n = 0; regular && !stale && (n = read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxReportBytes) regular = false;
    if (n > 0) text.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (stale) return ReportLoad::kNone;
  if (!regular) {
    *error = "not a regular file of a report's size";
    return ReportLoad::kBad;
  }
  const Json j = Json::parse(text, nullptr, false);
  const std::string format = j.is_object() ? text_of(j, "format") : "";
  if (format != kFormatPrefix && !format.starts_with(std::string(kFormatPrefix) + ".")) {
    *error = "not a memtest run report";
    return ReportLoad::kBad;
  }
  out->present = true;
  out->verdict = text_of(j, "verdict");
  out->summary = text_of(j, "summary");
  if (const auto cells = j.find("failing_cells"); cells != j.end() && cells->is_array()) {
    for (const Json& c : *cells) {
      if (!c.is_object()) continue;
      out->cells.push_back(cell_line(c));
      ReportCell cell;
      cell.kind = text_of(c, "kind");
      cell.algorithm = text_of(c, "algorithm");
      count_of(c, "ref_no", &cell.ref_no);
      cell.offset = text_of(c, "offset");
      cell.expected = text_of(c, "expected");
      cell.actual = text_of(c, "actual");
      cell.physical_address = text_of(c, "physical_address");
      cell.dimm = text_of(c, "dimm");
      out->failing.push_back(cell);
    }
  }
  count_of(j, "cells_not_listed", &out->cells_not_listed);
  out->json = j.dump(-1, ' ', false, Json::error_handler_t::replace);
  return ReportLoad::kRead;
}

// The option scan of common/options.cc: an option that takes a value takes
// the next argument whatever it is, the last of a kind counts.
std::string report_path(char* const* command) {
  static constexpr const char* kWithValue[] = {"-dev",  "-lv",  "-runtime", "/runtime",
                                               "-path", "-trc", "-log",     "-gen"};
  const char* trc = nullptr;
  const char* path = nullptr;
  for (int i = 1; command[i] != nullptr; ++i) {
    bool takes_value = false;
    for (const char* option : kWithValue)
      takes_value = takes_value || !strcasecmp(command[i], option);
    if (!takes_value) continue;
    if (command[i + 1] == nullptr) return "";  // memtest stops there, before any log
    if (strcasecmp(command[i], "-trc") == 0) trc = command[i + 1];
    if (strcasecmp(command[i], "-path") == 0) path = command[i + 1];
    ++i;
  }
  if ((trc != nullptr && std::strlen(trc) > kPathWidth) ||
      (path != nullptr && std::strlen(path) > kPathWidth))
    return "";  // refused: memtest ends before it has a trace directory
  std::string dir = trc != nullptr ? unquoted(trc) : "";
  const char* log_env = std::getenv("VYK_log");
  if (dir.empty() && log_env != nullptr && std::strlen(log_env) <= kPathWidth) dir = log_env;
  std::string data = path != nullptr ? unquoted(path) : "";
  const char* data_env = std::getenv("VYK_data");
  if (data.empty() && data_env != nullptr && std::strlen(data_env) <= kPathWidth) data = data_env;
  if (dir.empty()) dir = data;
  return dir.empty() ? "" : dir + "/" + kReportName;
}
