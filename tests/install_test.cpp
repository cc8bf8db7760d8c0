// The installed toolkit: cmake --install puts every program into a prefix, and each answers
// --version with the toolkit's version.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"

namespace {

TEST(Install, ProgramsAreInstalledAndAnswerWithTheToolkitVersion) {
    testsupport::TempDir dir;
    const std::string build = DTI_BUILD_DIR;
    const std::string command = "cmake --install '" + build + "' --prefix '" + dir.path() +
                                "' > '" + dir.file("install.log") + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << testsupport::readFile(dir.file("install.log"));
    for (const std::string name :
         {"tenscalc", "fiberwalk", "trksmooth", "dwiphantom", "trkview", "gradcheck"}) {
        SCOPED_TRACE(name);
        const std::string installed = dir.file("bin/" + name);
        ASSERT_TRUE(testsupport::fileExists(installed));
        const std::string output = dir.file(name + ".out");
        ASSERT_EQ(std::system(("'" + installed + "' --version > '" + output + "'").c_str()), 0);
        EXPECT_EQ(testsupport::readFile(output),
                  name + " (dtitoolkit) " + std::string(DTI_TOOLKIT_VERSION) + "\n");
    }
}

TEST(Install, TheInstalledCohortCommandRunsAStudy) {
    if (std::system("command -v snakemake > /dev/null") != 0) {
        GTEST_SKIP() << "snakemake is not installed";
    }
    testsupport::TempDir dir;
    const std::string build = DTI_BUILD_DIR;
    ASSERT_EQ(std::system(("cmake --install '" + build + "' --prefix '" + dir.file("prefix") +
                           "' > /dev/null 2>&1")
                              .c_str()),
              0);
    const std::string bin = dir.file("prefix/bin/");
    ASSERT_TRUE(testsupport::fileExists(dir.file("prefix/share/dtitoolkit/workflow/Snakefile")));
    const std::string study = dir.file("study");
    const std::string out = dir.file("out");
    const std::string log = " > '" + dir.file("run.log") + "' 2>&1";
    ASSERT_EQ(std::system(("'" + bin + "dwiphantom' -bids '" + study + "' -n 1" + log).c_str()), 0);
    // Run from elsewhere, so that nothing of the build or the repository is found by accident.
    const std::string cohort = "cd / && '" + bin + "cohort.sh' '" + study + "' '" + out + "' ";
    ASSERT_EQ(std::system((cohort + "participant --cores 2" + log).c_str()), 0)
        << testsupport::readFile(dir.file("run.log"));
    ASSERT_EQ(std::system((cohort + "group" + log).c_str()), 0);
    const std::string summary = testsupport::readFile(out + "/group/summary.tsv");
    EXPECT_NE(summary.find("sub-01\tn/a\t"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\tright\tok\t"), std::string::npos) << summary;
    EXPECT_NE(testsupport::readFile(out + "/dataset_description.json")
                  .find("\"Version\": \"" + std::string(DTI_TOOLKIT_VERSION) + "\""),
              std::string::npos);
}

}  // namespace
