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
    if (positional->size() > program.positionalCount) {
        // Words after an option's values are positional arguments as long as the program still
        // needs some; the last word is then one too many, and its option (if any) is named.
        const std::string& last = positional->back();
        for (const CommandOption& option : program.options.Entries()) {
            if (!option.checked || !option.IsSwitch() || !parser.HasSwitch(option)) {
                continue;
            }
            const int count = parser.GetNumberOfArguments(option);
            if (count > option.maxValues && parser.GetArgument(option, count, "") == last) {
                return UsageError(program.name,
                                  "\n" + parser.GetArgument(option, 0, option.shortName) +
                                      " takes at most " +
                                      std::to_string(option.maxValues) + " value" +
                                      (option.maxValues == 1 ? "" : "s") + "; '" + last +
                                      "' is one too many.");
            }
        }
        if (program.refusesExtraWords) {
            return UsageError(program.name, "\nUnexpected argument '" + last + "'.");
        }
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
