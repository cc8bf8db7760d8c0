#include "RunReport.h"

#include <cstdio>

#include "ExitStatus.h"

int RunReport::UsageError(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    PrintUsageHint();
    return kExitUsage;
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

void RunReport::PrintUsageHint() {
    std::printf("Type 'fiberwalk --help' for more information.\n");
    std::fflush(stdout);
}
