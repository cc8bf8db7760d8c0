#pragma once
// Runs a program's main work so that running out of memory ends it with a message and status 1
// instead of an abort: sizes come from file headers, and a damaged or huge one may ask for more
// than the machine has.

class MemoryGuard {
  public:
    using Run = int (*)(int argc, char** argv);

    // run(argc, argv), or kExitFailure after "\nNot enough memory for WHAT." on standard error.
    static int Call(Run run, int argc, char** argv, const char* what);
};
