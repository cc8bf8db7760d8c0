#pragma once
// A program's RunMessages on its standard streams: notices and the progress display on standard
// output, failures on standard error, the usage hint after a command-line error.

#include "RunMessages.h"

class ConsoleMessages : public RunMessages {
  public:
    explicit ConsoleMessages(const char* programName) : programName_(programName) {}

    void Notice(const std::string& text) override;
    int Failure(const std::string& message, const std::string& reason = "",
                const std::string& subject = "") override;
    int UsageError(const std::string& message) override;
    void Progress(double percent) override;

  private:
    const char* programName_;
};
