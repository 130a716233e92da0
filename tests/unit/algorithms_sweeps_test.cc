// The five algorithms over a memory with faults: each run of
// tests/unit/data/algorithm_runs.txt a test of its own, shown as its outcome,
// records, traces, accesses and final layout against golden text.

#include <regex>

#include "algorithms/bmove_impl.h"
#include "algorithms/march_impl.h"
#include "algorithms/masest_impl.h"
#include "algorithms/moving_inversion_impl.h"
#include "algorithms/mscan_impl.h"
#include "fault_memory.h"
#include "fixture.h"

namespace {

using ts::format;
const std::vector<std::string> kAlgos = {"MSCAN", "MARCH", "MASEST", "BMOVE", "IMOVE"};

// Result, done counter and a compare error: Ref No., offsets, where the
// data is shown and its compared words.
template <class Mem>
std::string run(size_t algo, Mem& mem, void* buffer, uint64_t size, uint16_t kind, uint64_t done) {
  VykTp2MemStruct_t* ctl = &VykTp2MemStruct;
  ctl->algo_no = static_cast<uint16_t>(kAlgoMscan + algo);
  const uint32_t rc = algo == 0   ? mscan_body(mem, kind, buffer, size, ctl, &done)
                      : algo == 1 ? march_body(mem, kind, buffer, size, ctl, &done)
                      : algo == 2 ? masest_body(mem, kind, buffer, size, ctl, &done)
                      : algo == 3 ? bmove_body(mem, kind, buffer, size, ctl, 0, &done)
                                  : imove_body(mem, buffer, size, ctl, &done);
  const Error_Details_t& d = Error_Details;
  std::string out = format("rc %llu done 0x%llx", rc, done);
  if (d.error_class == kClassCompare) {
    out += format(" ref %llu offset_ref 0x%llx mismatch_offset 0x%llx", d.error_code, d.offset_ref,
                  d.mismatch_offset);
    for (const void* data : {d.expected_data, d.actual_data}) {
      out += format(data == d.expected_data ? " exp %llx" : " act %llx", uintptr_t(data));
      for (uint32_t i = 0; i < d.compare_length; i += 4) {
        out += format(" %08llx",
                      *reinterpret_cast<const uint32_t*>(static_cast<const char*>(data) + i));
      }
    }
  }
  return out + "\n";
}

// Addresses by name: offsets into the buffer, the report's data areas, the
// control block, BMOVE's failure record and its windows.
std::string symbolic(std::string text, const void* buffer, uint64_t size) {
  const auto num = [](const void* p) { return uint64_t{reinterpret_cast<uintptr_t>(p)}; };
  const std::pair<uint64_t, std::string> names[] = {{num(Error_Details.expected_data), "EXP"},
                                                    {num(Error_Details.actual_data), "ACT"},
                                                    {num(&VykTp2MemStruct), "CTL"},
                                                    {num(&bmove::g_failure), "FAILURE"},
                                                    {num(bmove::g_failure.expect), "EXP"},
                                                    {num(bmove::g_failure.result), "ACT"}};
  static const std::regex kHex("[0-9a-f]{5,16}");
  std::string out;
  for (std::smatch m; std::regex_search(text, m, kHex); text = m.suffix()) {
    const uint64_t v = std::stoull(m.str(), nullptr, 16), b = num(buffer);
    std::string name = m.str();
    for (const auto& [a, n] : names) name = a != 0 && (v == a || v == uint32_t(a)) ? n : name;
    // Traces print some addresses cut to 32 bits; only those fields may match
    // the buffer's low half, which can be small enough to look like data.
    const std::string before = m.prefix().str();
    const bool cut = before.ends_with("Address=0x") || before.ends_with("size=");
    for (uint64_t at : {b, uint64_t{uint32_t(b)}}) {
      if (buffer != nullptr && v >= at && v < at + size && (at == b || cut))
        name = format("BUF+%llx", v - at);
    }
    out += m.prefix().str() + name;
  }
  return out + text;
}

// Units that differ from the layout a complete run leaves: P, or the pairs.
std::string state_of(const ts::FaultMemory& mem, size_t algo, uint16_t kind, uint64_t size) {
  const auto* t = pattern_period_table(kind, algo == 2 ? PeriodForm::kPairs : PeriodForm::kPlain);
  std::vector<uint64_t> off;
  bool zero = true;
  for (uint64_t o = 0; o < size; o += 8) {
    if (mem.peek(o) != period_unit(t, o)) off.push_back(o);
    zero = zero && mem.peek(o) == 0;
  }
  if (zero || off.empty()) return zero ? "state zero\n" : algo == 2 ? "state pairs\n" : "state P\n";
  return format("state %llu units differ, 0x%llx to 0x%llx\n", off.size(), off.front(), off.back());
}

class AlgorithmRun : public ut::MemtestTest, public testing::WithParamInterface<ts::Block> {
 protected:
  std::string outcome(const ts::Block& b);
};

// What one run of the table gives: its outcome, records, traces, accesses.
std::string AlgorithmRun::outcome(const ts::Block& b) {
  auto num = [&](const char* key, const char* fallback = "0") {
    return std::stoull(b.get(key, fallback), nullptr, 0);
  };
  const size_t algo = std::ranges::find(kAlgos, b.get("algo")) - kAlgos.begin();
  const uint64_t size = num("size");
  const auto kind = static_cast<uint16_t>(num("kind", "46"));
  Ex_dwTestLevel = static_cast<uint32_t>(num("level", "1"));
  execute_waitsec_used = b.get("waitsec").empty() ? 0 : 1;
  execute_waitsec = static_cast<uint32_t>(num("waitsec"));
  Ex_Prev_MSec = ut::world().now_us / 1000;

  std::vector<ts::FaultSpec> faults;
  for (const std::string& f : b.all("fault")) faults.push_back(ts::parse_fault(f));
  ts::FaultMemory mem(std::max<uint64_t>(size, 64), faults);
  std::vector<std::string> log;
  mem.log = b.get("log").empty() ? nullptr : &log;
  const auto event = ts::split_words(b.get("event", "0 - 0"));  // "N cancel|clock MS|flip CELL"
  mem.event_at = std::stoull(event[0], nullptr, 0);
  mem.on_event = [&](ts::FaultMemory& m) {
    if (event[1] == "cancel") execute_cancel = 1;
    if (event[1] == "clock") ut::world().now_us += std::stoull(event[2]) * 1000;
    if (event[1] == "flip") m.flip(std::stoull(event[2], nullptr, 0));
  };
  void* buffer = mem.buffer();
  std::string text = run(algo, mem, buffer, size, kind, 0);
  if (algo < 3 && pattern_period_table(kind) && size % 8 == 0) {
    text += state_of(mem, algo, kind, size);
  }
  if (mem.event_at > 0 && mem.accesses >= mem.event_at) {
    text += format("accesses from the event on %llu\n", mem.accesses - mem.event_at);
  }
  if (ut::world().sleeps > 0) text += format("slept %llu\n", ut::world().sleeps);
  static const std::regex kShown(R"(^ (ERROR|ABORT) |,W\d{4},)");
  for (const ts::Record& r : records()) {
    std::istringstream lines(r.body);
    for (std::string line; std::getline(lines, line);) {
      if (std::regex_search(line, kShown)) text += "record " + line + "\n";
    }
  }
  std::istringstream trace(trace_log());  // its own lines; the lists have no stamp
  for (std::string line; std::getline(trace, line);) {
    line = line.size() > 32 && line[2] == '/' ? line.substr(26) : "";
    if (!line.empty()) text += "trace " + line + "\n";
  }
  // Accesses, a line from every write at offset 0; "log: all" or line numbers.
  std::vector<std::string> lines;
  for (const std::string& a : log) {
    if (lines.empty() || a.starts_with("W0=")) lines.emplace_back();
    lines.back() += " " + a;
  }
  const auto shown = ts::split_words(b.get("log"));
  for (size_t n = 0; n < lines.size(); ++n) {
    if (shown[0] == "all" || std::ranges::count(shown, std::to_string(n)) > 0) {
      text += "access " + std::to_string(n) + ":" + lines[n] + "\n";
    }
  }
  return symbolic(text, buffer, size);
}

TEST_P(AlgorithmRun, MatchesGolden) {
  EXPECT_TRUE(
      ts::matches_golden("algorithms/runs/" + ts::block_id(GetParam()), outcome(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(Table, AlgorithmRun,
                         testing::ValuesIn(ts::read_blocks("unit/data/algorithm_runs.txt")),
                         [](const auto& info) { return ts::block_id(info.param); });

}  // namespace
