#pragma once
// Where library steps send what a run has to say. The library never writes to a stream itself:
// it hands each message to the program's RunMessages, and the program decides where it goes
// (ConsoleMessages prints it as the programs always have; a test may collect it).

#include <string>

class RunMessages {
  public:
    virtual ~RunMessages() = default;

    // Text for standard output, printed as given.
    virtual void Notice(const std::string& text) = 0;
    // The message, a line end, and when reason is not empty the reason's line (see
    // FailureReason), for standard error. Returns the failure status.
    virtual int Failure(const std::string& message, const std::string& reason = "",
                        const std::string& subject = "") = 0;
    // The message for standard error, then the program's usage hint. Returns the command-line
    // error status.
    virtual int UsageError(const std::string& message) = 0;
    // The progress display at this percentage.
    virtual void Progress(double percent) = 0;
};
