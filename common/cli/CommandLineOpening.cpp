#include "CommandLineOpening.h"

#include <cstdio>

#include "ExitStatus.h"
#include "StandardOptions.h"


RunStep CommandLineOpening::Open(int argc, const CMyCmdParser& parser, const Program& program,
                                 std::vector<std::string>* positional) {
    if (parser.HasSwitch(StandardOptions::kVersion)) {
        PrintVersion(program.name);
        return kExitSuccess;
    }
    if (argc <= 1 || parser.HasSwitch(StandardOptions::Help(""))) {
        ShowHelp(program.options);
        return kExitSuccess;
    }
    const std::string unknown =
        parser.ExtractPureArguments(positional, program.options.Switches());
    if (!unknown.empty()) {
        return UsageError(program.name, "\nUnrecognized switch '" + unknown + "'.");
    }
    if (positional->size() < program.positionalCount) {
        return UsageError(program.name, "\nMissing argument(s).");
    }
    if (const std::optional<std::string> problem = program.options.CheckValues(parser)) {
        return UsageError(program.name, *problem);
    }
    return kGoOn;
}

void CommandLineOpening::ShowHelp(const OptionTable& options) {
    std::fputs(options.HelpText().c_str(), stdout);
    std::fflush(stdout);
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
