#include "ConsoleMessages.h"

#include <cstdio>

#include "CommandLineOpening.h"
#include "ExitStatus.h"
#include "FailureReason.h"
#include "ProgressDisplay.h"

void ConsoleMessages::Notice(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

int ConsoleMessages::Failure(const std::string& message, const std::string& reason,
                             const std::string& subject) {
    std::fprintf(stderr, "%s\n", message.c_str());
    if (!reason.empty()) {
        std::fputs(FailureReason::Line(reason, subject).c_str(), stderr);
    }
    std::fflush(stderr);
    return kExitFailure;
}

int ConsoleMessages::UsageError(const std::string& message) {
    return CommandLineOpening::UsageError(programName_, message);
}

void ConsoleMessages::Progress(double percent) {
    ProgressDisplay::Show(percent);
}
