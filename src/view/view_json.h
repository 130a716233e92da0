// memtest-view for scripts: one JSON object per record and a final verdict
// object, one per line; after it {"report": ...} when a run report was read.
#pragma once

#include <string>

#include "common/record_reader.h"
#include "view/view.h"

// As view_record and the output of view_finish, as JSON.
std::string view_record_json(ViewState* v, const ProtocolRecord& r, std::string* out);
void view_verdict_json(const ViewState& v, const Verdict& verdict, std::string* out);
