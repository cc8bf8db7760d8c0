// Options declared once: the checks their declarations give, and what every program does with a
// value that is not one.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "OptionTable.h"
#include "TenscalcAcquisition.h"
#include "TestSupport.h"

namespace {

using testsupport::fileExists;
using testsupport::runProgram;
using testsupport::TempDir;
using Value = CommandOption::Value;

// The checks of an option table on the words after a program name.
std::optional<std::string> problemOf(const OptionTable& table, std::vector<std::string> words) {
    words.insert(words.begin(), "program");
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    const CMyCmdParser parser(static_cast<int>(argv.size()), argv.data());
    return table.CheckValues(parser);
}

TEST(OptionTable, ChecksEveryValueOfACheckedOptionAndNoneOfTheOthers) {
    const OptionTable table({
        CommandOption::Checked("-n", "--count", Value::Integer(1, CommandOption::kUnbounded), ""),
        CommandOption::Checked("-seed", "--seed", Value::Integer(0, 4294967295.0), ""),
        CommandOption::Checked("-x", "--fraction", Value::Decimal(0, 1), ""),
        CommandOption::Checked("-fit", "--fit", 1, 2, Value::Choice("ols|wls|iwls"),
                            Value::Integer(1, 100), ""),
        CommandOption::Checked("-m", "--mask", 1, 3, Value::Text(),
                            Value::Decimal(-CommandOption::kUnbounded, CommandOption::kUnbounded), ""),
        CommandOption::AsTyped("-b", "-b_value", 1, ""),
    });
    struct Case {
        std::vector<std::string> words;
        std::optional<std::string> problem;
    };
    const std::vector<Case> cases = {
        {{"in", "out"}, std::nullopt},
        {{"-n", "3", "in", "out"}, std::nullopt},  // words past the option's values are not its
        {{"-n", "0"}, "\n-n must be a whole number of at least 1, not '0'."},
        {{"--count", "-5"}, "\n--count must be a whole number of at least 1, not '-5'."},
        {{"-n", "2.0"}, "\n-n must be a whole number of at least 1, not '2.0'."},
        {{"-n", "3x"}, "\n-n must be a whole number of at least 1, not '3x'."},
        {{"-n", ""}, "\n-n must be a whole number of at least 1, not ''."},
        {{"-n", "99999999999999999999"},
         "\n-n must be a whole number of at least 1, not '99999999999999999999'."},
        {{"-n"}, "\nMissing argument(s) for -n."},
        {{"--count", "-x", "0.5"}, "\nMissing argument(s) for --count."},
        {{"-seed", "4294967295"}, std::nullopt},
        {{"-seed", "4294967296"},
         "\n-seed must be a whole number from 0 to 4294967295, not '4294967296'."},
        {{"-x", "0.25"}, std::nullopt},
        {{"-x", "1e-3"}, std::nullopt},
        {{"-x", "1.5"}, "\n-x must be a number from 0 to 1, not '1.5'."},
        {{"-x", "nan"}, "\n-x must be a number from 0 to 1, not 'nan'."},
        {{"-fit", "wls"}, std::nullopt},
        {{"-fit", "iwls", "3"}, std::nullopt},
        {{"-fit", "gls"}, "\n-fit must be one of ols, wls, iwls, not 'gls'."},
        {{"-fit", "Ols"}, "\n-fit must be one of ols, wls, iwls, not 'Ols'."},
        {{"-fit", "iwls", "101"}, "\n-fit must be a whole number from 1 to 100, not '101'."},
        {{"-m", "mask.nii", "0.2", "1.1"}, std::nullopt},
        {{"-m", "mask.nii", "0.2", "high"}, "\n-m must be a number, not 'high'."},
        // Options read as they always have been are not checked here.
        {{"-b", "abc"}, std::nullopt},
        {{"-b"}, std::nullopt},
        // The first occurrence is the one the program reads.
        {{"-n", "2", "-n", "zero"}, std::nullopt},
    };
    for (const Case& c : cases) {
        std::string words;
        for (const std::string& word : c.words) {
            words += word + " ";
        }
        SCOPED_TRACE(words);
        EXPECT_EQ(problemOf(table, c.words), c.problem);
    }
}

TEST(OptionTable, HelpIsEveryEntrysTextInOrderAndSwitchesLeaveTextOut) {
    const OptionTable table({
        CommandOption::HelpText("Usage: p IN\n\n"),
        CommandOption::Flag("-a", "--all", "  -a, --all\n"),
        CommandOption::AsTyped("-hidden", "--hidden", 2, ""),
        CommandOption::HelpText("Example: p in -a\n"),
    });
    EXPECT_EQ(table.HelpText(), "Usage: p IN\n\n  -a, --all\nExample: p in -a\n");
    ASSERT_EQ(table.Switches().size(), 2u);
    EXPECT_STREQ(table.Switches()[1].shortName, "-hidden");
    EXPECT_EQ(table.Switches()[1].valueCount, 2);
}

// A value that is not one stops every program before it reads or writes anything: status 2,
// the message naming the option as typed and the value, the usage hint.
TEST(ProgramOptions, EveryProgramRefusesAWrongValueOfAnAddedOption) {
    TempDir dir;
    const std::string out = dir.file("out");
    struct Case {
        std::string program;
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"tenscalc", {"raw.nii", out, "-gm", "g.txt", "-nthreads", "0"},
         "\n-nthreads must be a whole number of at least 1, not '0'.\n"},
        {"tenscalc", {"raw.nii", out, "-gm", "g.txt", "--nthreads", "two"},
         "\n--nthreads must be a whole number of at least 1, not 'two'.\n"},
        {"tenscalc", {"raw.nii", out, "-gm", "g.txt", "-fit", "iwls", "x"},
         "\n-fit must be a whole number from 1 to 100, not 'x'.\n"},
        {"fiberwalk", {"dti", out + ".trk", "-m", "fa.nii", "-seed", "1.5"},
         "\n-seed must be a whole number from 0 to 4294967295, not '1.5'.\n"},
        {"gradcheck", {"raw.nii", "-gm", "g.txt", "-m", "wm.nii", "low"},
         "\n-m must be a number, not 'low'.\n"},
        {"gradcheck", {"raw.nii", "-gm", "g.txt", "-export"},
         "\nMissing argument(s) for -export.\n"},
        {"trkview", {"fa.nii", "t.trk", out + ".png", "-s", "65"},
         "\n-s must be a whole number from 1 to 64, not '65'.\n"},
        {"trkview", {"fa.nii", "t.trk", out + ".png", "--slice", "middle"},
         "\n--slice must be a whole number of at least 0, not 'middle'.\n"},
        {"dwiphantom", {out, "-sigma", "-1"}, "\n-sigma must be a number of at least 0, not '-1'.\n"},
        {"dwiphantom", {"-bids", out, "-n", "1000"},
         "\n-n must be a whole number from 1 to 999, not '1000'.\n"},
        // An added option takes its values and no more; programs outside the original three
        // take their positional arguments and no more.
        {"tenscalc", {"raw.nii", out, "-gm", "g.txt", "-fit", "iwls", "3", "4"},
         "\n-fit takes at most 2 values; '4' is one too many.\n"},
        {"trkconvert", {"a.trk", out + ".tck", "stray"}, "\nUnexpected argument 'stray'.\n"},
        {"gradcheck", {"raw.nii", "other.nii", "-gm", "g.txt"},
         "\nUnexpected argument 'other.nii'.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + c.err);
        const auto result = runProgram(c.program, c.args, dir.path());
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.out, "Type '" + c.program + " --help' for more information.\n");
    }
    EXPECT_FALSE(fileExists(out));
    EXPECT_FALSE(fileExists(out + ".nii"));
}

