#include "CommandLineOpening.h"

#include <cstdio>

#include "ExitStatus.h"

namespace {
constexpr CMyCmdParser::SwitchEntry kHelp = {"-h", "--help", 0};
// Only the long spelling: "-version" was never a switch of these programs.
constexpr const char* kVersion = "--version";
}

RunStep CommandLineOpening::Open(int argc, const CMyCmdParser& parser,
                                 const std::vector<CMyCmdParser::SwitchEntry>& switches,
                                 const Program& program, std::vector<std::string>* positional) {
    if (parser.HasSwitch(kVersion)) {
        PrintVersion(program.name);
        return kExitSuccess;
    }
    if (argc <= 1 || parser.HasSwitch(kHelp)) {
        program.showHelp();
        std::fflush(stdout);
        return kExitSuccess;
    }
    const std::string unknown = parser.ExtractPureArguments(positional, switches);
    if (!unknown.empty()) {
        return UsageError(program.name, "\nUnrecognized switch '" + unknown + "'.");
    }
    if (positional->size() < program.positionalCount) {
        return UsageError(program.name, "\nMissing argument(s).");
    }
    return kGoOn;
}

int CommandLineOpening::UsageError(const char* programName, const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    PrintHint(programName);
    return kExitUsage;
}

void CommandLineOpening::PrintVersion(const char* programName) {
    std::printf("%s (dtitoolkit) %s\n", programName, DTI_TOOLKIT_VERSION);
    std::fflush(stdout);
}

void CommandLineOpening::PrintHint(const char* programName) {
    std::printf("Type '%s --help' for more information.\n", programName);
    std::fflush(stdout);
}
