// The message table loader over whole file contents, then every loaded entry
// issued with the arguments its calls pass: a text the loader keeps must
// format safely with them.
#include <unistd.h>

#include <cstring>

#include "common/msgtbl.h"
#include "fuzz_common.h"

namespace {

const std::string& table_dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/memtest_fuzz.XXXXXX";
    return std::string(mkdtemp(tmpl) != nullptr ? tmpl : "/tmp");
  }();
  return dir;
}

// One call per argument list that msg_signature knows.
void issue(const char* msgno) {
  const std::string_view args = msg_signature(msgno);
  const uint32_t f = kPfMsgNo | kPfLogRecord1;
  const void* p = &f;
  if (args == "")
    printfx(f, msgno);
  else if (args == "s")
    printfx(f, msgno, "memtest");
  else if (args == "ss")
    printfx(f, msgno, "_MSCAN", "Started");
  else if (args == "sspsu")
    printfx(f, msgno, "_T", "adr=", p, "size=0x", 0x200000u);
  else if (args == "uL")
    printfx(f, msgno, 0x1000u, 0x123456789ull);
  else if (args == "ssuus")
    printfx(f, msgno, "_T", "Size 0x", 1u, 2u, "or NULL");
  else if (args == "sluuuuu")
    printfx(f, msgno, "Exp(", 8ul, 1u, 2u, 3u, 4u, 5u);
  else if (args == "sl")
    printfx(f, msgno, "Offset: +", 8ul);
  else if (args == "sus")
    printfx(f, msgno, "Address=", 9u, "Not Retrieved");
  else
    std::abort();  // a new argument list: add its call here
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fz::quiet_start();
  const std::string path = table_dir() + "/onl_msge.txt";
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::snprintf(TEST_INF.data_path, sizeof TEST_INF.data_path, "%s", table_dir().c_str());
  if (get_msgtbl("onl_msge.txt") != 0) return 0;
  for (uint32_t i = 0; i < TEST_INF.msgtbl_count; ++i) issue(TEST_INF.msgtbl[i].msgno);
  eset_action(1, "Exx91", "MEM");
  eset_freemsg_printfx(1, 1, kPfMsgNo, "Exx58", "Logical Address=", 1u, "Not Retrieved");
  return 0;
}