// Options of the original command lines keep their lenient reading: "-b abc" is b = 1000.
TEST(ProgramOptions, OriginalOptionsKeepTheirLenientReading) {
    tenscalctest::Workspace r;
    r.acq.write4d(r.raw);
    ASSERT_EQ(r.run().status, 0);
    const auto plain = r.output("adc").bytes;
    const auto lenient = r.run({"-b", "abc"});
    ASSERT_EQ(lenient.status, 0) << lenient.err;
    EXPECT_EQ(r.output("adc").bytes, plain);
}

TEST(ProgramOptions, TrksmoothAnswersHelpOnStandardOutputAndKeepsItsUsage) {
    const auto usage = runProgram("trksmooth", {});
    for (const std::string word : {"-h", "--help"}) {
        const auto help = runProgram("trksmooth", {word});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.err, "");
        // The help starts with the usage printed without arguments and goes on with the options.
        EXPECT_EQ(help.out.substr(0, usage.err.size()), usage.err);
        EXPECT_NE(help.out.find("\n  --version\n"), std::string::npos);
        EXPECT_NE(help.out.find("DTI_NTHREADS"), std::string::npos);
    }
    EXPECT_EQ(usage.out, "");
    EXPECT_NE(usage.err.find("Usage: trksmooth INPUT_TRACK_FILE STEP_LENGTH OUTPUT_TRACK_FILE"),
              std::string::npos);
}

}  // namespace
