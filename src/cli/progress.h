// The status line a run shows below its report on a terminal (a console on
// Windows), for whoever waits on a big library or a slow share: while a tree
// is listed, the folders and outputs found so far; then the outputs done of
// all, the rate and the time left. It has no thread of its own: the run's
// thread draws it at report points and in the waits it makes anyway, once
// the run has gone on for half a second and then at most ten times a
// second, reading a clock that needs no system call. It is erased before
// each report line and at the end, so that what stays on the screen is the
// report alone, with a carriage return and spaces, which every terminal and
// console understand. Redirected, or with --json, nothing of it is written.
#pragma once

#include <cstddef>

#include "cli/plan.h"
#include "cli/run_tally.h"

namespace kestrane::progress {

// The run starts: its clock, and whether the status line is shown at all
// (a report in text on a terminal).
void start(bool shown);

// Whether the status line is due to be drawn: shown, and its time has come.
bool due();

// Draws the status line of a tree being listed.
void draw_listing(std::size_t folders, std::size_t outputs);

// From here on the status line counts the outputs the tally has told, of
// the plan's.
void follow(const RunTally& tally, const Plan& plan);

// A report point or a wait: draws the outputs' status line when it is due.
void tick();

// Erases the status line if it is on the screen: before a report line, and
// at the end.
void hide();

}  // namespace kestrane::progress
