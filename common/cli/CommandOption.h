#pragma once
// One command-line option, declared once: both spellings, the values it takes, what those values
// may be, and its lines in the help. A program's OptionTable lists these in help order; parsing,
// the checks of values, the missing-value and unknown-switch messages and the help all come from
// that one list.
//
// Options fall in two kinds. An option whose reading the toolkit has always defined leniently
// (text that is not a number reads as 0, a missing value is reported where the run needs it)
// is declared AsTyped: the table passes its words through unchecked and the program reads them
// as it always has. Every other option is Checked: a missing value, a value that is not
// entirely a number in range, or a word that is not one of the choices stops the command line
// with a message naming the option and the value.

#include "CMyCmdParser.h"

class CommandOption {
  public:
    enum class Kind { kText, kInteger, kDecimal, kChoice, kDecimalList, kChoiceList };

    // What one value may be. Choices are one text, separated by '|' ("ols|wls|iwls").
    struct Value {
        Kind kind = Kind::kText;
        double min = 0.0;
        double max = 0.0;
        const char* choices = "";

        static constexpr Value Text() { return {Kind::kText, 0.0, 0.0, ""}; }
        // Bounds are inclusive; kUnbounded leaves a side open.
        static constexpr Value Integer(double min, double max) {
            return {Kind::kInteger, min, max, ""};
        }
        static constexpr Value Decimal(double min, double max) {
            return {Kind::kDecimal, min, max, ""};
        }
        static constexpr Value Choice(const char* choices) {
            return {Kind::kChoice, 0.0, 0.0, choices};
        }
        // One word of numbers (or of choices) separated by commas: "0,1000", "ad,rd".
        static constexpr Value DecimalList(double min, double max) {
            return {Kind::kDecimalList, min, max, ""};
        }
        static constexpr Value ChoiceList(const char* choices) {
            return {Kind::kChoiceList, 0.0, 0.0, choices};
        }
    };

    static constexpr double kUnbounded = 1e308;
    static constexpr int kMaxDescribedValues = 2;

    const char* shortName = nullptr;  // nullptr: help text only (a heading or a paragraph)
    const char* longName = nullptr;
    int minValues = 0;  // fewer: "Missing argument(s) for <short>." (checked options only)
    int maxValues = 0;  // the parser takes up to this many words after the switch
    bool checked = false;
    // The first values' kinds; values past the last described one take its kind.
    Value values[kMaxDescribedValues] = {};
    int describedValues = 0;
    // The option's help, printed as it stands; each line ends with '\n'.
    const char* help = "";

    // A switch whose values the program reads as it always has (see above).
    static constexpr CommandOption AsTyped(const char* shortName, const char* longName,
                                        int valueCount, const char* help) {
        CommandOption option;
        option.shortName = shortName;
        option.longName = longName;
        option.minValues = 0;
        option.maxValues = valueCount;
        option.help = help;
        return option;
    }
    // A switch without values.
    static constexpr CommandOption Flag(const char* shortName, const char* longName,
                                     const char* help) {
        CommandOption option = AsTyped(shortName, longName, 0, help);
        option.checked = true;
        return option;
    }
    // A switch with exactly one checked value.
    static constexpr CommandOption Checked(const char* shortName, const char* longName, Value value,
                                        const char* help) {
        return Checked(shortName, longName, 1, 1, value, value, help);
    }
    // A switch with minValues to maxValues checked values: the first of kind first, the rest
    // of kind rest.
    static constexpr CommandOption Checked(const char* shortName, const char* longName,
                                        int minValues, int maxValues, Value first, Value rest,
                                        const char* help) {
        CommandOption option = AsTyped(shortName, longName, maxValues, help);
        option.checked = true;
        option.minValues = minValues;
        option.values[0] = first;
        option.values[1] = rest;
        option.describedValues = 2;
        return option;
    }
    // Lines of the help that belong to no switch.
    static constexpr CommandOption HelpText(const char* help) {
        CommandOption option;
        option.help = help;
        return option;
    }
    // The same option with other help lines (for an option several programs share, whose
    // help names what it does in each).
    constexpr CommandOption WithHelp(const char* otherHelp) const {
        CommandOption option = *this;
        option.help = otherHelp;
        return option;
    }

    bool IsSwitch() const { return shortName != nullptr; }
    // The value at index (0 = first value after the switch).
    const Value& ValueAt(int index) const;

    // The parser's view: both spellings and the number of words the switch takes.
    constexpr operator CMyCmdParser::SwitchEntry() const {  // NOLINT(google-explicit-constructor)
        return {shortName, longName, maxValues};
    }
};
