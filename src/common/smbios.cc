#include "common/smbios.h"

#include <fcntl.h>

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform.h"

namespace {

// One folder "<type>-<instance>" per structure, each with its bytes in "raw".
constexpr char kEntriesDir[] = "/sys/firmware/dmi/entries";

constexpr unsigned kMemoryDevice = 17;
constexpr unsigned kMappedAddress = 20;

// Memory Device Mapped Address (type 20).
constexpr size_t kMapStart = 0x04;      // dword, KiB
constexpr size_t kMapEnd = 0x08;        // dword, KiB, the last KiB mapped
constexpr size_t kMapDevice = 0x0C;     // word, handle of the memory device
constexpr size_t kMapExtStart = 0x13;   // qword, bytes
constexpr size_t kMapExtEnd = 0x1B;     // qword, bytes, the last byte mapped
constexpr size_t kMapExtLength = 0x23;  // a structure with the extended addresses
constexpr uint32_t kUseExtended = 0xFFFFFFFF;
// Memory Device (type 17).
constexpr size_t kHandle = 0x02;         // word, any structure's own handle
constexpr size_t kDeviceSize = 0x0C;     // word, 0: no device installed
constexpr size_t kDeviceLocator = 0x10;  // string number
constexpr size_t kBankLocator = 0x11;    // string number

// A structure of a few hundred bytes at most; what does not fit is left
// unread and its strings then count as missing.
constexpr size_t kMaxRaw = 4096;

struct Raw {
  unsigned char data[kMaxRaw];
  size_t size = 0;  // bytes actually read
};

struct Entries {
  std::vector<std::string> mapped;   // type 20
  std::vector<std::string> devices;  // type 17
};

void collect(const char* name, void* ctx) {
  auto* entries = static_cast<Entries*>(ctx);
  const std::string_view n(name);
  unsigned type = 0;
  const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), type);
  if (ec != std::errc() || end == n.data() + n.size() || *end != '-') return;
  if (type == kMappedAddress) entries->mapped.emplace_back(n);
  if (type == kMemoryDevice) entries->devices.emplace_back(n);
}

bool read_raw(const std::string& entry, Raw* raw) {
  raw->size = 0;
  const std::string path = std::string(kEntriesDir) + "/" + entry + "/raw";
  const PlatformFile file(path.c_str());
  if (file.fd() < 0) return false;
  while (raw->size < kMaxRaw) {
    const ssize_t got =
        platform().read_file_at(file.fd(), raw->data + raw->size, kMaxRaw - raw->size, raw->size);
    if (got <= 0) break;
    raw->size += static_cast<size_t>(got);
  }
  return raw->size > 0;
}

uint64_t load_le(const Raw& raw, size_t at, size_t bytes) {
  uint64_t v = 0;
  for (size_t i = bytes; i-- > 0;) v = v << 8 | raw.data[at + i];
  return v;
}

// Whether the bytes read hold a whole formatted area of `type` that is at
// least `need` bytes long.
bool formatted(const Raw& raw, unsigned type, size_t need) {
  return raw.size >= 2 && raw.data[0] == type && raw.data[1] >= need && raw.size >= raw.data[1];
}

// The handle of the memory device that a type 20 structure maps phys to.
bool maps(const Raw& raw, uint64_t phys, uint16_t* device) {
  if (!formatted(raw, kMappedAddress, kMapDevice + 2)) return false;
  uint64_t first = load_le(raw, kMapStart, 4);
  uint64_t last = 0;
  if (first == kUseExtended) {
    if (raw.data[1] < kMapExtLength) return false;
    first = load_le(raw, kMapExtStart, 8);
    last = load_le(raw, kMapExtEnd, 8);
  } else {
    first *= 1024;
    last = load_le(raw, kMapEnd, 4) * 1024 + 1023;
  }
  if (phys < first || phys > last) return false;
  *device = static_cast<uint16_t>(load_le(raw, kMapDevice, 2));
  return true;
}

// String number n (from 1) of a structure: the strings follow the formatted
// area, each NUL-terminated, and an empty one ends them.
bool string_of(const Raw& raw, unsigned n, std::string_view* out) {
  size_t at = raw.data[1];
  for (unsigned i = 1; at < raw.size; ++i) {
    const std::string_view rest(reinterpret_cast<const char*>(raw.data) + at, raw.size - at);
    const size_t nul = rest.find('\0');
    if (nul == 0 || nul == std::string_view::npos) return false;
    if (i == n) {
      *out = rest.substr(0, nul);
      return true;
    }
    at += nul + 1;
  }
  return false;
}

// Appends s to out from `at` on, within size - 1 bytes; returns the new end.
size_t put(char* out, size_t size, size_t at, std::string_view s) {
  for (const char c : s) {
    if (at + 1 >= size) break;
    const auto u = static_cast<unsigned char>(c);
    out[at++] = u < 0x20 || u == 0x7F ? '?' : c;
  }
  return at;
}

bool dimm_name(const Raw& raw, char* out, size_t size) {
  std::string_view device, bank;
  const unsigned bank_no = raw.data[kBankLocator];
  if (!string_of(raw, raw.data[kDeviceLocator], &device)) return false;
  if (bank_no != 0 && !string_of(raw, bank_no, &bank)) return false;
  size_t at = 0;
  if (!bank.empty()) {
    at = put(out, size, at, bank);
    at = put(out, size, at, " ");
  }
  at = put(out, size, at, device);
  out[at] = '\0';
  return true;
}

}  // namespace

bool smbios_dimm_of(uint64_t phys, char* out, size_t size) {
  if (out == nullptr || size == 0) return false;
  Entries entries;
  if (platform().list_dir(kEntriesDir, &collect, &entries) != 0) return false;
  Raw raw;
  for (const std::string& map : entries.mapped) {
    uint16_t device = 0;
    if (!read_raw(map, &raw) || !maps(raw, phys, &device)) continue;
    for (const std::string& dev : entries.devices) {
      if (!read_raw(dev, &raw) || !formatted(raw, kMemoryDevice, kBankLocator + 1)) continue;
      if (load_le(raw, kHandle, 2) == device) return dimm_name(raw, out, size);
    }
  }
  if (!entries.mapped.empty()) return false;
  // Firmware without mapped-address structures (newer SMBIOS versions leave
  // them out): the address can only be in the one device installed, when
  // there is exactly one.
  int installed = 0;
  Raw only;
  for (const std::string& dev : entries.devices) {
    if (!read_raw(dev, &raw) || !formatted(raw, kMemoryDevice, kBankLocator + 1)) continue;
    if (load_le(raw, kDeviceSize, 2) == 0) continue;
    if (++installed == 1) only = raw;
  }
  return installed == 1 && dimm_name(only, out, size);
}
