#pragma once
// Exit statuses shared by the programs.

enum ExitStatus : int {
    kExitSuccess = 0,  // finished, or printed the help
    kExitFailure = 1,  // an input could not be found or read, or an output not written
    kExitUsage = 2,    // the command line was wrong
};
