// The first memory error among test threads that share a sweep.
//
// When several threads test the chunks of one sweep, the first error found is
// the one reported: the thread that finds it claims the report, and every
// other thread stops at its next check point without reporting, as it would
// for a cancel. With one test thread every report goes through unchanged.
#pragma once

// Whether threads share the sweeps from now on. Clears any claim; called only
// while no test thread runs.
void first_error_share(bool shared);
// Before a report: true when the calling thread may report (no other thread
// has, or it is the one that did). False: another thread's report stands and
// the caller stops without touching the error state.
bool first_error_claim();
// Gives a claim back when the report found no difference after all.
void first_error_unclaim();
// True when another thread has claimed the report: the caller stops.
bool first_error_stops_me();
// True while threads share the sweeps: a thread then leaves the shared error
// state alone unless it holds the claim.
bool first_error_shared();
