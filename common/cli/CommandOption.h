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

class OptionSpec {
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
    static constexpr OptionSpec AsTyped(const char* shortName, const char* longName,
                                        int valueCount, const char* help) {
        OptionSpec spec;
        spec.shortName = shortName;
        spec.longName = longName;
        spec.minValues = 0;
        spec.maxValues = valueCount;
        spec.help = help;
        return spec;
    }
    // A switch without values.
    static constexpr OptionSpec Flag(const char* shortName, const char* longName,
                                     const char* help) {
        OptionSpec spec = AsTyped(shortName, longName, 0, help);
        spec.checked = true;
        return spec;
    }
    // A switch with exactly one checked value.
    static constexpr OptionSpec Checked(const char* shortName, const char* longName, Value value,
                                        const char* help) {
        return Checked(shortName, longName, 1, 1, value, value, help);
    }
    // A switch with minValues to maxValues checked values: the first of kind first, the rest
    // of kind rest.
    static constexpr OptionSpec Checked(const char* shortName, const char* longName,
                                        int minValues, int maxValues, Value first, Value rest,
                                        const char* help) {
        OptionSpec spec = AsTyped(shortName, longName, maxValues, help);
        spec.checked = true;
        spec.minValues = minValues;
        spec.values[0] = first;
        spec.values[1] = rest;
        spec.describedValues = 2;
        return spec;
    }
    // Lines of the help that belong to no switch.
    static constexpr OptionSpec HelpText(const char* help) {
        OptionSpec spec;
        spec.help = help;
        return spec;
    }
    // The same option with other help lines (for an option several programs share, whose
    // help names what it does in each).
    constexpr OptionSpec WithHelp(const char* otherHelp) const {
        OptionSpec spec = *this;
        spec.help = otherHelp;
        return spec;
    }

    bool IsSwitch() const { return shortName != nullptr; }
    // The value at index (0 = first value after the switch).
    const Value& ValueAt(int index) const;

    // The parser's view: both spellings and the number of words the switch takes.
    constexpr operator CMyCmdParser::SwitchEntry() const {  // NOLINT(google-explicit-constructor)
        return {shortName, longName, maxValues};
    }
};
