// trkconvert between .trk and MRtrix3's .tck, checked with readers that no one here wrote:
// nibabel for the world position of every point, MRtrix3's own tools for the file itself.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;
using testsupport::writeFile;

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveMrtrix() {
    return shell("command -v tckinfo > /dev/null 2>&1") == 0;
}

// nibabel's world points of two track files, point by point; prints the count, the largest
// distance and the mean track length of the first.
constexpr const char* kSameWorld = R"(
import sys
import numpy as np
import nibabel as nib

a = nib.streamlines.load(sys.argv[1]).streamlines
b = nib.streamlines.load(sys.argv[2]).streamlines
assert len(a) == len(b), "%d tracks against %d" % (len(a), len(b))
worst = max((np.abs(x - y).max() for x, y in zip(a, b)), default=0.0)
lengths = [np.linalg.norm(np.diff(x, axis=0), axis=1).sum() for x in a]
print(len(a), worst, np.mean(lengths))
sys.exit(0 if worst <= float(sys.argv[3]) else 1)
)";

struct Comparison {
    bool same = false;
    int tracks = 0;
    double worst = 0.0;
    double meanLength = 0.0;
    std::string log;
};

Comparison sameWorld(const TempDir& dir, const std::string& a, const std::string& b,
                     double tolerance) {
    writeFile(dir.file("same_world.py"), kSameWorld);
    const std::string log = dir.file("same_world.log");
    Comparison result;
    result.same = shell("/usr/bin/python3 '" + dir.file("same_world.py") + "' '" + a + "' '" + b +
                        "' " + std::to_string(tolerance) + " > '" + log + "' 2>&1") == 0;
    result.log = readFile(log);
    std::sscanf(result.log.c_str(), "%d %lf %lf", &result.tracks, &result.worst,
                &result.meanLength);
    return result;
}

// The tracks of a phantom run: stored as the tracker's .info says (no header orientation), or
// with a header of x stored right to left, or with oblique voxel axes.
class TrackConversion : public ::testing::TestWithParam<std::vector<std::string>> {
  protected:
    void SetUp() override {
        std::vector<std::string> phantom = {dir_.file("p"), "-sigma", "5"};
        phantom.insert(phantom.end(), GetParam().begin(), GetParam().end());
        ASSERT_EQ(runProgram("dwiphantom", phantom).status, 0);
        std::vector<std::string> fit = {dir_.file("p.nii"), dir_.file("t")};
        if (GetParam().empty()) {
            fit.insert(fit.end(), {"-gm", dir_.file("p_grad.txt")});
        } else {
            fit.insert(fit.end(), {"-bvec", dir_.file("p.bvec"), "-bval", dir_.file("p.bval")});
        }
        ASSERT_EQ(runProgram("tenscalc", fit).status, 0);
        ASSERT_EQ(runProgram("fiberwalk", {dir_.file("t"), trk(), "-m", dir_.file("t_fa.nii"),
                                           "0.2", "1.1"})
                      .status,
                  0);
    }
    std::string trk() const { return dir_.file("tracks.trk"); }

    TempDir dir_;
};

TEST_P(TrackConversion, TrkAndTckHoldTheSameWorldPointsForNibabel) {
    const std::string tck = dir_.file("tracks.tck");
    const auto out = runProgram("trkconvert", {trk(), tck});
    ASSERT_EQ(out.status, 0) << out.err;
    const Comparison world = sameWorld(dir_, trk(), tck, 1e-4);
    EXPECT_TRUE(world.same) << world.log;
    EXPECT_GT(world.tracks, 100);
    EXPECT_EQ(out.out, "Converted " + std::to_string(world.tracks) + " tracks from " + trk() +
                           " to " + tck + "\n");

    // Back onto the grid of the run's FA map: the same world points, to float rounding.
    const std::string back = dir_.file("back.trk");
    ASSERT_EQ(runProgram("trkconvert", {tck, back, "-ref", dir_.file("t_fa.nii")}).status, 0);
    const Comparison again = sameWorld(dir_, trk(), back, 1e-3);
    EXPECT_TRUE(again.same) << again.log;

    if (!haveMrtrix()) {
        return;
    }
    // MRtrix3 reads the count and the lengths nibabel sees.
    ASSERT_EQ(shell("tckinfo '" + tck + "' > '" + dir_.file("info.txt") + "' 2>&1"), 0);
    EXPECT_NE(readFile(dir_.file("info.txt")).find("count:                " +
                                                   std::to_string(world.tracks) + "\n"),
              std::string::npos)
        << readFile(dir_.file("info.txt"));
    ASSERT_EQ(shell("tckstats -quiet -output mean '" + tck + "' > '" + dir_.file("mean.txt") +
                    "' 2>/dev/null"),
              0);
    EXPECT_NEAR(std::stod(readFile(dir_.file("mean.txt"))), world.meanLength, 1e-3);
    // A .tck that MRtrix3 writes itself (its own header keys, count and end) reads back to the
    // same points. (This MRtrix3's VTK writer has no binary form, which its VTK reader needs.)
    ASSERT_EQ(shell("tckedit -quiet '" + tck + "' '" + dir_.file("m.tck") + "'"), 0);
    ASSERT_EQ(runProgram("trkconvert",
                         {dir_.file("m.tck"), dir_.file("m.trk"), "-ref", dir_.file("t_fa.nii")})
                  .status,
              0);
    const Comparison mrtrix = sameWorld(dir_, trk(), dir_.file("m.trk"), 1e-3);
    EXPECT_TRUE(mrtrix.same) << mrtrix.log;
}

