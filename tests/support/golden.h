// Expected output kept in files beside the tests.
//
// A golden file holds the expected text literally, except that a part written
// {{regex}} matches what the regular expression matches within its line.
// Named parts: {{date}} a result date "2026/12/06 07:00:00", {{stamp}} a log
// stamp "26/12/06 07:00:00 123.456", {{tmpdir}} a test's temporary
// directory. Lines are compared one by one.
//
// With MEMTEST_BLESS=1 in the environment a mismatching golden file is
// rewritten from the actual text (dates and stamps masked); review the
// change with git diff before committing it.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace ts {

// Compares actual with the golden file tests/golden/<name>. On a mismatch the
// message shows the first differing line and the whole actual text.
testing::AssertionResult matches_golden(const std::string& name, const std::string& actual);

}  // namespace ts
