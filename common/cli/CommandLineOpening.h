#pragma once
// The opening every program's command line shares, from its option table: the version, the
// help, unknown switches, missing positional arguments and the values of checked options, each
// with the same messages and the usage hint.

#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "OptionTable.h"
#include "RunStep.h"

class CommandLineOpening {
  public:
    struct Program {
        const char* name;          // for the hint "Type '<name> --help' for more information."
        const OptionTable& options;
        size_t positionalCount;    // positional arguments the program needs
        // Whether words past those are refused. The two programs whose command lines have
        // always ignored them keep doing so, except for words that overflow an added option.
        bool refusesExtraWords = true;
    };

    // Prints the version (status 0) for --version; shows the help (status 0) when there are no
    // arguments or -h/--help is given; refuses an unknown switch, too few positional arguments
    // or a checked option's missing or wrong value, or a word too many: one past a checked
    // option's values, or any when the program refuses extra words (status 2, message and
    // hint). Otherwise
    // fills positional with the words left after the known switches and goes on.
    static RunStep Open(int argc, const CMyCmdParser& parser, const Program& program,
                        std::vector<std::string>* positional);

    // The table's help on standard output.
    static void ShowHelp(const OptionTable& options);
    // Message on standard error, then the hint on standard output; returns status 2.
    static int UsageError(const char* programName, const std::string& message);
    // "<name> (dtitoolkit) <version>" on standard output, for --version.
    static void PrintVersion(const char* programName);
    // "Type '<name> --help' for more information." on standard output.
    static void PrintHint(const char* programName);
};
