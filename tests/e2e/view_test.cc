// memtest-view over damaged record streams (tests/e2e/view_streams.txt); its
// runs over the real memtest are rows of tests/e2e/cases.txt.
#include <gtest/gtest.h>

#include "run.h"

namespace {

TEST(View, DamagedStreams) {
  for (const ts::Row& row : ts::read_table("e2e/view_streams.txt", 3)) {
    SCOPED_TRACE(row.where);
    const std::string stream = ts::unescape(row[0]);
    // Fed whole or a byte at a time, the reader finds the same records and
    // the same fault.
    std::vector<ts::Record> whole;
    const std::string error = ts::parse_records(stream, &whole);
    RecordReader reader;
    ProtocolRecord rec;
    RecordResult result = kRecordNeedMore;
    size_t n = 0;
    for (const char& c : stream) {
      record_reader_feed(&reader, std::string_view(&c, 1));
      while ((result = record_reader_next(&reader, &rec)) == kRecordReady) {
        EXPECT_EQ(rec.raw, whole.at(n++).raw);
      }
    }
    if (result != kRecordBad) record_reader_finish(&reader);
    EXPECT_EQ(reader.error, error);
    EXPECT_EQ(n, whole.size());
    ts::TempDir dir;
    ts::write_file(dir.file("stream"), stream);
    e2e::Options opts;
    opts.program = "/bin/sh";
    const e2e::Result r = e2e::run(
        {"-c", e2e::shell_command("view") + " --plain <" + dir.file("stream") + " 2>&1"}, opts);
    EXPECT_EQ(r.out, ts::unescape(row[1]));
    EXPECT_EQ(std::to_string(r.exit_status), row[2]);
  }
}

}  // namespace
