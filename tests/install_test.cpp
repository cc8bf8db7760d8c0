// The installed toolkit: cmake --install puts every program into a prefix, and each answers
// --version with the toolkit's version.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"

namespace {

TEST(Install, ProgramsAreInstalledAndAnswerWithTheToolkitVersion) {
    testsupport::TempDir dir;
    const std::string build = std::string(DTI_BIN_DIR) + "/..";
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

}  // namespace
