// The EDAC counters read from a fake sysfs tree and compared between two
// readings; the soft-offline request and the corrupted-memory amount.
#include <unistd.h>

#include <cerrno>

#include "common/edac.h"
#include "common/page_offline.h"
#include "fixture.h"

namespace {

using ut::world;

const std::string kMc = "/sys/devices/system/edac/mc/";
const std::string kOffline = "/sys/devices/system/memory/soft_offline_page";

void put(const std::string& rel, const std::string& text) {
  world().files[kMc + rel] = text;
}

// A DIMM folder with its two counters and its label.
void put_dimm(const std::string& dir, int ce, int ue, const std::string& label) {
  put(dir + "/dimm_ce_count", std::to_string(ce) + "\n");
  put(dir + "/dimm_ue_count", std::to_string(ue) + "\n");
  put(dir + "/dimm_label", label + "\n");
}

// "mc0/dimm1 'label' 3/0" per counter, one a line.
std::string show(const EdacSnapshot& s) {
  std::string text = s.present ? "" : "absent\n";
  for (uint32_t i = 0; i < s.count; ++i) {
    const EdacCounter& c = s.counters[i];
    text += std::string(c.mc) + "/" + c.dimm + " '" + c.label + "' " + std::to_string(c.ce) + "/" +
            std::to_string(c.ue) + "\n";
  }
  return s.truncated ? text + "truncated\n" : text;
}

std::string read_tree() {
  EdacSnapshot s;
  edac_read(&s);
  return show(s);
}

// A snapshot of the counters given as {mc, dimm, label, ce, ue}.
EdacSnapshot snapshot(std::initializer_list<EdacCounter> counters) {
  EdacSnapshot s;
  s.present = true;
  for (const EdacCounter& c : counters) s.counters[s.count++] = c;
  return s;
}

// "mc0/dimm1 +3/+0" per counter that grew, one a line.
std::string growth(const EdacSnapshot& before, const EdacSnapshot& after, uint32_t max = 8) {
  EdacGrowth out[8];
  const uint32_t n = edac_growth(before, after, out, max);
  std::string text;
  for (uint32_t i = 0; i < n; ++i) {
    text += std::string(out[i].now.mc) + "/" + out[i].now.dimm + " +" +
            std::to_string(out[i].ce_delta) + "/+" + std::to_string(out[i].ue_delta) + "\n";
  }
  return text;
}

using EdacTest = ut::MemtestTest;

// A controller's totals first, its DIMM (or rank) folders after them; a count
// that cannot be read is 0 when the other one can, and a counter with neither
// is left out (mc1's totals).
TEST_F(EdacTest, ReadsControllersThenTheirDimmsInNumberOrder) {
  put("mc0/ce_count", "7\n");
  put("mc0/ue_count", "n/a\n");
  put_dimm("mc0/dimm10", 5, 1, "CPU0_DIMM_B2");
  put_dimm("mc0/dimm2", 2, 0, "CPU0_DIMM_A1");
  // Kernels that have DIMM folders keep the csrows too: not counted twice.
  put("mc0/csrow0/ch0_ce_count", "2\n");
  put_dimm("mc1/rank0", 0, 0, "");
  EXPECT_EQ(read_tree(),
            "mc0/ '' 7/0\n"
            "mc0/dimm2 'CPU0_DIMM_A1' 2/0\n"
            "mc0/dimm10 'CPU0_DIMM_B2' 5/1\n"
            "mc1/rank0 '' 0/0\n");
}

// Labels come from a csrow channel's own file here; as all labels they are
// made plain (what is not printable ASCII, quotes and backslashes: '?') and
// cut to their field.
TEST_F(EdacTest, CsrowChannelsWithoutDimmFoldersAndPlainLabels) {
  put("mc0/csrow0/ch0_ce_count", "2\n");
  put("mc0/csrow0/ch0_dimm_label", "A\x01\"B\\\tC\x7f\xc3\xa9Z\n");
  put("mc0/csrow1/ch1_ce_count", "1\n");
  put("mc0/csrow1/ch1_dimm_label", std::string(70, 'x'));
  const std::string cut(63, 'x');
  EXPECT_EQ(read_tree(), "mc0/csrow0/ch0 'A??B??C???Z' 2/0\nmc0/csrow1/ch1 '" + cut + "' 1/0\n");
}

TEST_F(EdacTest, MoreCountersThanFitKeepTheFirst) {
  put("mc0/ce_count", "0\n");
  for (int i = 0; i < 70; ++i) put_dimm("mc0/dimm" + std::to_string(i), i, 0, "");
  const std::string text = read_tree();
  EXPECT_TRUE(text.ends_with("\nmc0/dimm62 '' 62/0\ntruncated\n")) << text;
}

TEST_F(EdacTest, NoTreeLeavesAnEmptySnapshot) {
  EdacSnapshot s = snapshot({{"mc0", "dimm0", "", 1, 0}});
  edac_read(&s);
  EXPECT_EQ(show(s), "absent\n");
}

// DIMMs before totals; a counter new in the later reading grows from zero,
// and a DIMM is matched only within its own controller.
TEST_F(EdacTest, GrowthListsDimmsBeforeTotals) {
  const EdacSnapshot before = snapshot({{"mc0", "", "", 0, 0}, {"mc0", "dimm0", "", 5, 0}});
  const EdacSnapshot after =
      snapshot({{"mc0", "", "", 1, 0}, {"mc0", "dimm0", "", 5, 0}, {"mc1", "dimm0", "", 2, 0}});
  EXPECT_EQ(growth(before, after),
            "mc1/dimm0 +2/+0\n"
            "mc0/ +1/+0\n");
  EXPECT_EQ(growth(before, after, 1), "mc1/dimm0 +2/+0\n");
}

TEST_F(EdacTest, CounterThatWentDownDidNotGrow) {
  const EdacSnapshot before = snapshot({{"mc0", "dimm0", "", 5, 0}, {"mc0", "dimm1", "", 5, 0}});
  const EdacSnapshot after = snapshot({{"mc0", "dimm0", "", 2, 1}, {"mc0", "dimm1", "", 2, 0}});
  EXPECT_EQ(growth(before, after), "mc0/dimm0 +0/+1\n");
}

TEST_F(EdacTest, SoftOfflineWritesThePageAddress) {
  const uint64_t page_start = 0x123400000 + 5 * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  world().files[kOffline] = "";
  EXPECT_EQ(page_soft_offline(page_start + 0x11), 0);
  ASSERT_EQ(world().writes.size(), 1u);
  EXPECT_EQ(world().writes[0], std::make_pair(kOffline, ts::format("0x%llx\n", page_start)));
}

// The kernel's errno, at the open or at the write; a short write is EIO.
TEST_F(EdacTest, SoftOfflineRefused) {
  world().open_errors[kOffline] = EACCES;
  EXPECT_EQ(page_soft_offline(0x1000), EACCES);
  world().open_errors.clear();
  world().files[kOffline] = "";
  platform_.write_file = [](int, const void*, size_t) -> ssize_t { return errno = EBUSY, -1; };
  EXPECT_EQ(page_soft_offline(0x1000), EBUSY);
  platform_.write_file = [](int, const void*, size_t n) { return static_cast<ssize_t>(n - 1); };
  EXPECT_EQ(page_soft_offline(0x1000), EIO);
}

TEST_F(EdacTest, MeminfoHardwareCorrupted) {
  // Longer than one read, with a line too long for the reader's buffer.
  const std::string head = std::string(1100, 'x') + "\nAnonHugePages:         0 kB\n";
  world().files["/proc/meminfo"] = head;
  EXPECT_EQ(meminfo_hardware_corrupted_kib(), -1);
  world().files["/proc/meminfo"] = head + "HardwareCorrupted:    12 kB\n";
  EXPECT_EQ(meminfo_hardware_corrupted_kib(), 12);
}

}  // namespace
