// One JSON object per record and a final verdict object, one per line, for
// scripts (the Ansible playbook of contrib/ansible reads the verdict).
#include "view/view_json.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <string_view>
#include <vector>

#include "common/run_findings.h"
#include "common/transmit.h"
#include "view/view.h"

namespace {

using Json = nlohmann::ordered_json;

// Record texts are ASCII; a stray byte that is not UTF-8 is replaced rather
// than allowed to stop the output.
void emit(const Json& j, std::string* out) {
  *out += j.dump(-1, ' ', false, Json::error_handler_t::replace);
  *out += '\n';
}

// "" is null: a member the stream or the report does not give.
Json text_or_null(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

bool hex_digits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

// The five words behind the label "Exp.Address (+" ... ") " of a detail
// line; "" when the line has no such words.
std::vector<std::string> detail_words(std::string_view line) {
  std::vector<std::string> words;
  const size_t close = line.find(") ");
  if (close == std::string_view::npos) return words;
  for (size_t at = close + 2; at < line.size();) {
    const size_t end = std::min(line.find(' ', at), line.size());
    if (hex_digits(line.substr(at, end - at))) words.emplace_back(line.substr(at, end - at));
    at = end + 1;
  }
  if (words.size() != 5) words.clear();
  return words;
}

std::string unit_value(const std::vector<std::string>& w) {
  return w.size() == 5 && w[0].size() == 8 && w[1].size() == 8 ? "0x" + w[1] + w[0] : "";
}

std::string all_words(const std::vector<std::string>& w) {
  std::string out;
  for (const std::string& word : w) out += (out.empty() ? "" : " ") + word;
  return out;
}

// The ISO date behind label in a result text, "" when there is none.
std::string date_after(const std::string& text, const char* label) {
  const size_t at = text.find(label);
  return at == std::string::npos ? "" : iso_date(text.substr(at + std::strlen(label), 19));
}

Json failure_json(const std::string& kind, const std::string& algorithm, uint64_t ref_no,
                  const std::string& offset, const std::string& expected, const std::string& actual,
                  const std::string& physical_address, const std::string& dimm) {
  return {{"kind", kind},
          {"algorithm", text_or_null(algorithm)},
          {"ref_no", ref_no},
          {"offset", text_or_null(offset)},
          {"expected", text_or_null(expected)},
          {"actual", text_or_null(actual)},
          {"physical_address", text_or_null(physical_address)},
          {"dimm", text_or_null(dimm)}};
}

// The failing cell of the error list first, with the physical address and
// the DIMM of the report's cell of the same Ref No. and offset, then the
// report's other cells.
Json failures_json(const ViewState& v) {
  Json failures = Json::array();
  ListedFailure f;
  const bool listed = v.have_status && error_list_failure(v.status.text, &f);
  bool merged = false;
  if (listed)
    failures.push_back(
        failure_json("compare", f.algorithm, f.ref_no, f.offset, f.expected, f.actual, "", ""));
  for (const ReportCell& c : v.report.failing) {
    if (listed && !merged && c.kind == "compare" && c.ref_no == f.ref_no && c.offset == f.offset) {
      merged = true;
      failures[0]["physical_address"] = text_or_null(c.physical_address);
      failures[0]["dimm"] = text_or_null(c.dimm);
      continue;
    }
    failures.push_back(failure_json(c.kind, c.algorithm, c.ref_no, c.offset, c.expected, c.actual,
                                    c.physical_address, c.dimm));
  }
  return failures;
}

}  // namespace

bool error_list_failure(const std::string& text, ListedFailure* f) {
  *f = ListedFailure{};
  std::string_view rest = text;
  bool titled = false, bmove = false;
  std::vector<std::string> expected, actual;
  while (!rest.empty()) {
    const size_t nl = std::min(rest.find('\n'), rest.size());
    std::string_view line = rest.substr(0, nl);
    rest.remove_prefix(std::min(nl + 1, rest.size()));
    if (line.starts_with(" ERROR   : ") && line.find("Data Compare Error(Ref No. ") != line.npos) {
      titled = true;
      std::string_view ref = line.substr(line.find("(Ref No. ") + 9);
      ref = ref.substr(0, ref.find(')'));
      const bool hex = ref.starts_with("0x");
      if (hex) ref.remove_prefix(2);
      const bool number =
          hex ? hex_digits(ref) : !ref.empty() && ref.find_first_not_of("0123456789") == ref.npos;
      if (number && ref.size() <= 4) {
        f->ref_no = static_cast<uint32_t>(std::stoul(std::string(ref), nullptr, hex ? 16 : 10));
      }
      f->algorithm = algorithm_of_ref_no(f->ref_no);
      bmove = f->ref_no == 13;
    } else if (line.starts_with(" Exp.Address (+") || line.starts_with(" Exp. Buffer(")) {
      expected = detail_words(line);
    } else if (line.starts_with(" Act.Address (+") || line.starts_with(" Act. Buffer(")) {
      actual = detail_words(line);
      if (line.starts_with(" Act.Address (+")) {
        const std::string_view offset = line.substr(15, line.find(')') - 15);
        if (hex_digits(offset)) f->offset = "0x" + std::string(offset);
      }
    } else if (line.starts_with(" Error Logical Address Offset: +")) {
      const std::string_view offset = line.substr(32);
      if (hex_digits(offset)) f->offset = "0x" + std::string(offset);
    }
  }
  f->expected = bmove ? all_words(expected) : unit_value(expected);
  f->actual = bmove ? all_words(actual) : unit_value(actual);
  return titled;
}

std::string view_record_json(ViewState* v, const ProtocolRecord& r, std::string* out) {
  ++v->records;
  v->stream_end = r.offset + r.raw.size();
  Json j;
  j["offset"] = r.offset;
  Json fields = Json::object();
  std::string text = r.body.substr(0, r.body.size() - 1);
  ProgressFields p;
  StatusFields s;
  LogFields l;
  bool ok = true;
  switch (r.type) {
    case kRecLog:
      j["type"] = "log";
      ok = parse_log(r, &l);
      fields = {{"kind", l.kind},
                {"msgno", trimmed(l.msgno)},
                {"datetime", l.datetime},
                {"time", text_or_null(iso_date(l.datetime))}};
      text = l.text;
      break;
    case kRecStatus:
      j["type"] = "status";
      ok = parse_status(r, &s);
      fields = {{"status", s.status},
                {"flags", s.flags},
                {"value", s.value},
                {"result", status_name(s.status)}};
      // The dates of the result text, ISO 8601 with the zone.
      if (const std::string start = date_after(s.text, "Start:"); !start.empty())
        fields["start"] = start;
      for (const char* end : {"End  :", "Error:", "Abort:"}) {
        if (const std::string date = date_after(s.text, end); !date.empty()) fields["end"] = date;
      }
      text = s.text;
      v->have_status = ok;
      v->status = s;
      v->status_offset = r.offset;
      break;
    case kRecProgress:
      j["type"] = "progress";
      ok = parse_progress(r, &p);
      fields = {{"elapsed", p.elapsed},
                {"remaining", p.second},
                {"percent", p.percent},
                {"state", p.state}};
      text = p.text;
      v->elapsed = p.elapsed;
      break;
    case kRecVersion:
      j["type"] = "version";
      text = trimmed(text);
      v->have_version = true;
      break;
    case kRecProcess: {
      j["type"] = "process";
      uint32_t code = 0;
      ok = parse_process(r, &code);
      fields = {{"code", code}};
      text.clear();
      // Log rotation begins (1) and ends (2): most of a long run's records,
      // summed up in the verdict unless --all-records asks for each.
      if (ok && (code == 1 || code == 2) && !v->all_records) {
        if (v->rotations++ == 0) v->first_rotation = r.offset;
        v->last_rotation = r.offset;
        return "";
      }
      break;
    }
    default:
      j["type"] = "unknown";
      fields = {{"code", r.type}};
  }
  if (!ok) return "record body without the fields of its type at byte " + std::to_string(r.offset);
  j["module"] = trimmed(r.module);
  j["device"] = trimmed(r.device);
  j["fields"] = fields;
  j["text"] = text;
  emit(j, out);
  return "";
}

void view_verdict_json(const ViewState& v, const Verdict& verdict, std::string* out) {
  Json j;
  j["type"] = "verdict";
  j["result"] = verdict.result;
  j["passed"] = verdict.passed;
  j["exit_status"] = verdict.exit_status;
  if (v.have_status) j["status"] = v.status.status;
  if (verdict.memtest_exit >= 0) j["memtest_exit_status"] = verdict.memtest_exit;
  if (verdict.signal != 0) j["signal"] = verdict.signal;
  j["elapsed"] = v.elapsed;
  j["records"] = v.records;
  if (!verdict.error.empty()) j["error"] = verdict.error;
  if (v.report.present) {
    j["report_verdict"] = v.report.verdict;
    j["summary"] = v.report.summary;
  }
  if (Json failures = failures_json(v); !failures.empty()) j["failures"] = failures;
  if (v.rotations > 0) {
    j["log_rotations"] = {{"records", v.rotations},
                          {"first_offset", v.first_rotation},
                          {"last_offset", v.last_rotation}};
  }
  emit(j, out);
  // The report as memtest wrote it, already one line of JSON.
  if (v.report.present) *out += "{\"report\":" + v.report.json + "}\n";
}
