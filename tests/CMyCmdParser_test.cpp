#include "CMyCmdParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Builds a parser from the words after the program name.
struct Words {
    explicit Words(std::vector<std::string> list) : words(std::move(list)) {
        argv.push_back("prog");
        for (const auto& w : words) {
            argv.push_back(w.c_str());
        }
    }
    CMyCmdParser parser() const { return CMyCmdParser(static_cast<int>(argv.size()), argv.data()); }
    std::vector<std::string> words;
    std::vector<const char*> argv;
};

std::vector<std::string> extract(const CMyCmdParser& parser,
                                 const std::vector<CMyCmdParser::SwitchEntry>& table,
                                 std::string* result) {
    std::vector<std::string> out{"stale"};
    *result = parser.ExtractPureArguments(&out, table);
    return out;
}

TEST(CMyCmdParser, EmptyCommandLineAnswersDefaults) {
    const Words w({});
    const auto p = w.parser();
    EXPECT_EQ(p.GetNumberOfSwitches(), 0);
    EXPECT_FALSE(p.HasSwitch("-m"));
    EXPECT_EQ(p.GetNumberOfArguments("-m"), 0);
    EXPECT_EQ(p.GetArgument("-m", 1, "dflt"), "dflt");
    std::string result = "x";
    EXPECT_TRUE(extract(p, {{"-m", "--mask", 3}}, &result).empty());
    EXPECT_EQ(result, "");
}

TEST(CMyCmdParser, SwitchWordsAndNegativeNumbers) {
    const Words w({"-5", "in", "-.5", "-0", "-", "--", "-1e3", "--step_length=0.5"});
    const auto p = w.parser();
    // "-" and "--" and the '=' word are switches; the numbers are values.
    EXPECT_EQ(p.GetNumberOfSwitches(), 3);
    EXPECT_TRUE(p.HasSwitch("-"));
    EXPECT_TRUE(p.HasSwitch("--"));
    EXPECT_EQ(p.GetArgument("--", 1, ""), "-1e3");
    EXPECT_TRUE(p.HasSwitch("--step_length=0.5"));
    EXPECT_FALSE(p.HasSwitch("--step_length"));
    EXPECT_EQ(p.GetArgument("-", 1, ""), "");
    EXPECT_EQ(p.GetArgument("-", 0, ""), "-");
}

TEST(CMyCmdParser, SwitchBeforePositionalsTakesOnlyItsDeclaredCount) {
    const Words w({"-at", "35", "in", "out"});
    const auto p = w.parser();
    EXPECT_EQ(p.GetNumberOfArguments("-at"), 3);
    EXPECT_EQ(p.GetArgument("-at", 1, ""), "35");
    std::string result;
    const auto out = extract(p, {{"-at", "--angle_threshold", 1}}, &result);
    EXPECT_EQ(out, (std::vector<std::string>{"in", "out"}));
    EXPECT_EQ(result, "");
}

TEST(CMyCmdParser, FewerValuesThanDeclaredAreAllRemoved) {
    const Words w({"in", "out", "-m", "mask", "0.2"});
    std::string result;
    const auto out = extract(w.parser(), {{"-m", "--mask", 3}}, &result);
    EXPECT_EQ(out, (std::vector<std::string>{"in", "out"}));
}

TEST(CMyCmdParser, UnknownSwitchAndLeftOverNegativeNumberAreReported) {
    {
        const Words w({"in", "out", "-x", "5"});
        std::string result;
        const auto out = extract(w.parser(), {{"-m", "--mask", 3}}, &result);
        EXPECT_EQ(out, (std::vector<std::string>{"in", "out", "-x", "5"}));
        EXPECT_EQ(result, "-x");
    }
    {
        const Words w({"-5", "in"});
        std::string result;
        const auto out = extract(w.parser(), {{"-m", "--mask", 3}}, &result);
        EXPECT_EQ(out, (std::vector<std::string>{"-5", "in"}));
        EXPECT_EQ(result, "-5");
    }
}

TEST(CMyCmdParser, ShortSpellingTakesPrecedence) {
    const Words w({"--mask", "m.nii", "-m", "n.nii"});
    const auto p = w.parser();
    EXPECT_TRUE(p.HasSwitch("-m", "--mask"));
    EXPECT_EQ(p.GetArgument("-m", "--mask", 1, ""), "n.nii");
    EXPECT_EQ(p.GetArgument("--mask", 1, ""), "m.nii");
    std::string result;
    EXPECT_TRUE(extract(p, {{"-m", "--mask", 3}}, &result).empty());
}

TEST(CMyCmdParser, RepeatedSwitchCountsFromFirstOccurrenceAndRemovesAll) {
    {
        const Words w({"-ix", "-ix", "in"});
        std::string result;
        const auto out = extract(w.parser(), {{"-ix", "--invert_x", 0}}, &result);
        EXPECT_EQ(out, (std::vector<std::string>{"in"}));
    }
    {
        const Words w({"-m", "a", "-m", "b", "x", "y"});
        const auto p = w.parser();
        EXPECT_EQ(p.GetNumberOfSwitches(), 2);
        EXPECT_EQ(p.GetNumberOfArguments("-m"), 1);
        EXPECT_EQ(p.GetArgument("-m", 1, ""), "a");
        EXPECT_EQ(p.GetArgument("-m", 2, "none"), "x");
        // One value is removed after each occurrence: "x" and "y" stay.
        std::string result;
        const auto out = extract(p, {{"-m", "--mask", 3}}, &result);
        EXPECT_EQ(out, (std::vector<std::string>{"x", "y"}));
    }
}

TEST(CMyCmdParser, PrintListsEveryEntryWithItsFirstCount) {
    const Words w({"-m", "a", "-m", "b", "c"});
    testing::internal::CaptureStdout();
    w.parser().Print();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "-m   a   1\n-m   b   c   1\n");
}

}  // namespace
