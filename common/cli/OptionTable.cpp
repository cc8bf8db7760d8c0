#include "OptionTable.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

std::string numberText(double value, bool whole) {
    char text[64];
    std::snprintf(text, sizeof text, whole ? "%.0f" : "%g", value);
    return text;
}

// "of at least 1", "from 0 to 4294967295", "of at most 3" or nothing.
std::string rangeText(const CommandOption::Value& value, bool whole) {
    const bool low = value.min > -CommandOption::kUnbounded;
    const bool high = value.max < CommandOption::kUnbounded;
    if (low && high) {
        return " from " + numberText(value.min, whole) + " to " + numberText(value.max, whole);
    }
    if (low) {
        return " of at least " + numberText(value.min, whole);
    }
    if (high) {
        return " of at most " + numberText(value.max, whole);
    }
    return "";
}

// The whole word as a finite number (a whole one when whole is set); nothing otherwise.
std::optional<double> wholeWordNumber(const std::string& word, bool whole) {
    if (word.empty()) {
        return std::nullopt;
    }
    const char* begin = word.c_str();
    char* end = nullptr;
    errno = 0;
    if (whole) {
        const long long value = std::strtoll(begin, &end, 10);
        if (end == begin || *end != '\0' || errno == ERANGE) {
            return std::nullopt;
        }
        return static_cast<double>(value);
    }
    const double value = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string choiceList(const char* choices) {
    std::string list;
    for (const char* c = choices; *c != '\0'; ++c) {
        if (*c == '|') {
            list += ", ";
        } else {
            list += *c;
        }
    }
    return list;
}

bool isChoice(const char* choices, const std::string& word) {
    std::string current;
    for (const char* c = choices;; ++c) {
        if (*c == '|' || *c == '\0') {
            if (current == word) {
                return true;
            }
            if (*c == '\0') {
                return false;
            }
            current.clear();
        } else {
            current += *c;
        }
    }
}

}  // namespace

OptionTable::OptionTable(std::vector<CommandOption> entries) : entries_(std::move(entries)) {
    for (const CommandOption& entry : entries_) {
        if (entry.IsSwitch()) {
            switches_.push_back(entry);
        }
    }
}

std::string OptionTable::HelpText() const {
    std::string text;
    for (const CommandOption& entry : entries_) {
        text += entry.help;
    }
    return text;
}

std::vector<std::string> OptionTable::ListItems(const std::string& word) {
    std::vector<std::string> items(1);
    for (const char c : word) {
        if (c == ',') {
            items.emplace_back();
        } else {
            items.back() += c;
        }
    }
    return items;
}

std::optional<std::string> OptionTable::ValueProblem(const CommandOption& option,
                                                     const std::string& name, int index,
                                                     const std::string& word) {
    const CommandOption::Value& value = option.ValueAt(index);
    const std::string given = ", not '" + word + "'.";
    switch (value.kind) {
        case CommandOption::Kind::kDecimalList:
            for (const std::string& item : ListItems(word)) {
                const std::optional<double> number = wholeWordNumber(item, false);
                if (!number || *number < value.min || *number > value.max) {
                    return name + " must be numbers" + rangeText(value, false) +
                           " separated by commas" + given;
                }
            }
            return std::nullopt;
        case CommandOption::Kind::kChoiceList:
            for (const std::string& item : ListItems(word)) {
                if (!isChoice(value.choices, item)) {
                    return name + " must be one or more of " + choiceList(value.choices) +
                           " separated by commas" + given;
                }
            }
            return std::nullopt;
        case CommandOption::Kind::kText:
            return std::nullopt;
        case CommandOption::Kind::kChoice:
            if (isChoice(value.choices, word)) {
                return std::nullopt;
            }
            return name + " must be one of " + choiceList(value.choices) + given;
        case CommandOption::Kind::kInteger:
        case CommandOption::Kind::kDecimal: {
            const bool whole = value.kind == CommandOption::Kind::kInteger;
            const std::optional<double> number = wholeWordNumber(word, whole);
            if (number && *number >= value.min && *number <= value.max) {
                return std::nullopt;
            }
            return name + " must be " + (whole ? "a whole number" : "a number") +
                   rangeText(value, whole) + given;
        }
    }
    return std::nullopt;
}

std::optional<std::string> OptionTable::CheckValues(const CMyCmdParser& parser) const {
    for (const CommandOption& entry : entries_) {
        if (!entry.IsSwitch() || !entry.checked || !parser.HasSwitch(entry)) {
            continue;
        }
        // Messages name the option as it was typed.
        const std::string typed = parser.GetArgument(entry, 0, entry.shortName);
        const int given = parser.GetNumberOfArguments(entry);
        if (given < entry.minValues) {
            return "\nMissing argument(s) for " + typed + ".";
        }
        const int checked = given < entry.maxValues ? given : entry.maxValues;
        for (int i = 0; i < checked; ++i) {
            if (std::optional<std::string> problem =
                    ValueProblem(entry, typed, i, parser.GetArgument(entry, i + 1, ""))) {
                return "\n" + *problem;
            }
        }
    }
    return std::nullopt;
}
