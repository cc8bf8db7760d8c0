#pragma once
// How many threads a program runs its long phases on: the -nthreads option, else the
// DTI_NTHREADS environment variable, else the processors this process may run on (its affinity
// mask, which is what a batch scheduler leaves it). The result never changes what a program
// writes, only how long it takes.

#include <string>

class ThreadCount {
  public:
    static constexpr const char* kVariable = "DTI_NTHREADS";
    // More threads than this never help on any machine these programs run on; every thread
    // costs memory whether it has work or not.
    static constexpr int kMost = 1024;

    // Processors in this process's affinity mask; at least 1.
    static int Available();
    // A whole number of at least 1 (surrounding blanks allowed); false otherwise.
    static bool Parse(const std::string& text, int* threads);
    // The thread count from an option value (empty: not given), the environment variable and
    // the affinity mask, in that order, at most kMost. False with the reason when the option or
    // the variable is not a whole number of at least 1; true with a note in reason when a
    // larger count was asked for and kMost is used.
    static bool Choose(const std::string& option, int* threads, std::string* reason);
};
