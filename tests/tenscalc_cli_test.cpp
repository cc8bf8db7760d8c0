// The command line of tenscalc: help, refusals, raw data discovery and the settings it settles.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NiftiFileNames.h"
#include "TenscalcCommandLine.h"
#include "TestSupport.h"

using testsupport::runProgram;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const std::string kHint = "Type 'tenscalc --help' for more information.\n";

TEST(TenscalcCli, HelpWithoutArgumentsOrWithDashH) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {"a", "-h", "b"}, {"--help"}}) {
        auto r = runProgram("tenscalc", args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        // Added options follow the help text as it always was; that text is checked alone.
        const std::string added = "Gradient files as FSL and BIDS write them (instead of -gm):\n";
        const size_t extension = r.out.find(added);
        ASSERT_NE(extension, std::string::npos);
        EXPECT_NE(r.out.find("\n  -bvec, --bvecs <filename>\n", extension), std::string::npos);
        r.out.resize(extension);
        EXPECT_EQ(r.out.rfind("\ntenscalc 0.6\n\nUsage: tenscalc RAW_DATA_FILE_NAME "
                              "OUTPUT_FILE_PREFIX [OPTION]...\n\n  -ot, --output_type <type>\n"
                              "          output file type. accepted values are: \n",
                              0),
                  0u);
        EXPECT_NE(r.out.find("\n  -b, --b_value <b_value>\n"), std::string::npos);
        EXPECT_NE(r.out.find("\n  end of image orientation options\n\n  -oc,"), std::string::npos);
        const std::string tail = "Example: \n  tenscalc dtiraw.nii dti -gm dti_hsp_dti60.txt\n\n";
        ASSERT_GE(r.out.size(), tail.size());
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 96);
    }
}

struct UsageCase {
    std::vector<std::string> args;
    std::string message;
    bool hint;
    int status;
};

TEST(TenscalcCli, RefusedCommandLines) {
    TempDir dir;
    const std::string raw = dir.file("raw.nii");
    writeFile(raw, "");
    const std::vector<UsageCase> cases = {
        {{raw, "out", "-zz"}, "\nUnrecognized switch '-zz'.\n", true, 2},
        {{raw, "out", "-gm", "g.txt", "--gradient_matrix=x"},
         "\nUnrecognized switch '--gradient_matrix=x'.\n",
         true,
         2},
        {{raw, "-gm", "g.txt"}, "\nMissing argument(s).\n", true, 2},
        {{raw, "out"}, "\nPlease specify a matrix file with -gm.\n", true, 2},
        {{raw, "out", "-gm"}, "\nMissing argument(s).\n", true, 2},
        {{dir.file("absent.nii"), "out", "-gm", "g.txt"},
         "\nCan not find given raw data file.\n",
         false,
         1},
        {{raw, "out", "-gm", "g.txt", "-ot", "NII"},
         "\nUnrecognized output type 'NII'.\n",
         true,
         2},
        {{raw, "out", "-gm", "g.txt", "-nex", "0"},
         "\nNEX must be equal or greater than 1",
         false,
         2},
        {{raw, "out", "-gm", "g.txt", "-nex", "-3"},
         "\nNEX must be equal or greater than 1",
         false,
         2},
        {{raw, "out", "-gm", "g.txt", "-nex", "two"},
         "\nNEX must be equal or greater than 1",
         false,
         2},
    };
    for (const auto& c : cases) {
        const auto r = runProgram("tenscalc", c.args);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, c.hint ? kHint : "");
        EXPECT_EQ(r.status, c.status);
    }
}

TEST(TenscalcCli, FindsNamedVolumesOnlyWhenTheyExist) {
    TempDir dir;
    for (const char* name : {"a.nii", "b.hdr", "c.img", "d.nii.gz"}) {
        EXPECT_EQ(get_valid_nifti_filename(dir.file(name), 1, 3), "");
        writeFile(dir.file(name), "");
        EXPECT_EQ(get_valid_nifti_filename(dir.file(name), 1, 3), dir.file(name));
    }
}

