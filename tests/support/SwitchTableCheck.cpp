#include "SwitchTableCheck.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <utility>

namespace {

using SwitchNames = std::set<std::pair<std::string, std::string>>;

// Both spellings of every switch the help lists ("  -z, --slice <number>").
SwitchNames helpSwitches(const std::string& help) {
    SwitchNames found;
    std::istringstream lines(help);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t comma = line.find(", ");
        if (line.rfind("  -", 0) != 0 || comma == std::string::npos) {
            continue;
        }
        const std::size_t end = line.find(' ', comma + 2);
        found.emplace(line.substr(2, comma - 2),
                      line.substr(comma + 2, end == std::string::npos ? end : end - comma - 2));
    }
    return found;
}

}  // namespace

void expectSwitchTableHolds(const std::vector<CMyCmdParser::SwitchEntry>& table,
                            const std::string& help, const std::vector<std::string>& positional,
                            const std::set<std::string>& undocumented) {
    std::set<std::string> names;
    SwitchNames documented;
    for (const CMyCmdParser::SwitchEntry& entry : table) {
        EXPECT_TRUE(names.insert(entry.shortName).second) << entry.shortName << " listed twice";
        EXPECT_TRUE(names.insert(entry.longName).second) << entry.longName << " listed twice";
        for (const char* spelling : {entry.shortName, entry.longName}) {
            std::vector<std::string> words = {"program"};
            words.insert(words.end(), positional.begin(), positional.end());
            words.emplace_back(spelling);
            for (int v = 0; v < entry.valueCount; ++v) {
                words.push_back("value" + std::to_string(v + 1));
            }
            std::vector<const char*> argv;
            for (const std::string& word : words) {
                argv.push_back(word.c_str());
            }
            const CMyCmdParser parser(static_cast<int>(argv.size()), argv.data());
            std::vector<std::string> left;
            EXPECT_EQ(parser.ExtractPureArguments(&left, table), "") << spelling;
            EXPECT_EQ(left, positional) << spelling;
            EXPECT_TRUE(parser.HasSwitch(entry)) << spelling;
            EXPECT_EQ(parser.GetNumberOfArguments(entry), entry.valueCount) << spelling;
            if (entry.valueCount > 0) {
                EXPECT_EQ(parser.GetArgument(entry, entry.valueCount, ""),
                          "value" + std::to_string(entry.valueCount))
                    << spelling;
            }
        }
        if (undocumented.count(entry.shortName) == 0) {
            documented.emplace(entry.shortName, entry.longName);
        }
    }
    // Exactly the table's switches, so that neither can gain one the other lacks.
    SwitchNames listed = helpSwitches(help);
    for (auto it = listed.begin(); it != listed.end();) {
        it = undocumented.count(it->first) > 0 ? listed.erase(it) : std::next(it);
    }
    EXPECT_EQ(listed, documented);
}
