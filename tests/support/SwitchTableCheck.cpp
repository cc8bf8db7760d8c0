#include "SwitchTableCheck.h"

#include <gtest/gtest.h>

void expectSwitchTableHolds(const std::vector<CMyCmdParser::SwitchSpec>& table,
                            const std::string& help, const std::vector<std::string>& positional,
                            const std::set<std::string>& undocumented) {
    std::set<std::string> names;
    for (const CMyCmdParser::SwitchSpec& spec : table) {
        EXPECT_TRUE(names.insert(spec.shortName).second) << spec.shortName << " listed twice";
        EXPECT_TRUE(names.insert(spec.longName).second) << spec.longName << " listed twice";
        for (const char* spelling : {spec.shortName, spec.longName}) {
            std::vector<std::string> words = {"program"};
            words.insert(words.end(), positional.begin(), positional.end());
            words.emplace_back(spelling);
            for (int v = 0; v < spec.valueCount; ++v) {
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
            EXPECT_TRUE(parser.HasSwitch(spec)) << spelling;
            EXPECT_EQ(parser.GetNumberOfArguments(spec), spec.valueCount) << spelling;
            if (spec.valueCount > 0) {
                EXPECT_EQ(parser.GetArgument(spec, spec.valueCount, ""),
                          "value" + std::to_string(spec.valueCount))
                    << spelling;
            }
        }
        if (undocumented.count(spec.shortName) == 0) {
            EXPECT_NE(help.find(std::string("  ") + spec.shortName + ", "), std::string::npos)
                << spec.shortName << " missing from the help";
            EXPECT_NE(help.find(spec.longName), std::string::npos)
                << spec.longName << " missing from the help";
        }
    }
}
