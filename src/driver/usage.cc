// The usage text and the version line for a person at a terminal.
#include "driver/usage.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/platform.h"
#include "common/test_inf.h"

const char kUsageText[] =
    "usage: memtest -dev NAME -lv LEVEL [-path DIR] [-trc DIR] [-runtime SECONDS]\n"
    "               [-log KIB] [-gen N] [-debug] [KEYWORDS...]\n"
    "       memtest -vl | --version | --help\n"
    "Tests heap memory, or reads physical memory, and reports to a controlling\n"
    "process through ONLPTL records on standard output. To watch a run, pipe it\n"
    "into memtest-view or let memtest-view start it.\n"
    "\n"
    "Options (names without regard to case):\n"
    "  -dev NAME         the device to test (required)\n"
    "  -lv LEVEL         0 patrol mode (one short run), 1 to 3 online mode (required)\n"
    "  -path DIR         the message tables (else $VYK_data); installed in\n"
    "                    /usr/share/memtest\n"
    "  -trc DIR          the log directory (else $VYK_log, else the -path directory)\n"
    "  -runtime SECONDS  repeat the test this long (0: until cancelled); Completed\n"
    "  -log KIB          rotate a log at this size (1 to 8192; 128)\n"
    "  -gen N            keep N files of each log (1 to 9; 4)\n"
    "  -debug            write the debug log too\n"
    "  -vl               send the version record and end with 0\n"
    "\n"
    "Keywords:\n"
    "  -tp ALGO          MSCAN, MARCH, MASEST, BMOVE or IMOVE, or several of them\n"
    "                    (-tp MSCAN,IMOVE); with X after the name (MSCANX) an\n"
    "                    injected compare error; WHOLE: all but MARCH; PMEM: read\n"
    "                    /dev/mem (root); ABORT: PMEM with a failed open\n"
    "  -size N[GB]       the size in MiB, or GiB with GB (2); only three digits are\n"
    "                    read: write -size 1GB, not -size 1024\n"
    "  -data CROSSTALK|REPEAT|ALL   the data patterns (CROSSTALK)\n"
    "  -use USER|AWE     the kind of memory use (USER)\n"
    "  -waitsec N        pause N seconds between test steps\n"
    "  -sa NMB|NGB|0     checked, without effect\n"
    "  -pa N             start the physical read at N times 64 MiB (hexadecimal)\n"
    "  -cover            hold and test all the memory of the size in every pass\n"
    "  -threads N        cover mode's test threads (1; 0: one per CPU; at most 64)\n"
    "  -offline          soft-offline the failing pages the run located (root)\n"
    "\n"
    "Exit status (the final status record tells more):\n"
    "  1    No Error or Completed\n"
    "  0    a data compare error (Error Ended); no memory for the test, another\n"
    "       system call error or no test buffer (Aborted); -vl, --help, --version\n"
    "  2    cancelled (SIGINT, SIGTERM, SIGHUP), or /dev/mem not opened (Aborted)\n"
    "  16   a parameter error (Aborted)\n"
    "  255  a start-up failure: bad options or no message table (Aborted)\n"
    "\n"
    "Logs: the trace log memot_log.0 (patrol mode mempt_log.0), rotated into\n"
    "_log.1 and on, the debug log memod_log.* with -debug, and the run report\n"
    "memot_report.json, all in the log directory. A log that cannot be written\n"
    "never stops the test.\n"
    "See memtest(1).\n";

bool answer_usage_request(int argc, char** argv) {
  if (argc != 2) return false;
  const std::string_view arg = argv[1];
  if (arg == "--help" || arg == "-h") {
    platform().write_record(kUsageText, std::strlen(kUsageText));
    return true;
  }
  if (arg == "--version") {
    char line[64];
    const int n = std::snprintf(line, sizeof line, "memtest %s-%s\n", kModuleVersion, kModuleBuild);
    platform().write_record(line, static_cast<size_t>(n));
    return true;
  }
  return false;
}
