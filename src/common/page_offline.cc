// Soft offline through sysfs, and the corrupted-memory amount of /proc/meminfo.
#include "common/page_offline.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "common/platform.h"

namespace {

constexpr char kSoftOfflinePath[] = "/sys/devices/system/memory/soft_offline_page";
constexpr char kMeminfoPath[] = "/proc/meminfo";

int errno_or_eio() {
  return errno != 0 ? errno : EIO;
}

// "HardwareCorrupted:     123 kB": the number, or -1 when the line is not
// the key's or not in that form.
int64_t line_kib(std::string_view line, std::string_view key) {
  if (!line.starts_with(key)) return -1;
  line.remove_prefix(key.size());
  while (line.starts_with(' ')) line.remove_prefix(1);
  int64_t kib = -1;
  const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), kib);
  if (ec != std::errc()) return -1;
  line.remove_prefix(static_cast<size_t>(end - line.data()));
  while (line.starts_with(' ')) line.remove_prefix(1);
  return line == "kB" ? kib : -1;
}

}  // namespace

int page_soft_offline(uint64_t phys) {
  const long size = sysconf(_SC_PAGESIZE);
  const uint64_t page = size > 0 ? static_cast<uint64_t>(size) : 4096;
  char text[32];
  const int len = std::snprintf(text, sizeof text, "0x%llx\n",
                                static_cast<unsigned long long>(phys & ~(page - 1)));
  PlatformFile f(kSoftOfflinePath, O_WRONLY);
  if (f.fd() < 0) return errno_or_eio();
  // The kernel's answer comes with the write: EBUSY, EIO, EINVAL, ...
  errno = 0;
  const ssize_t n = platform().write_file(f.fd(), text, static_cast<size_t>(len));
  if (n == len) return 0;
  return n < 0 ? errno_or_eio() : EIO;
}

int64_t meminfo_hardware_corrupted_kib() {
  return meminfo_kib("HardwareCorrupted:");
}

int64_t meminfo_kib(std::string_view key) {
  PlatformFile f(kMeminfoPath, O_RDONLY);
  if (f.fd() < 0) return -1;
  // Line by line through a small buffer; a line too long for it is not the
  // one looked for, nor is a last line without its newline (a cut file).
  char piece[1024];
  char line[64];
  size_t len = 0;
  bool cut = false;
  uint64_t offset = 0;
  for (;;) {
    const ssize_t n = platform().read_file_at(f.fd(), piece, sizeof piece, offset);
    if (n <= 0) return -1;  // the end, or an error, before the line
    offset += static_cast<uint64_t>(n);
    for (ssize_t i = 0; i < n; ++i) {
      if (piece[i] == '\n') {
        if (!cut && std::string_view(line, len).starts_with(key)) {
          return line_kib(std::string_view(line, len), key);
        }
        len = 0;
        cut = false;
      } else if (len < sizeof line) {
        line[len++] = piece[i];
      } else {
        cut = true;
      }
    }
  }
}
