// Record splitting for readers of the stream. Every field of the prefix and
// the header is checked at its fixed position, so a damaged stream is named
// at the first byte that is wrong instead of being misread further on.
#include "common/record_reader.h"

#include <algorithm>

#include "common/transmit.h"

namespace {

constexpr std::string_view kStart = "ONLPTL,0x";
constexpr size_t kPrefixLen = 18;  // "ONLPTL,0x%08x,"
constexpr size_t kHeaderLen = 45;  // "0x%02x,0x%02x,%-16s,%-16s,\n"

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads "0x", min..max hex digits and the separator sep from the front of *s.
bool take_hex(std::string_view* s, size_t min, size_t max, char sep, uint32_t* v) {
  if (s->substr(0, 2) != "0x") return false;
  size_t n = 2;
  uint32_t value = 0;
  while (n < s->size() && n - 2 < max && hex_value((*s)[n]) >= 0) {
    value = value * 16 + static_cast<uint32_t>(hex_value((*s)[n++]));
  }
  if (n - 2 < min || n >= s->size() || (*s)[n] != sep) return false;
  *v = value;
  s->remove_prefix(n + 1);
  return true;
}

// A short, printable excerpt of the bytes at the front of s.
std::string excerpt(std::string_view s) {
  std::string out = "\"";
  for (char c : s.substr(0, 24)) {
    if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
      out += '?';
    } else {
      out += c;
    }
  }
  return out + (s.size() > 24 ? "...\"" : "\"");
}

RecordResult fail(RecordReader* rd, const std::string& what, size_t at) {
  rd->error = what + " at byte " + std::to_string(rd->offset + at);
  return kRecordBad;
}

}  // namespace

void record_reader_feed(RecordReader* reader, std::string_view bytes) {
  if (reader->error.empty()) reader->pending.append(bytes);
}

RecordResult record_reader_next(RecordReader* rd, ProtocolRecord* record) {
  if (!rd->error.empty()) return kRecordBad;
  const std::string_view in = rd->pending;
  if (in.empty()) return kRecordNeedMore;
  // What has arrived of the record start is compared at once, so garbage is
  // named at its first byte however the stream was cut into pieces.
  const size_t have = std::min(in.size(), kStart.size());
  const size_t wrong =
      std::mismatch(kStart.begin(), kStart.begin() + have, in.begin()).first - kStart.begin();
  if (wrong < have) {
    return fail(rd, "no record start (\"ONLPTL,0x\"): " + excerpt(in.substr(wrong, 1)), wrong);
  }
  if (in.size() < kPrefixLen) return kRecordNeedMore;
  uint32_t len = 0;
  std::string_view field = in.substr(7, kPrefixLen - 7);
  const bool lower =
      std::none_of(field.begin(), field.end(), [](char c) { return c >= 'A' && c <= 'F'; });
  if (!lower || !take_hex(&field, 8, 8, ',', &len)) {
    return fail(rd, "bad length field " + excerpt(in.substr(7, kPrefixLen - 7)), 7);
  }
  if (len <= kHeaderLen || len > kMaxRecordLength) {
    return fail(rd, "length field 0x" + std::string(in.substr(9, 8)) + " out of range", 7);
  }
  if (in.size() < kPrefixLen + len) return kRecordNeedMore;

  std::string_view rest = in.substr(kPrefixLen, len);
  ProtocolRecord r;
  std::string_view header = rest.substr(0, kHeaderLen);
  if (!take_hex(&header, 2, 2, ',', &r.type) || !take_hex(&header, 2, 2, ',', &r.lines) ||
      header[16] != ',' || header[33] != ',' || header[34] != '\n') {
    return fail(rd, "bad record header " + excerpt(rest), kPrefixLen);
  }
  if (rest.back() != '\n') {
    return fail(
        rd, "record of length 0x" + std::string(in.substr(9, 8)) + " does not end with a newline",
        kPrefixLen + len - 1);
  }
  r.module = rest.substr(10, 16);
  r.device = rest.substr(27, 16);
  r.body = rest.substr(kHeaderLen);
  const auto newlines = static_cast<uint32_t>(std::count(r.body.begin(), r.body.end(), '\n'));
  if (r.lines != newlines) {
    return fail(rd,
                "line count " + std::to_string(r.lines) + " differs from the " +
                    std::to_string(newlines) + " lines of the body",
                kPrefixLen);
  }
  r.raw = in.substr(0, kPrefixLen + len);
  r.offset = rd->offset;
  *record = std::move(r);
  rd->pending.erase(0, kPrefixLen + len);
  rd->offset += kPrefixLen + len;
  return kRecordReady;
}

RecordResult record_reader_finish(RecordReader* rd) {
  if (!rd->error.empty()) return kRecordBad;
  if (rd->pending.empty()) return kRecordNeedMore;
  return fail(
      rd,
      "stream cut inside a record (" + std::to_string(rd->pending.size()) + " bytes of it arrived)",
      0);
}

std::string read_all_records(std::string_view out, std::vector<ProtocolRecord>* records) {
  RecordReader reader;
  record_reader_feed(&reader, out);
  ProtocolRecord r;
  RecordResult result;
  while ((result = record_reader_next(&reader, &r)) == kRecordReady) records->push_back(r);
  if (result == kRecordNeedMore) record_reader_finish(&reader);
  return reader.error;
}

bool parse_progress(const ProtocolRecord& r, ProgressFields* p) {
  std::string_view s = r.body;
  if (r.type != kRecProgress || !take_hex(&s, 8, 8, ',', &p->elapsed) ||
      !take_hex(&s, 8, 8, ',', &p->second) || !take_hex(&s, 2, 8, ',', &p->percent) ||
      !take_hex(&s, 2, 2, ',', &p->state) || s.empty()) {
    return false;
  }
  p->text = s.substr(0, s.size() - 1);
  return true;
}

bool parse_status(const ProtocolRecord& r, StatusFields* st) {
  std::string_view s = r.body;
  if (r.type != kRecStatus || !take_hex(&s, 2, 2, ',', &st->status) ||
      !take_hex(&s, 2, 2, ',', &st->flags) || !take_hex(&s, 8, 8, ',', &st->value) || s.empty()) {
    return false;
  }
  st->text = s.substr(0, s.size() - 1);
  return true;
}

bool parse_log(const ProtocolRecord& r, LogFields* l) {
  std::string_view s = r.body;
  if (r.type != kRecLog || !take_hex(&s, 2, 2, ',', &l->kind)) return false;
  const size_t msg_end = s.find(',');
  const size_t date_end = msg_end == std::string_view::npos ? msg_end : s.find(',', msg_end + 1);
  if (date_end == std::string_view::npos) return false;
  l->msgno = s.substr(0, msg_end);
  l->datetime = s.substr(msg_end + 1, date_end - msg_end - 1);
  l->text = s.substr(date_end + 1, s.size() - date_end - 2);
  return true;
}

bool parse_process(const ProtocolRecord& r, uint32_t* code) {
  std::string_view s = r.body;
  return r.type == kRecProcess && take_hex(&s, 8, 8, '\n', code) && s.empty();
}
