// The message table: texts looked up by message number.
#pragma once

// Loads the table file of the data directory into TEST_INF.msgtbl; 0 or -1.
int get_msgtbl(const char* file_name);
// The text of the entry for a message number ("Exx91"), or null.
const char* cv_msgno2fmt(const char* msgno);

// The arguments that the calls issuing a message number pass, one letter
// each: s text, u unsigned int, l unsigned long, L unsigned long long, p
// pointer. "" for a number that no call issues.
const char* msg_signature(const char* msgno);
// How many of those arguments a message text takes (its conversions must fit
// the first ones, in order), or -1 when the loader refuses the text: a
// conversion that does not fit its argument, more conversions than
// arguments, %n, '*', positional arguments or widths and precisions of five
// digits or more.
int msg_text_fit(const char* msgno, const char* text);
