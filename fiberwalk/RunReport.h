#pragma once
// The tracking program's way of ending a run early: the message on its stream, the usage hint
// where the command line was at fault, and the exit status to return from main.

#include <string>

class RunReport {
  public:
    // Message on standard error, then the usage hint; returns the command-line error status.
    static int UsageError(const std::string& message);
    // Message on standard output, then the usage hint; returns the command-line error status.
    static int UsageErrorOnOutput(const std::string& message);
    // Message on standard error without the hint; returns the command-line error status.
    static int UsageErrorWithoutHint(const std::string& message);
    // Message on standard error; returns the failure status (an input or output file at fault).
    static int Failure(const std::string& message);
    // As above, then the reason on the next line (see FailureReason).
    static int Failure(const std::string& message, const std::string& reason,
                       const std::string& subject);
    // Only the reason line, on standard error, after a message printed elsewhere.
    static void Reason(const std::string& reason, const std::string& subject);
    static void PrintUsageHint();
};
