// The fixed texts the tool prints: the banner and the usage text.
#pragma once

namespace kestrane {

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

}  // namespace kestrane
