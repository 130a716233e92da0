// The physical place of a page and its DIMM, read from a fake /proc and /sys:
// pagemap and kpageflags entries, and SMBIOS structures under
// /sys/firmware/dmi/entries. The addresses asked for are small numbers that
// are never dereferenced, so the fake files stay small.
#include <unistd.h>

#include <cstring>

#include "common/pagemap.h"
#include "common/smbios.h"
#include "fixture.h"

namespace {

constexpr char kPagemap[] = "/proc/self/pagemap";
constexpr char kPageFlags[] = "/proc/kpageflags";
constexpr char kDmi[] = "/sys/firmware/dmi/entries/";
constexpr uint64_t kPresent = uint64_t{1} << 63;
constexpr uint64_t kSwapped = uint64_t{1} << 62;
constexpr uint64_t kSoftDirty = uint64_t{1} << 55;
constexpr uint64_t kHwPoison = uint64_t{1} << 19;
const uint64_t kPage = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

// Byte `offset` of page `page_no` of the fake address space.
const void* at(uint64_t page_no, uint64_t offset) {
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(page_no * kPage + offset));
}

// Writes v as `bytes` little-endian bytes at `at`.
void set(std::string* s, size_t at, uint64_t v, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) (*s)[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

// Sets entry `index` of a file of 64-bit entries, zero entries before it.
void put_entry(const char* path, uint64_t index, uint64_t value) {
  std::string& f = ut::world().files[path];
  if (f.size() < (index + 1) * 8) f.resize((index + 1) * 8, '\0');
  set(&f, index * 8, value, 8);
}

using LocateTest = ut::MemtestTest;

TEST_F(LocateTest, PresentPageGivesItsFrameAndTheByteWithinIt) {
  put_entry(kPagemap, 7, kPresent | kSoftDirty | 0x1234);
  put_entry(kPageFlags, 0x1234, uint64_t{1} << 20 | uint64_t{1} << 5);
  const PhysLocation loc = phys_locate(at(7, 0x123));
  EXPECT_EQ(loc.status, PhysStatus::kLocated);
  EXPECT_EQ(loc.phys, 0x1234 * kPage + 0x123);
  EXPECT_FALSE(loc.poisoned);
  put_entry(kPageFlags, 0x1234, kHwPoison);
  EXPECT_TRUE(phys_locate(at(7, 0)).poisoned);
}

TEST_F(LocateTest, FrameZeroOfAPresentPageIsHidden) {
  put_entry(kPagemap, 3, kPresent);
  EXPECT_EQ(phys_locate(at(3, 8)).status, PhysStatus::kHidden);
}

// A page the kernel took out of service shows as a swap entry (swap type in
// the low 5 bits) that carries its frame; only kpageflags tells that frame
// from a swap offset.
TEST_F(LocateTest, PoisonedPageShowsAsSwapEntryConfirmedByPageFlags) {
  const uint64_t pfn = 0x2345;
  put_entry(kPagemap, 4, kSwapped | pfn << 5 | 0x1D);
  put_entry(kPageFlags, pfn, kHwPoison);
  const PhysLocation loc = phys_locate(at(4, 0x10));
  EXPECT_EQ(loc.status, PhysStatus::kLocated);
  EXPECT_EQ(loc.phys, pfn * kPage + 0x10);
  EXPECT_TRUE(loc.poisoned);
  // The same bits without the swap bit: not even a swap entry.
  put_entry(kPagemap, 4, pfn << 5);
  EXPECT_EQ(phys_locate(at(4, 0)).status, PhysStatus::kNotPresent);
  // A frame that is not poisoned: a swap offset.
  put_entry(kPagemap, 4, kSwapped | pfn << 5);
  put_entry(kPageFlags, pfn, uint64_t{1} << 18);
  EXPECT_EQ(phys_locate(at(4, 0)).status, PhysStatus::kNotPresent);
}

// Each frame counts once: frame 5 twice, and the same bit of another leaf of
// the set.
TEST_F(LocateTest, CollectCountsTheFramesOfEveryPageTheRangeTouches) {
  put_entry(kPagemap, 3, kPresent | 5);
  put_entry(kPagemap, 4, kPresent);  // hidden frame
  put_entry(kPagemap, 5, kPresent | kSoftDirty | (2 * 32768 + 5));
  put_entry(kPagemap, 6, kPresent | 5);
  put_entry(kPagemap, 7, kPresent | 0x700);
  PfnSet set;
  EXPECT_EQ(pagemap_collect(at(3, 100), 3 * kPage, &set), 3u);
  EXPECT_EQ(pfn_set_count(set), 2u);
  EXPECT_TRUE(pfn_set_contains(set, 2 * 32768 + 5));
  EXPECT_EQ(pagemap_collect(at(6, 0), kPage, &set), 1u);
}

TEST_F(LocateTest, CollectReadsPastOneBatch) {
  for (uint64_t p = 1; p <= 1100; ++p) put_entry(kPagemap, p, kPresent | (0x10000 + p));
  PfnSet set;
  EXPECT_EQ(pagemap_collect(at(1, 0), 1100 * kPage, &set), 1100u);
  EXPECT_EQ(pfn_set_count(set), 1100u);
}

// SMBIOS structures: the formatted area (type, length, handle, fields), then
// the strings and the NUL that ends them.
std::string mapped(uint16_t device, uint32_t start_kib, uint32_t end_kib) {
  std::string s = {20, 0x23, 0, 0x20};
  s.resize(0x23 + 2, '\0');
  set(&s, 0x04, start_kib, 4);
  set(&s, 0x08, end_kib, 4);
  set(&s, 0x0C, device, 2);
  return s;
}

std::string memory_device(uint16_t handle, char device_no, char bank_no,
                          const std::string& strings) {
  std::string s(0x28, '\0');
  s[0] = 17;
  s[1] = 0x28;
  set(&s, 2, handle, 2);
  set(&s, 0x0C, 8192, 2);  // MiB installed
  s[0x10] = device_no;
  s[0x11] = bank_no;
  return s + strings + '\0';
}

class SmbiosTest : public ut::MemtestTest {
 protected:
  void SetUp() override {
    MemtestTest::SetUp();
    // 0-2 GiB on a DIMM with a bank, 4-8 GiB on one without.
    raw("20-0") = mapped(0x30, 0, 0x1FFFFF);
    raw("20-1") = mapped(0x31, 0x400000, 0x7FFFFF);
    raw("17-0") = memory_device(0x30, 2, 1, std::string("NODE 0\0DIMM_A1\0", 15));
    raw("17-1") = memory_device(0x31, 1, 0, std::string("DIMM_B1\0", 8));
  }
  static std::string& raw(const std::string& entry) {
    return ut::world().files[kDmi + entry + "/raw"];
  }
  std::string dimm_of(uint64_t phys) {
    char out[64];
    return smbios_dimm_of(phys, out, sizeof out) ? out : "(none)";
  }
};

TEST_F(SmbiosTest, RangeEndsWithItsLastKilobyte) {
  EXPECT_EQ(dimm_of(0x7FFFFFFF), "NODE 0 DIMM_A1");
  EXPECT_EQ(dimm_of(0x80000000), "(none)");
  EXPECT_EQ(dimm_of(0x100000000), "DIMM_B1");
}

TEST_F(SmbiosTest, ExtendedAddressesWithControlCharactersMasked) {
  raw("20-2") = mapped(0x32, 0xFFFFFFFF, 0xFFFFFFFF);
  set(&raw("20-2"), 0x13, 0x800000000, 8);
  set(&raw("20-2"), 0x1B, 0x87FFFFFFF, 8);
  raw("17-2") = memory_device(0x32, 1, 0, std::string("DIMM\tC1\0", 8));
  EXPECT_EQ(dimm_of(0x87FFFFFFF), "DIMM?C1");
  raw("20-2")[1] = 0x1F;  // too short for the extended addresses
  EXPECT_EQ(dimm_of(0x800000000), "(none)");
}

TEST_F(SmbiosTest, WithoutMappedRangesOnlyTheOneInstalledDeviceIsNamed) {
  ut::world().files.erase(std::string(kDmi) + "20-0/raw");
  ut::world().files.erase(std::string(kDmi) + "20-1/raw");
  EXPECT_EQ(dimm_of(0x1000), "(none)");  // two devices installed
  set(&raw("17-1"), 0x0C, 0, 2);         // an empty slot
  EXPECT_EQ(dimm_of(0x1000), "NODE 0 DIMM_A1");
}

TEST_F(SmbiosTest, NameIsCutToTheBuffer) {
  char out[16];
  std::memset(out, '#', sizeof out);
  ASSERT_TRUE(smbios_dimm_of(0x1000, out, 6));
  EXPECT_STREQ(out, "NODE ");
  EXPECT_EQ(out[6], '#');
}

}  // namespace
