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

std::string extended(uint16_t device, uint64_t first, uint64_t last) {
  std::string s = mapped(device, 0xFFFFFFFF, 0xFFFFFFFF);
  set(&s, 0x13, first, 8);
  set(&s, 0x1B, last, 8);
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

class LocateTest : public ut::MemtestTest {
 protected:
  const uint64_t page_ = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const void* at(uint64_t page_no, uint64_t offset) const {
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(page_no * page_ + offset));
  }
};

TEST_F(LocateTest, PresentPageGivesItsFrameAndTheByteWithinIt) {
  put_entry(kPagemap, 6, kPresent | 0x600);
  put_entry(kPagemap, 7, kPresent | kSoftDirty | 0x1234);
  put_entry(kPagemap, 8, kPresent | 0x800);
  put_entry(kPageFlags, 0x1234, uint64_t{1} << 20 | uint64_t{1} << 5);
  const PhysLocation loc = phys_locate(at(7, 0x123));
  EXPECT_EQ(loc.status, PhysStatus::kLocated);
  EXPECT_EQ(loc.pfn, 0x1234u);
  EXPECT_EQ(loc.phys, 0x1234 * page_ + 0x123);
  EXPECT_FALSE(loc.poisoned);
  put_entry(kPageFlags, 0x1234, kHwPoison);
  EXPECT_TRUE(phys_locate(at(7, 0)).poisoned);
}

TEST_F(LocateTest, FrameZeroOfAPresentPageIsHidden) {
  put_entry(kPagemap, 3, kPresent);
  EXPECT_EQ(phys_locate(at(3, 8)).status, PhysStatus::kHidden);
}

TEST_F(LocateTest, PageNotInMemory) {
  put_entry(kPagemap, 3, 0);
  EXPECT_EQ(phys_locate(at(3, 0)).status, PhysStatus::kNotPresent);
  // Frame bits without the swap bit are no poisoned page, whatever the flags say.
  put_entry(kPagemap, 3, 0x2345 << 5);
  put_entry(kPageFlags, 0x2345, kHwPoison);
  EXPECT_EQ(phys_locate(at(3, 0)).status, PhysStatus::kNotPresent);
}

TEST_F(LocateTest, PoisonedPageShowsAsSwapEntryConfirmedByPageFlags) {
  const uint64_t pfn = 0x2345;
  put_entry(kPagemap, 4, kSwapped | pfn << 5 | 0x1D);
  put_entry(kPageFlags, pfn, kHwPoison);
  const PhysLocation loc = phys_locate(at(4, 0x10));
  EXPECT_EQ(loc.status, PhysStatus::kLocated);
  EXPECT_EQ(loc.pfn, pfn);
  EXPECT_EQ(loc.phys, pfn * page_ + 0x10);
  EXPECT_TRUE(loc.poisoned);
  // The same entry for a frame that is not poisoned: a swap offset.
  put_entry(kPageFlags, pfn, uint64_t{1} << 18);
  EXPECT_EQ(phys_locate(at(4, 0)).status, PhysStatus::kNotPresent);
}

TEST_F(LocateTest, MissingOrShortPagemapIsUnreadable) {
  EXPECT_EQ(phys_locate(at(1, 0)).status, PhysStatus::kUnreadable);
  put_entry(kPagemap, 1, kPresent | 0x99);
  ut::world().files[kPagemap].pop_back();
  EXPECT_EQ(phys_locate(at(1, 0)).status, PhysStatus::kUnreadable);
}

TEST_F(LocateTest, StatusTexts) {
  EXPECT_STREQ(phys_status_text(PhysStatus::kLocated), "located");
  EXPECT_STREQ(phys_status_text(PhysStatus::kHidden),
               "hidden (the kernel shows page frames only to CAP_SYS_ADMIN)");
  EXPECT_STREQ(phys_status_text(PhysStatus::kNotPresent), "not present");
  EXPECT_STREQ(phys_status_text(PhysStatus::kUnreadable), "unreadable (no /proc/self/pagemap)");
}

