#include "RunReport.h"

#include <cstdio>

#include "CommandLineOpening.h"
#include "ExitStatus.h"
#include "FailureReason.h"
#include "TrackingSettings.h"

int RunReport::UsageError(const std::string& message) {
    return CommandLineOpening::UsageError(TrackingSettings::kProgramName, message);
}

int RunReport::UsageErrorOnOutput(const std::string& message) {
    std::printf("%s\n", message.c_str());
    PrintUsageHint();
    return kExitUsage;
}

int RunReport::UsageErrorWithoutHint(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return kExitUsage;
}

int RunReport::Failure(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return kExitFailure;
}

int RunReport::Failure(const std::string& message, const std::string& reason,
                       const std::string& subject) {
    std::fprintf(stderr, "%s\n", message.c_str());
    Reason(reason, subject);
    return kExitFailure;
}

void RunReport::Reason(const std::string& reason, const std::string& subject) {
    std::fputs(FailureReason::Line(reason, subject).c_str(), stderr);
}

void RunReport::PrintUsageHint() {
    CommandLineOpening::PrintHint(TrackingSettings::kProgramName);
}
