// memtest-view for scripts: one JSON object per record and a final verdict
// object, one per line; after it {"report": ...} when a run report was read.
#pragma once

#include <cstdint>
#include <string>

#include "common/record_reader.h"
#include "view/view.h"

// As view_record and the output of view_finish, as JSON.
std::string view_record_json(ViewState* v, const ProtocolRecord& r, std::string* out);
void view_verdict_json(const ViewState& v, const Verdict& verdict, std::string* out);

// The failing cell an error list of memtest's names (a data compare error):
// the algorithm (MSCAN, MARCH, MASEST, BMOVE, IMOVE; "" for an unknown Ref
// No.), the Ref No. (0 when the list shows "XX"), the offset in the test
// buffer ("0x1008") and the expected and actual data: the compared 8-byte
// unit as one number ("0x00000000ffffffff"), for BMOVE the five words of its
// windows as the list shows them.
struct ListedFailure {
  std::string algorithm;
  uint32_t ref_no = 0;
  std::string offset, expected, actual;
};
// False when text is no error list of a data compare error.
bool error_list_failure(const std::string& text, ListedFailure* f);