TEST_F(LocateTest, PfnSetCountsDistinctFramesAcrossLeaves) {
  PfnSet set;
  for (uint64_t pfn : {(uint64_t{1} << 40) - 1, uint64_t{5}, uint64_t{32768}, uint64_t{32767},
                       uint64_t{5}, uint64_t{32768}}) {
    pfn_set_add(&set, pfn);
  }
  EXPECT_EQ(pfn_set_count(set), 4u);
  EXPECT_TRUE(pfn_set_contains(set, 32767));
  EXPECT_TRUE(pfn_set_contains(set, (uint64_t{1} << 40) - 1));
  EXPECT_FALSE(pfn_set_contains(set, 6));
  EXPECT_FALSE(pfn_set_contains(set, 32769));
  EXPECT_EQ(set.leaves.size(), 3u);
  pfn_set_clear(&set);
  EXPECT_EQ(pfn_set_count(set), 0u);
  EXPECT_FALSE(pfn_set_contains(set, 5));
}

TEST_F(LocateTest, CollectReadsEveryPageTheRangeTouches) {
  PfnSet set;
  EXPECT_EQ(pagemap_collect(at(3, 0), page_, &set), 0u);  // no pagemap
  put_entry(kPagemap, 2, kPresent | 0x200);
  put_entry(kPagemap, 3, kPresent | 0x300);
  put_entry(kPagemap, 4, kPresent);  // hidden frame
  put_entry(kPagemap, 5, kPresent | kSoftDirty | 0x500);
  put_entry(kPagemap, 6, kPresent | 0x600);
  EXPECT_EQ(pagemap_collect(at(3, 100), 2 * page_, &set), 2u);
  EXPECT_EQ(pfn_set_count(set), 2u);
  EXPECT_TRUE(pfn_set_contains(set, 0x300));
  EXPECT_TRUE(pfn_set_contains(set, 0x500));
  pfn_set_clear(&set);
  EXPECT_EQ(pagemap_collect(at(5, 0), page_, &set), 1u);
  EXPECT_FALSE(pfn_set_contains(set, 0x600));
}

TEST_F(LocateTest, CollectReadsPastOneBatch) {
  for (uint64_t p = 1; p <= 1100; ++p) put_entry(kPagemap, p, kPresent | (0x10000 + p));
  PfnSet set;
  EXPECT_EQ(pagemap_collect(at(1, 0), 1100 * page_, &set), 1100u);
  EXPECT_EQ(pfn_set_count(set), 1100u);
  EXPECT_TRUE(pfn_set_contains(set, 0x10000 + 1100));
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

TEST_F(SmbiosTest, AddressInARangeNamesBankAndDevice) {
  EXPECT_EQ(dimm_of(0x12345678), "NODE 0 DIMM_A1");
}

TEST_F(SmbiosTest, RangeEndsWithItsLastKilobyte) {
  EXPECT_EQ(dimm_of(0x7FFFFFFF), "NODE 0 DIMM_A1");
  EXPECT_EQ(dimm_of(0x80000000), "(none)");
  EXPECT_EQ(dimm_of(0x100000000), "DIMM_B1");
}

TEST_F(SmbiosTest, AddressOutsideAllRanges) {
  EXPECT_EQ(dimm_of(0xC0000000), "(none)");
  EXPECT_EQ(dimm_of(0x200000000), "(none)");
  ut::world().files.clear();
  EXPECT_EQ(dimm_of(0x1000), "(none)");
}

TEST_F(SmbiosTest, ExtendedAddressesWithControlCharactersMasked) {
  raw("20-2") = extended(0x32, 0x800000000, 0x87FFFFFFF);
  raw("17-2") = memory_device(0x32, 1, 0, std::string("DIMM\tC1\0", 8));
  EXPECT_EQ(dimm_of(0x87FFFFFFF), "DIMM?C1");
  EXPECT_EQ(dimm_of(0x880000000), "(none)");
  raw("20-2")[1] = 0x1F;  // too short for the extended addresses
  EXPECT_EQ(dimm_of(0x800000000), "(none)");
}

TEST_F(SmbiosTest, TruncatedStructures) {
  raw("20-1").resize(0x0C);  // cut before the device handle
  EXPECT_EQ(dimm_of(0x100000000), "(none)");
  raw("17-0").resize(0x28 + 4);  // cut inside the strings
  EXPECT_EQ(dimm_of(0x1000), "(none)");
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
