// Cover mode (keyword -cover): a pattern pass takes all the chunks of the
// test size before its first sweep, keeps them in RAM, runs every sweep over
// the same chunks in the usual order, and gives them back at its end.
//
// By default every algorithm call takes a fresh chunk and gives it back at
// once, and the kernel hands the same few physical pages back every time: a
// 2 GiB MSCAN visits 2 GiB but tests about 130 MiB of distinct memory. Held
// chunks make the size a run names the memory it tests. Records, progress,
// time checks and error lists stay as in the default mode.
#pragma once

#include <cstdint>

inline constexpr const char* kCoverKeyword = "-cover";
// "-threads N": the sweeps of a cover-mode pass share their chunks among N
// test threads (1 by default; 0: one per online CPU; at most 64). Without
// cover mode it has no effect.
inline constexpr const char* kThreadsKeyword = "-threads";

// Reads the keyword from the program arguments (exactly "-cover"; the
// parameter parser's prefixes never take it) and traces the choice.
void cover_setup(int argc, char** argv);
bool cover_mode();
// The test threads of a cover-mode pass: 1 without cover mode.
uint32_t cover_threads();

// Takes `count` chunks of `size` bytes for a pattern pass: refuses, before
// taking anything, when they do not fit in MemAvailable less a reserve for
// the system; locks each one in RAM. kRcOk, or kRcSyscall with the chunks
// taken so far still held: the caller reports the system call error and
// gives them back with cover_release(), as at every end of a pass.
uint32_t cover_take(uint64_t count, uint32_t size);
// The chunk of sweep step i.
void* cover_chunk(uint64_t i);
// After a fault in chunk i: it is never touched or given back again.
void cover_abandon(uint64_t i);
// Gives back every chunk held. Does nothing when none is. Called at the end
// of every pattern pass, and by the cancel once the test thread has stopped.
void cover_release();
// The number of chunks held (the cancel traces it).
uint64_t cover_held();

// Back to the default mode with nothing held: for the tests.
void cover_clear();
