// What memtest answers a person who asks it how to use it: "--help" or "-h"
// alone gives a usage text, "--version" alone the version. A controlling
// process never passes them alone, so its command lines keep their meaning.
#pragma once

// The usage text: the options, the keywords, the exit statuses and where the
// logs go.
extern const char kUsageText[];

// When the only argument is "--help", "-h" or "--version": writes the usage
// text or the version line to standard output and returns true. Any other
// command line: false, and nothing is written.
bool answer_usage_request(int argc, char** argv);
