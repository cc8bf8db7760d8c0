#pragma once
// Command-line parser: a table of switches, each with the words that follow it, and the plain
// list of all words after the program name.
//
// A word is a switch word when it starts with '-' and its second character is neither a digit
// nor '.', so "-5", "-0.5" and "-.5" are values. Names compare exactly and case-sensitively.

#include <string>
#include <vector>

class CMyCmdParser {
  public:
    // One switch a program knows: both spellings and how many values it takes.
    struct SwitchEntry {
        const char* shortName;
        const char* longName;
        int valueCount;
    };

    CMyCmdParser(int argc, const char* const* argv);
    virtual ~CMyCmdParser() = default;
    CMyCmdParser(const CMyCmdParser&) = delete;
    CMyCmdParser& operator=(const CMyCmdParser&) = delete;

    int GetNumberOfSwitches() const;
    // Lookups by a switch's table entry, either spelling.
    bool HasSwitch(const SwitchEntry& entry) const;
    int GetNumberOfArguments(const SwitchEntry& entry) const;
    std::string GetArgument(const SwitchEntry& entry, int index, const char* defaultValue) const;

    bool HasSwitch(const char* name) const;
    bool HasSwitch(const char* shortName, const char* longName) const;
    // Values attached to the first occurrence of the switch (0 when absent).
    int GetNumberOfArguments(const char* name) const;
    int GetNumberOfArguments(const char* shortName, const char* longName) const;
    // Value index (1 = first value) of the first occurrence that has that many values, or the
    // default. Index 0 gives the switch word itself.
    std::string GetArgument(const char* name, int index, const char* defaultValue) const;
    std::string GetArgument(const char* shortName, const char* longName, int index,
                            const char* defaultValue) const;
    // Removes every known switch with up to its declared number of values from a copy of all
    // words; out receives what is left (the positional arguments and unknown switches). Returns
    // the first left-over word that starts with '-', or an empty string.
    std::string ExtractPureArguments(std::vector<std::string>* out,
                                     const std::vector<SwitchEntry>& switches) const;
    // Writes the switch table to standard output.
    void Print() const;

  private:
    static bool IsSwitchWord(const std::string& word);
    const std::vector<std::string>* FindFirst(const char* name) const;

    std::vector<std::vector<std::string>> switches_;  // element 0 is the switch word as typed
    std::vector<std::string> arguments_;
};