TEST(TenscalcCli, FindsTheFirstFileOfANumberedSeries) {
    TempDir dir;
    const std::string prefix = dir.file("dwi");
    EXPECT_EQ(get_valid_nifti_filename(prefix, 1, 3), "");
    writeFile(prefix + "001.hdr", "");
    EXPECT_EQ(get_valid_nifti_filename(prefix, 1, 3), prefix + "001.hdr");
    writeFile(prefix + "001.nii.gz", "");
    EXPECT_EQ(get_valid_nifti_filename(prefix, 1, 3), prefix + "001.nii.gz");
    writeFile(prefix + "001.nii", "");
    EXPECT_EQ(get_valid_nifti_filename(prefix, 1, 3), prefix + "001.nii");
    writeFile(prefix + "0000.nii", "");
    EXPECT_EQ(get_valid_nifti_filename(prefix, 0, 4), prefix + "0000.nii");
    // Without a numbered file the bare prefix is tried last.
    writeFile(dir.file("single.nii.gz"), "");
    EXPECT_EQ(get_valid_nifti_filename(dir.file("single"), 1, 3), dir.file("single.nii.gz"));
}

TEST(TenscalcCli, PrefixDropsEndingAndSeriesNumber) {
    EXPECT_EQ(get_nifti_prefix("d/dwi.nii", false, 3), "d/dwi");
    EXPECT_EQ(get_nifti_prefix("d/dwi.nii.gz", false, 3), "d/dwi");
    EXPECT_EQ(get_nifti_prefix("dwi.hdr", false, 3), "dwi");
    EXPECT_EQ(get_nifti_prefix("dwi.img", false, 3), "dwi");
    EXPECT_EQ(get_nifti_prefix("dwi001.nii", true, 3), "dwi");
    EXPECT_EQ(get_nifti_prefix("dwi0001.nii.gz", true, 4), "dwi");
    EXPECT_EQ(get_nifti_prefix("01.nii", true, 5), "");
    EXPECT_EQ(format_series_number(7, 3), "007");
    EXPECT_EQ(format_series_number(12, 0), "12");
}

// Parses a command line in-process and returns the settings (status -1: the run goes on).
int parse(const std::vector<std::string>& words, TenscalcSettings& settings) {
    std::vector<const char*> argv{"tenscalc"};
    for (const auto& w : words) {
        argv.push_back(w.c_str());
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status =
        TenscalcCommandLine::Parse(static_cast<int>(argv.size()), argv.data(), settings)
            .value_or(-1);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return status;
}

TEST(TenscalcCli, SettlesTheRunSettings) {
    TempDir dir;
    writeFile(dir.file("raw.nii"), "");
    const std::string raw = dir.file("raw.nii");
    for (const auto& [prefix, expected] : std::vector<std::pair<std::string, std::string>>{
             {"dti", "dti_"}, {"dti_", "dti_"}, {"dti-", "dti-"}}) {
        TenscalcSettings s;
        ASSERT_EQ(parse({raw, prefix, "-gm", "g.txt"}, s), -1);
        EXPECT_EQ(s.outputPrefix, expected);
        EXPECT_EQ(s.outputEnding, ".nii");
        EXPECT_EQ(s.outputMagic, "n+1");
        EXPECT_EQ(s.bValue, 1000.0);
        EXPECT_EQ(s.nex, 0);
        EXPECT_FALSE(s.tabledBValues);
    }
    TenscalcSettings s;
    ASSERT_EQ(parse({"-b", "-5",  raw,       "o",    "-gm", "g.txt", "true",   "-sn",
                     "0",  "-ot", "analyze", "-nex", "2",   "-b0",   "auto",   "-iop",
                     "1",  "0",   "0",       "0",    "1",   "0",     "-b0_th", "40"},
                    s),
              -1);
    EXPECT_EQ(s.bValue, 1000.0);
    EXPECT_TRUE(s.tabledBValues);
    EXPECT_EQ(s.startNumber, 0);
    EXPECT_EQ(s.outputEnding, ".hdr");
    EXPECT_EQ(s.outputMagic, "");
    EXPECT_TRUE(s.analyzeOutput);
    EXPECT_EQ(s.nex, 2);
    EXPECT_EQ(s.requestedB0, 0);
    EXPECT_EQ(s.iopValues.size(), 6u);
    EXPECT_EQ(s.b0ThresholdValues, 1);
    EXPECT_EQ(s.b0Lower, 40.0);
    EXPECT_EQ(s.b0Upper, 1e12);

    TenscalcSettings negative;
    ASSERT_EQ(
        parse({raw, "o", "-gm", "g.txt", "-sn", "-4", "-b", "1500", "-ot", "nii.gz"}, negative),
        -1);
    EXPECT_EQ(negative.startNumber, 1);
    EXPECT_EQ(negative.bValue, 1500.0);
    EXPECT_EQ(negative.outputEnding, ".nii.gz");
}

}  // namespace
