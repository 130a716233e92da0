// Checks of the memtest command line that memtest-view is to start, made
// before it starts it: a -size that memtest would read as another size, and
// a log directory memtest could not write.
#pragma once

#include <string>

// Why memtest, given these arguments (command[0] the program, null last),
// would test another size than its -size value says, and how to write the
// size meant: one line without the program name, or "" when memtest tests
// what is written, when no -size is given, or when memtest refuses its
// command line itself. It runs memtest's own keyword parser, which leaves
// memtest's parameter state of this process set as a run would.
std::string size_refusal(char** command);

// The log directory memtest would use, when it is missing or cannot be
// written: one line without the program name, or "".
std::string log_dir_warning(char* const* command);
