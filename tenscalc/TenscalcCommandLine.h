#pragma once
// The first phase of tenscalc: the command line is checked and the run settings settled.

#include "TenscalcSettings.h"

class TenscalcCommandLine {
  public:
    // Fills settings from the command line. Returns -1 when the run goes on, otherwise the exit
    // status to end with (the help, or a refused command line; the message is printed).
    static int Parse(int argc, const char* const* argv, TenscalcSettings& settings);
    static void ShowHelp();
    // "Type 'tenscalc --help' for more information." on standard output.
    static void ShowHint();
};
