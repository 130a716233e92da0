// Classification of every detected error into an error or abort list.
#include "algorithms/error_disp.h"

#include <algorithm>
#include <cstring>

#include "common/eset.h"
#include "common/logfile.h"
#include "common/result_list.h"
#include "common/test_inf.h"
#include "state/memstruct.h"

char err_msg[80];

namespace {

struct Title {
  uint32_t number;
  const char* text;
};

constexpr Title kParamTitles[] = {
    {17, "Starting Parameter Error(/SIZE Parameter #1)"},
    {18, "Starting Parameter Error(/SIZE Parameter #2)"},
    {19, "Starting Parameter Error(/SIZE Parameter #3)"},
    {20, "Starting Parameter Error(/SIZE Parameter #4)"},
    {21, "Starting Parameter Error(/SIZE Parameter #5)"},
    {22, "Starting Parameter Error(/USE Parameter #1)"},
    {23, "Starting Parameter Error(/USE Parameter #2)"},
    {24, "Starting Parameter Error(/RUNTIME Parameter #1)"},
    {25, "Starting Parameter Error(/TP Parameter #1)"},
    {26, "Starting Parameter Error(/TP Parameter #2)"},
    {27, "Starting Parameter Error(/DATA Parameter #1)"},
    {28, "Starting Parameter Error(/DATA Parameter #2)"},
    {29, "Starting Parameter Error(/SA Parameter #1)"},
    {30, "Starting Parameter Error(/SA Parameter #2)"},
    {31, "Starting Parameter Error(/SA Parameter #3)"},
    {32, "Starting Parameter Error(There's no PSE36.)"},
    {51, "Getting Address is not appropriate(Bad Address Boundary)"},
};

constexpr Title kCompareTitles[] = {
    {1, "MSCAN Data Compare Error(Ref No. 1)"},
    {2, "MARCH Data Compare Error(Ref No. 2)"},
    {3, "MARCH Data Compare Error(Ref No. 3)"},
    {4, "MASEST Data Compare Error(Ref No. 4)"},
    {5, "MASEST Data Compare Error(Ref No. 5)"},
    {6, "MASEST Data Compare Error(Ref No. 6)"},
    {7, "MASEST Data Compare Error(Ref No. 7)"},
    {8, "MASEST Data Compare Error(Ref No. 8)"},
    {9, "MASEST Data Compare Error(Ref No. 9)"},
    {10, "MASEST Data Compare Error(Ref No. 0xA)"},
    {11, "MASEST Data Compare Error(Ref No. 0xB)"},
    {13, "BMOVE Data Compare Error(Ref No. 0xD)"},
    {14, "Moving Inversion Data Compare Error(Ref No. 0xE)"},
    {15, "Moving Inversion Data Compare Error(Ref No. 0xF)"},
    {16, "Moving Inversion Data Compare Error(Ref No. 0x10)"},
};

template <size_t N>
constexpr const char* find_title(const Title (&table)[N], uint32_t number, const char* other) {
  for (const Title& t : table) {
    if (t.number == number) return t.text;
  }
  return other;
}

constexpr uint32_t kRefBmove = 13;
constexpr int kSecondList = 1;

// Library setters format these with %s; an absent text is shown empty.
const char* text_or_empty(const char* text) {
  return text != nullptr ? text : "";
}

unsigned long address_value(const void* p) {
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p));
}

// The five words shown in a detail line. Only the compared bytes are read
// (8 for the unit algorithms, 40 for BMOVE's windows); words beyond them are
// shown as 0.
struct Words {
  unsigned w[5] = {0, 0, 0, 0, 0};
};

Words data_words(const void* data, uint32_t length) {
  Words out;
  if (data == nullptr) return out;
  uint32_t n = std::min<uint32_t>(5, length / 4);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t v;
    std::memcpy(&v, static_cast<const unsigned char*>(data) + 4 * i, 4);
    out.w[i] = v;
  }
  return out;
}

void detail_words_line(int line, const char* label, unsigned long value, const Words& d) {
  eset_freemsg_printfx(kSecondList, line, kPfTraceMsg | kPfLogRecord1, "Exx56", label, value,
                       d.w[0], d.w[1], d.w[2], d.w[3], d.w[4]);
}

void report_parameter(const Error_Details_t* d) {
  eset_test_infomation(text_or_empty(d->name_text), text_or_empty(d->device_text));
  eset_etitle(param_error_title(d->error_code));
  eset_date();
  snprintfx(err_msg, sizeof err_msg, "%s", "The Error Classification was Enything Else.");
  eset_action(1, "Exx99", err_msg);
  eset_action(2, "Exx91", text_or_empty(d->device_text));
  Ex_error_list_level = kAbortListKind;
  put_skip_abort_list(kAbortListKind);
}

void report_system_call(const Error_Details_t* d) {
  eset_test_infomation(text_or_empty(d->name_text), text_or_empty(d->device_text));
  eset_etitle("System Call Error");
  eset_date();
  char name[sizeof d->function_name + 1];
  std::memcpy(name, d->function_name, sizeof d->function_name);
  name[sizeof d->function_name] = '\0';  // the field may be full
  eset_system_call(name, -1);
  eset_action(1, "Exx91", text_or_empty(d->device_text));
  Ex_error_list_level = kAbortListKind;
  put_skip_abort_list(kAbortListKind);
}

void report_compare(const Error_Details_t* d) {
  eset_test_infomation(text_or_empty(d->name_text), text_or_empty(d->device_text));
  eset_etitle(compare_error_title(d->error_code));
  eset_date();
  eset_freemsg_printfx(kSecondList, 1, kPfTraceMsg | kPfLogRecord1, "Exx58",
                       "Logical Address=", static_cast<unsigned>(d->logical_address),
                       "Physical Address=Not Retrieved");
  Words expected = data_words(d->expected_data, d->compare_length);
  Words actual = data_words(d->actual_data, d->compare_length);
  if (d->error_code == kRefBmove) {
    detail_words_line(2, "Exp. Buffer(", address_value(d->expected_data), expected);
    detail_words_line(3, "Act. Buffer(", address_value(d->actual_data), actual);
    eset_freemsg_printfx(kSecondList, 4, kPfTraceMsg | kPfLogRecord1, "Exx57",
                         "Error Logical Address Offset: +",
                         static_cast<unsigned long>(d->offset_ref));
  } else {
    detail_words_line(2, "Exp.Address (+", address_value(d->expected_data), expected);
    detail_words_line(3, "Act.Address (+", static_cast<unsigned long>(d->offset_ref), actual);
    eset_freemsg_printfx(kSecondList, 4, kPfTraceMsg | kPfLogRecord1, "Exx57",
                         "Local Read Buffer:+", address_value(d->actual_data));
  }
  eset_action(1, "Exx90", TEST_INF.device_name);
  put_error_list(1);
}

}  // namespace

const char* param_error_title(uint32_t number) {
  return find_title(kParamTitles, number, "Parameter Error");
}

const char* compare_error_title(uint32_t ref_no) {
  return find_title(kCompareTitles, ref_no, "Data Compare Error(Ref No. XX)");
}

uint32_t VykTp2MemErrorDisp(Error_Details_t* details) {
  // No record, no report.
  if (details == nullptr) return 0;
  eset_init();
  switch (details->error_class) {
    case kClassParam:
      report_parameter(details);
      break;
    case kClassSyscall:
      report_system_call(details);
      break;
    case kClassCompare:
      report_compare(details);
      break;
    default:
      break;
  }
  return details->error_class;
}
