// The installed toolkit: cmake --install puts every program into a prefix, and each answers
// --version with the toolkit's version; the Debian package holds what a package should.

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

// The package as dpkg sees it: the Slurm profile's status script executable (the scheduler
// runs it), a manual page per program, the copyright file, and the study command under the
// toolkit's name rather than a generic cohort.sh on the system's PATH.
TEST(Install, ThePackageHoldsRunBitsManualPagesAndCopyright) {
    testsupport::TempDir dir;
    const std::string build = DTI_BUILD_DIR;
    const std::string log = " > '" + dir.file("cpack.log") + "' 2>&1";
    ASSERT_EQ(std::system(("cd '" + build + "' && cpack -G DEB -B '" + dir.path() + "'" + log)
                              .c_str()),
              0)
        << testsupport::readFile(dir.file("cpack.log"));
    ASSERT_EQ(std::system(("dpkg-deb -c '" + dir.path() + "'/dtitoolkit_*.deb > '" +
                           dir.file("contents.txt") + "'")
                              .c_str()),
              0);
    const std::string contents = testsupport::readFile(dir.file("contents.txt"));
    // Each line: mode, owner, size, date, time, path.
    const auto modeOf = [&contents](const std::string& path) {
        const size_t at = contents.find("./usr/" + path + "\n");
        if (at == std::string::npos) {
            return std::string("missing");
        }
        return contents.substr(contents.rfind('\n', at) + 1, 10);
    };
    EXPECT_EQ(modeOf("share/dtitoolkit/workflow/profiles/slurm/slurm-status.sh"), "-rwxr-xr-x");
    EXPECT_EQ(modeOf("bin/dti-cohort"), "-rwxr-xr-x");
    EXPECT_EQ(modeOf("bin/cohort.sh"), "missing");
    EXPECT_EQ(modeOf("share/doc/dtitoolkit/copyright").substr(0, 1), "-");
    for (const std::string name : {"tenscalc", "fiberwalk", "trksmooth", "dwiphantom", "trkview",
                                   "gradcheck", "trkconvert", "trkprofile"}) {
        EXPECT_EQ(modeOf("share/man/man1/" + name + ".1.gz").substr(0, 1), "-") << name;
    }
    // The page says what --help says.
    EXPECT_EQ(std::system(("zcat '" + build + "/man/tenscalc.1.gz' | grep -q -- '-bvec'").c_str()),
              0);
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
    const std::string cohort = "cd / && '" + bin + "dti-cohort' '" + study + "' '" + out + "' ";
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
