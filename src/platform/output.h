// The report's way to standard output.
#pragma once

#include <string_view>

namespace kestrane::platform {

// Sets up standard output for the report: unbuffered on a terminal (a
// console on Windows), else in blocks of 512 bytes.
void init_output();

// Writes report text (UTF-8) to standard output: '\n' ends a line, and the
// platform turns it into its own line end (and, on Windows, its own
// encoding). A write that fails (the reader has gone) never ends the run;
// on POSIX the rest of the report is then skipped, not retried.
void write_output(std::string_view text);

// Writes everything still buffered on standard output.
void flush_output();

// From here on writes report text exactly as its UTF-8 bytes, '\n' as it
// stands, for a report that programs read: on Windows no CR LF and no ANSI
// code page even when redirected, and on a console '\n' alone ends a line.
// Called before anything is written.
void use_exact_output();

// Whether standard output is a terminal (a console on Windows), where a
// person reads the report.
bool output_is_terminal();

// How many columns wide that terminal (console window) is now; 0 when
// standard output is none, or the system does not say.
int output_columns();

}  // namespace kestrane::platform
