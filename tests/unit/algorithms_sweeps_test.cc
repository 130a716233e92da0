// The five algorithms over the faulty memory and over the shipped memory, and
// the sweep plans of a pattern pass that call them: each run of
// tests/unit/data/algorithm_runs.txt a test of its own, shown as its outcome, records, traces,
// accesses and final layout against golden text.

#include <regex>

#include "algorithms/bmove_impl.h"
#include "algorithms/march_impl.h"
#include "algorithms/masest_impl.h"
#include "algorithms/moving_inversion_impl.h"
#include "algorithms/mscan_impl.h"
#include "driver/main_seq.h"
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

// The shipped memory with stuck bits, forced again after every operation that
// writes; that equals stuck cells, as the only operation that reads a unit it
// wrote (the pair fill) writes it back inverted, and the bit is forced again.
class StuckDirect : public DirectMemory {
 public:
  StuckDirect(void* buffer, std::vector<ts::FaultSpec> stuck)
      : DirectMemory(buffer), bytes_(static_cast<uint8_t*>(buffer)), stuck_(std::move(stuck)) {
    force();
  }
  bool verify(const Verify& v, uint64_t from, uint64_t to, Miss* miss) {
    const bool ok = DirectMemory::verify(v, from, to, miss);
    return force(), ok;
  }
  // A wrapper per operation that writes; each use ends in a declaration.
#define FORCED(op)                   \
  template <class... A>              \
  void op(A... a) {                  \
    DirectMemory::op(a...), force(); \
  }                                  \
  static_assert(true)
  FORCED(fill);
  FORCED(fill_pairs);
  FORCED(fill_bytes);
  FORCED(fill_noise);
  FORCED(copy);
  FORCED(store32);
  FORCED(write);
#undef FORCED

 private:
  void force() {
    for (const ts::FaultSpec& f : stuck_) {
      uint8_t& byte = bytes_[f.victim / 8];
      byte = static_cast<uint8_t>((byte & ~(1u << (f.victim % 8))) | (f.value << (f.victim % 8)));
    }
  }
  uint8_t* bytes_;
  std::vector<ts::FaultSpec> stuck_;
};

// Addresses by name: offsets into the buffer, the report's data areas, the
// control block, BMOVE's failure record.
std::string symbolic(std::string text, const void* buffer, uint64_t size) {
  const auto num = [](const void* p) { return uint64_t{reinterpret_cast<uintptr_t>(p)}; };
  const std::pair<uint64_t, std::string> names[] = {{num(Error_Details.expected_data), "EXP"},
                                                    {num(Error_Details.actual_data), "ACT"},
                                                    {num(&VykTp2MemStruct), "CTL"},
                                                    {num(&bmove::g_failure), "FAILURE"}};
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
  const uint64_t size = num("size"), done = num("done");
  const auto kind = static_cast<uint16_t>(num("kind", "46"));
  Ex_dwTestLevel = static_cast<uint32_t>(num("level", "1"));
  execute_time_used = b.get("time").empty() ? 0 : 1;
  execute_time = num("time", "30000");
  execute_waitsec_used = b.get("waitsec").empty() ? 0 : 1;
  execute_waitsec = static_cast<uint32_t>(num("waitsec"));
  Ex_Prev_MSec = ut::world().now_us / 1000 - num("run_ms");
  ut::world().step_us = num("step_ms") * 1000;
  VykTp2MemStruct.single_run = static_cast<uint32_t>(num("single_run"));
  Fake_Err[algo] = static_cast<uint8_t>(num("fake"));
  execute_cancel = static_cast<uint32_t>(num("cancel"));

  // "random: KIND N": N faults at random cells; stuck faults also over the
  // shipped memory, whose fast paths must report exactly what the unit order
  // reports. "finds: all" or "finds: where P differs" (from the stuck value)
  // says which the algorithm must find; without it, some but not all.
  if (const auto random = ts::split_words(b.get("random")); !random.empty()) {
    std::mt19937_64 rng(algo * 1000 + std::stoul(random[1]));
    const int faults = std::stoi(random[1]);
    const std::string finds = b.get("finds");
    int found = 0;
    int must = 0;
    for (int i = 0; i < faults; ++i) {
      const ts::FaultSpec f = ts::random_fault(ts::parse_fault(random[0]).kind, size, rng, i % 2);
      const uint64_t p = period_unit(pattern_period_table(kind), f.victim / 64 * 8);
      must += finds == "all" || ((p >> (f.victim % 64)) & 1) != f.value;
      ts::FaultMemory mem(size, {f});
      const std::string unit_order =
          symbolic(run(algo, mem, mem.buffer(), size, kind, done), mem.buffer(), size);
      found += unit_order.starts_with("rc 1024");
      if (f.kind != ts::Fault::kStuck) continue;
      std::vector<uint8_t> plain(size);
      StuckDirect direct(plain.data(), {f});
      EXPECT_EQ(unit_order,
                symbolic(run(algo, direct, plain.data(), size, kind, done), plain.data(), size))
          << b.name << ": cell " << f.victim;
    }
    if (finds.empty()) return found > 0 && found < faults ? "found some\n" : "found all or none\n";
    return found == must ? "finds " + finds + "\n" : format("found %llu, not %llu\n", found, must);
  }

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
  std::vector<uint8_t> plain(b.get("memory") == "plain" ? size : 0);
  void* buffer = b.get("null") == "1" ? nullptr : plain.empty() ? mem.buffer() : plain.data();
  StuckDirect direct(plain.data(), plain.empty() ? std::vector<ts::FaultSpec>{} : faults);
  std::string text, sel;
  std::istringstream plan(b.get("plan"));  // "MODE SELECTION PATTERN_PASS": two chunks of `size`
  if (uint32_t pass = 0; plan >> ParamStruct.wTestMode >> sel >> pass) {
    Commit_Size = size;
    ParamStruct.dwSize = 2 * size;
    VykTp2MemStruct.data_kind = kind;
    uint64_t counters = 0, done_by_algo[5] = {};
    uint8_t chosen[5];
    for (int i = 0; i < 5; ++i) chosen[i] = sel[i] == 'w' ? kAlgoSelected : 0;
    const uint32_t rc =
        VykTp2NonPSE36MemoryTest(&VykTp2MemStruct, &counters, done_by_algo, chosen, pass);
    text = format("rc %llu chunks %llu passes %llu calls 0x%llx\n", rc,
                  ut::world().chunk_sizes.size(), Ex_pass_cnt.load(), counters);
  } else {
    text = plain.empty() ? run(algo, mem, buffer, size, kind, done)
                         : run(algo, direct, buffer, size, kind, done);
  }
  if (plain.empty() && algo < 3 && buffer && pattern_period_table(kind) && size % 8 == 0) {
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
  const std::regex shown_trace(b.get("trace", ""));
  for (std::string line; std::getline(trace, line);) {
    line = line.size() > 32 && line[2] == '/' ? line.substr(26) : "";
    if (!line.empty() && std::regex_search(line, shown_trace)) text += "trace " + line + "\n";
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
