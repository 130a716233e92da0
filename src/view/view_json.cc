// One JSON object per record and a final verdict object, one per line, for
// scripts (the Ansible playbook of contrib/ansible reads the verdict).
#include "view/view_json.h"

#include <nlohmann/json.hpp>

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

}  // namespace

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
      fields = {{"kind", l.kind}, {"msgno", trimmed(l.msgno)}, {"datetime", l.datetime}};
      text = l.text;
      break;
    case kRecStatus:
      j["type"] = "status";
      ok = parse_status(r, &s);
      fields = {{"status", s.status},
                {"flags", s.flags},
                {"value", s.value},
                {"result", status_name(s.status)}};
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
  emit(j, out);
  // The report as memtest wrote it, already one line of JSON.
  if (v.report.present) *out += "{\"report\":" + v.report.json + "}\n";
}
