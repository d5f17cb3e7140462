// Every text the tool prints. '%s' stands for a path or an argument, '%c'
// for an option letter, '%d' for a count; the report fills them in.
#pragma once

namespace kestrane::messages {

#ifndef KESTRANE_VERSION
#error "KESTRANE_VERSION must be defined by the build"
#endif

inline constexpr const char* kBanner =
    "\n"
    " Kestrane   ID3v1 / APEv2 Batch Copy Utility   Version " KESTRANE_VERSION "   6-03-03\n"
    " Copyright (c) 2026 the Kestrane developers; free software, no warranty.\n"
    "\n";

inline constexpr const char* kUsage =
    " Usage:   KESTRANE [-options] infile[.ext] outfile[.ext]\n"
    "             (infile and outfile specs may contain wildcards [?,*] and)\n"
    "              default to .mp3 if no extension is specified)\n"
    "\n"
    " Options: -a  = append tags only (fail if tags found on output)\n"
    "          -u  = update tags only (fail if tags NOT found on output)\n"
    "          -n  = dry run: report what would be done, change no file\n"
    "          -r  = folder trees: pair files by relative path in every subfolder\n"
    "          -q  = quiet: report only outputs changed or not done, then the totals\n"
    "          --json = report as JSON Lines, one object per line\n"
    "          --sync = each change on the disk before the next: safe from power cuts\n"
    "          --undo = put back the outputs the last run changed\n"
    "          --recover = only finish what a run cut short left (every run does)\n"
    "\n"
    " Notes:   Kestrane can be used to copy a ID3v1 or APEv2 tag from an input file\n"
    "          to an output file. Or, it can be used to copy the tag from a single\n"
    "          input file to many output files. Finally, it can copy tags from\n"
    "          many files to many other files that have the same name (but may\n"
    "          have different extensions). The default operation is to update an\n"
    "          existing tag if it is present, otherwise the new one is appended.\n"
    "\n"
    " License: Kestrane is released under the MIT License: use, copy, modify and\n"
    "          share it freely, keeping the copyright notice; see LICENSE.\n";

inline constexpr const char* kVersion = "kestrane " KESTRANE_VERSION "\n";

// The command line.
inline constexpr const char* kIllegalOption = "illegal option: %c !\n\n";
inline constexpr const char* kTooManySpecifications =
    "too many file specifications, quote wildcards (e.g. '*.mp3') !\n\n";

// The environment.
inline constexpr const char* kJobsIgnored = "KESTRANE_JOBS=%s ignored: not a number from 1 to 64!\n";

// The two lists.
inline constexpr const char* kNoInputFiles = "no input files found!\n";
inline constexpr const char* kNoOutputFiles = "no output files found!\n";
inline constexpr const char* kFileNotFound = "file %s not found!\n";

// Each output: its heading, then one line saying what became of it.
inline constexpr const char* kHeading = "\n%s:\n";
inline constexpr const char* kCantReadFolder = "can't read folder %s!\n";  // stands alone, after a blank line
inline constexpr const char* kNoMatchingInput = "no matching input file!\n";
inline constexpr const char* kMultipleMatchingInputs = "multiple matching input files!\n";
inline constexpr const char* kCantOpenInput = "can't open input file %s!\n";
inline constexpr const char* kCantOpenOutput = "can't open output file, may be write protected!\n";
inline constexpr const char* kInputHasNoTag = "file %s does not have valid tag!\n";
inline constexpr const char* kOutputAlreadyTagged = "file %s already has valid tag!\n";
inline constexpr const char* kOutputHasNoTag = "file %s does not have a valid tag!\n";
inline constexpr const char* kUpdateFailed = "error updating tag!\n";
inline constexpr const char* kAppendFailed = "error appending tag!\n";
inline constexpr const char* kUpdated = "updated tag from %s\n";
inline constexpr const char* kAppended = "appended tag from %s\n";
inline constexpr const char* kUpToDate = "tag already up to date from %s\n";
inline constexpr const char* kWouldUpdate = "would update tag from %s\n";
inline constexpr const char* kWouldAppend = "would append tag from %s\n";

// Before a run: what a run that did not finish left.
inline constexpr const char* kRecovered = "put back as it was before a run that did not finish\n";
inline constexpr const char* kWouldRecover = "would put back as it was before a run that did not finish\n";
inline constexpr const char* kRecoveryLeftAlone = "gone or replaced since a run that did not finish, left alone!\n";

// Taking a run back (--undo).
inline constexpr const char* kUndoing = "undoing the run of %s\n";
inline constexpr const char* kNothingToUndo = "no run on record to undo!\n";
inline constexpr const char* kUndone = "put back as it was before the run\n";
inline constexpr const char* kWouldUndo = "would put back as it was before the run\n";
inline constexpr const char* kChangedSince = "changed since the run, left as it is!\n";
inline constexpr const char* kGoneSince = "gone or replaced since the run, left alone!\n";
inline constexpr const char* kPutBackFailed = "error putting back tag!\n";

// The journal.
inline constexpr const char* kNoJournal = "no journal could be kept: --undo will not cover this run!\n";
inline constexpr const char* kJournalPastBound =
    "this run changed more than a journal keeps (1 GiB): --undo will not cover all of it!\n";

// The run as a whole.
inline constexpr const char* kOutOfMemory = "out of memory!\n";
// After the last output, on a terminal or in a quiet report; the refusals -a
// and -u ask for, then the inputs no output took, are told only when there
// are any, before the line end.
inline constexpr const char* kTotals = "\n%d outputs: %d updated, %d appended, %d up to date, %d not done";
inline constexpr const char* kLeftAlone = ", %d left alone";
inline constexpr const char* kPutBack = ", %d put back";

// Inputs no output took, at the end of the totals when there are any.
inline constexpr const char* kInputsWithoutOutput = ", %d inputs without an output";
inline constexpr const char* kInputWithoutOutput = ", 1 input without an output";

// The status line below the report on a terminal, redrawn in place: while
// a tree is listed, then while its outputs are carried out; the rate and the
// time left once they can be told.
inline constexpr const char* kStatusListing = "listing: %d folders, %d outputs found";
inline constexpr const char* kStatusDone = "%d of %d outputs done";
inline constexpr const char* kStatusRate = ", %d a second";
inline constexpr const char* kStatusTimeLeft = ", %s left";

}  // namespace kestrane::messages