INSTANTIATE_TEST_SUITE_P(Storage, TrackConversion,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"-las"},
                                           std::vector<std::string>{"-oblique"}));

// A small .tck written by hand: header lines, then the floats.
std::string tckFile(const std::string& keys, const std::vector<float>& values) {
    std::string header = "mrtrix tracks\n" + keys;
    std::string text = header + "file: . 200\nEND\n";
    text.resize(200, '\0');
    std::string data(values.size() * sizeof(float), '\0');
    std::memcpy(&data[0], values.data(), data.size());
    return text + data;
}

TEST(TrackConversion, DamagedTckFilesStopWithTheFileAndTheReason) {
    TempDir dir;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> twoTracks = {0, 0, 0, 1, 0, 0, nan, nan, nan,
                                          0, 1, 0, 0, 2, 0, nan, nan, nan, inf, inf, inf};
    const std::string keys = "datatype: Float32LE\ncount: 2\n";
    struct Case {
        std::string name;
        std::string bytes;
        std::string reason;  // empty: the file reads
    };
    std::string cut = tckFile(keys, twoTracks);
    cut.resize(cut.size() - 14);
    const std::vector<Case> cases = {
        {"good.tck", tckFile(keys, twoTracks), ""},
        // Other writers: extra keys, padded count, no end triplet when the count says so.
        {"other.tck",
         tckFile("timestamp: 1.5\ndatatype: Float32LE\ncount: 0000000002\nroi: seed x\n",
                 std::vector<float>(twoTracks.begin(), twoTracks.end() - 3)),
         ""},
        {"cut.tck", cut, "the data is cut inside a point of track 2"},
        {"more.tck", tckFile("datatype: Float32LE\ncount: 3\n", twoTracks),
         "the header counts 3 tracks but the data holds 2"},
        {"offset.tck",
         "mrtrix tracks\ndatatype: Float32LE\ncount: 1\nfile: . 999999999\nEND\n",
         "the data offset 999999999 is not in the file of"},
        {"type.tck", tckFile("datatype: Float64LE\ncount: 2\n", twoTracks),
         "datatype 'Float64LE' is not Float32LE or Float32BE"},
        {"noend.tck", "mrtrix tracks\ndatatype: Float32LE\n", "the header ends without END"},
        {"hello.tck", "hello\n", "not a track file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = dir.file(c.name);
        writeFile(in, c.bytes);
        const auto result = runProgram("trkconvert", {in, dir.file(c.name + "_copy.tck")});
        if (c.reason.empty()) {
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_NE(result.out.find("Converted 2 tracks"), std::string::npos);
            continue;
        }
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find(in + ": " + c.reason), std::string::npos) << result.err;
        EXPECT_FALSE(fileExists(dir.file(c.name + "_copy.tck")));
    }
}

TEST(TrackConversion, WhatAFormatCannotHoldIsRefused) {
    TempDir dir;
    writeFile(dir.file("a.tck"), tckFile("datatype: Float32LE\ncount: 0\n",
                                         {std::numeric_limits<float>::infinity(),
                                          std::numeric_limits<float>::infinity(),
                                          std::numeric_limits<float>::infinity()}));
    const auto noGrid = runProgram("trkconvert", {dir.file("a.tck"), dir.file("a.trk")});
    EXPECT_EQ(noGrid.status, 1);
    EXPECT_NE(noGrid.err.find("a .tck file has no grid: give the image the tracks lie on with "
                              "-ref"),
              std::string::npos);
    EXPECT_FALSE(fileExists(dir.file("a.trk")));

    // The phantom's true bundles carry no values; a track file with scalars does.
    ASSERT_EQ(runProgram("dwiphantom", {dir.file("p")}).status, 0);
    const std::string withScalars = dir.file("s.trk");
    std::string bytes = readFile(dir.file("p_truth_bundles.trk"));
    ASSERT_GT(bytes.size(), 1000U);
    const short one = 1;
    std::memcpy(&bytes[36], &one, 2);  // scalar_count: every point then has 4 floats
    writeFile(withScalars, bytes.substr(0, 1000));
    const auto scalars = runProgram("trkconvert", {withScalars, dir.file("s.tck")});
    EXPECT_EQ(scalars.status, 1);
    EXPECT_NE(scalars.err.find("which a .tck file cannot hold"), std::string::npos) << scalars.err;
}

}  // namespace
