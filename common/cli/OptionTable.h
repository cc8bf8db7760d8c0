#pragma once
// A program's options in the order of its help: the switches the parser knows, the checks of
// their values, and the help text, all from the same entries.

#include <optional>
#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "CommandOption.h"

class OptionTable {
  public:
    explicit OptionTable(std::vector<CommandOption> entries);

    // Every switch with the number of words it takes, for ExtractPureArguments.
    const std::vector<CMyCmdParser::SwitchEntry>& Switches() const { return switches_; }
    // The help lines of every entry, in order.
    std::string HelpText() const;
    // The first problem with the values of a checked option given on the command line, as the
    // message to print, naming the option as typed ("\nMissing argument(s) for -nthreads.",
    // "\n-nthreads must be a whole number of at least 1, not 'x'."); nothing when every checked
    // value is fine.
    std::optional<std::string> CheckValues(const CMyCmdParser& parser) const;
    // Why word is not a value of the option at index (0 = first value), naming the option as name;
    // nothing when it is one.
    static std::optional<std::string> ValueProblem(const CommandOption& option, const std::string& name,
                                                   int index, const std::string& word);

    // The comma-separated items of a list value ("0,1000" gives "0" and "1000").
    static std::vector<std::string> ListItems(const std::string& word);

    const std::vector<CommandOption>& Entries() const { return entries_; }

  private:
    std::vector<CommandOption> entries_;
    std::vector<CMyCmdParser::SwitchEntry> switches_;
};
