// Tests of the synthetic phantom: its files, reproducible noise, and agreement between the
// gradient table, the simulated signal and the ground truth.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "CMyCmdParser.h"
#include "PhantomSettings.h"
#include "PhantomTruth.h"
#include "SwitchTableCheck.h"
#include "TestSupport.h"

using namespace phantomtruth;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;

namespace {

constexpr double kAxial = 1.7e-3;
constexpr double kRadial = 0.35e-3;
constexpr double kB = 1000.0;

class SmallPhantom : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        const auto noisy = runProgram("dwiphantom", {dir_->file("noisy")});
        ASSERT_EQ(noisy.status, 0) << noisy.err;
        const auto clean = runProgram("dwiphantom", {dir_->file("clean"), "-sigma", "0"});
        ASSERT_EQ(clean.status, 0) << clean.err;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string file(const std::string& name) { return dir_->file(name); }

    static TempDir* dir_;
};

TempDir* SmallPhantom::dir_ = nullptr;

// Voxel-frame direction of a table row: the table lists (gx, -gy, -gz).
Point VoxelFrame(const Point& row) {
    const double n = std::sqrt(row[0] * row[0] + row[1] * row[1] + row[2] * row[2]);
    return {row[0] / n, -row[1] / n, -row[2] / n};
}

}  // namespace

TEST_F(SmallPhantom, WritesVolumesOfTheSmallGeometry) {
    const Volume dwi = ReadVolume(file("noisy.nii"));
    EXPECT_EQ(dwi.dims[0], 4);
    EXPECT_EQ(dwi.dims[1], 32);
    EXPECT_EQ(dwi.dims[2], 32);
    EXPECT_EQ(dwi.dims[3], 20);
    EXPECT_EQ(dwi.dims[4], 65);
    EXPECT_EQ(dwi.datatype, DT_INT16);
    for (int a = 1; a <= 3; ++a) {
        EXPECT_FLOAT_EQ(dwi.pixdim[a], 2.0f);
    }

    const Volume fa = ReadVolume(file("noisy_truth_fa.nii"));
    EXPECT_EQ(fa.datatype, DT_FLOAT32);
    EXPECT_EQ(fa.values.size(), 32u * 32u * 20u);
    const Volume v1 = ReadVolume(file("noisy_truth_v1.nii"));
    EXPECT_EQ(v1.datatype, DT_FLOAT32);
    EXPECT_EQ(v1.dims[4], 3);
    const Volume wm = ReadVolume(file("noisy_truth_wm.nii"));
    EXPECT_EQ(wm.datatype, DT_INT16);

    // The info file gives tenscalc and fiberwalk the axial orientation explicitly.
    const std::string info = readFile(file("noisy.info"));
    EXPECT_EQ(info.rfind("\xEF\xBB\xBF<?xml", 0), 0u);
    EXPECT_NE(info.find("1.000000, 0.000000, 0.000000, 0.000000, 1.000000, 0.000000"),
              std::string::npos);
}

TEST_F(SmallPhantom, NoiseIsReproducibleAndSeedDependent) {
    TempDir other;
    ASSERT_EQ(runProgram("dwiphantom", {other.file("again")}).status, 0);
    ASSERT_EQ(runProgram("dwiphantom", {other.file("seeded"), "-seed", "7"}).status, 0);
    const std::string first = readFile(file("noisy.nii"));
    EXPECT_EQ(first, readFile(other.file("again.nii")));
    EXPECT_NE(first, readFile(other.file("seeded.nii")));
}

TEST_F(SmallPhantom, GradientTableHasOneB0AndSixtyFourSpreadDirections) {
    const std::vector<Point> rows = ReadGradientTable(file("noisy_grad.txt"));
    ASSERT_EQ(rows.size(), 65u);
    EXPECT_EQ(rows[0], (Point{0.0, 0.0, 0.0}));
    double smallestAngle = 180.0;
    for (size_t i = 1; i < rows.size(); ++i) {
        const double n =
            std::sqrt(rows[i][0] * rows[i][0] + rows[i][1] * rows[i][1] + rows[i][2] * rows[i][2]);
        EXPECT_NEAR(n, 1.0, 2e-6) << "row " << i;
        for (size_t j = 1; j < i; ++j) {
            const Point a = VoxelFrame(rows[i]);
            const Point b = VoxelFrame(rows[j]);
            const double c = std::fabs(a[0] * b[0] + a[1] * b[1] + a[2] * b[2]);
            smallestAngle = std::min(smallestAngle, std::acos(std::min(c, 1.0)) * 180.0 / M_PI);
        }
    }
    // 64 directions evenly spread over the half sphere lie about 18 degrees apart; clustered
    // or antipodal duplicates would come far below this.
    EXPECT_GT(smallestAngle, 10.0);
}

TEST_F(SmallPhantom, NoiseFreeFibreSignalFollowsTableAndTrueDirection) {
    const Volume dwi = ReadVolume(file("clean.nii"));
    const Volume v1 = ReadVolume(file("clean_truth_v1.nii"));
    const Volume wm = ReadVolume(file("clean_truth_wm.nii"));
    const std::vector<Point> rows = ReadGradientTable(file("clean_grad.txt"));
    ASSERT_EQ(rows.size(), 65u);

    int checked[3] = {0, 0, 0};
    for (size_t p = 0; p < wm.voxels(); ++p) {
        const int label = static_cast<int>(wm.at(p));
        if (label < 1 || label > 3) {
            continue;
        }
        ++checked[label - 1];
        const Point e{v1.at(p, 0), v1.at(p, 1), v1.at(p, 2)};
        ASSERT_NEAR(std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]), 1.0, 1e-5);
        const double s0 = dwi.at(p, 0);
        EXPECT_EQ(s0, 900.0);
        for (int t = 1; t < 65; ++t) {
            const Point g = VoxelFrame(rows[t]);
            const double c = e[0] * g[0] + e[1] * g[1] + e[2] * g[2];
            const double expected = s0 * std::exp(-kB * (kRadial + (kAxial - kRadial) * c * c));
            ASSERT_NEAR(dwi.at(p, t), expected, 0.51) << "voxel " << p << " volume " << t;
        }
    }
    // Every single-fibre bundle is present with a real cross-section.
    EXPECT_GT(checked[0], 50);
    EXPECT_GT(checked[1], 50);
    EXPECT_GT(checked[2], 50);
}

TEST_F(SmallPhantom, TruthMapsDescribeTheTissues) {
    const Volume fa = ReadVolume(file("noisy_truth_fa.nii"));
    const Volume wm = ReadVolume(file("noisy_truth_wm.nii"));
    const Volume dwi = ReadVolume(file("clean.nii"));
    const double fibreFa = FractionalAnisotropy(kAxial, kRadial, kRadial);
    int overlap = 0;
    int brain = 0;
    int csf = 0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        const int label = static_cast<int>(wm.at(p));
        if (label >= 1 && label <= 3) {
            EXPECT_NEAR(fa.at(p), fibreFa, 1e-6);
        } else if (label == 4) {
            ++overlap;
            // Mean of two perpendicular fibre tensors: an oblate tensor.
            const double half = 0.5 * (kAxial + kRadial);
            EXPECT_NEAR(fa.at(p), FractionalAnisotropy(half, half, kRadial), 1e-6);
        } else {
            EXPECT_EQ(fa.at(p), 0.0);
            // Brain voxels at the surface are partly background, which scales b0 and the
            // diffusion-weighted signal alike.
            const double b0 = dwi.at(p, 0);
            brain += b0 == 1000.0;
            csf += b0 == 1800.0;
            if (b0 == 1800.0) {
                EXPECT_NEAR(dwi.at(p, 1), 1800.0 * std::exp(-3.0), 0.51);
            } else {
                EXPECT_LE(b0, 1000.0);
                EXPECT_GE(b0, 0.0);
                EXPECT_NEAR(dwi.at(p, 1), b0 * std::exp(-0.8), 0.75);
            }
        }
    }
    EXPECT_GT(overlap, 0);
    EXPECT_GT(brain, 1000);
    EXPECT_GT(csf, 50);
}

TEST_F(SmallPhantom, CentreLinesRunInsideTheirLabelledBundles) {
    const Volume wm = ReadVolume(file("noisy_truth_wm.nii"));
    const std::vector<Bundle> bundles = ReadBundles(file("noisy_truth_bundles.txt"));
    ASSERT_EQ(bundles.size(), 3u);
    for (const Bundle& bundle : bundles) {
        ASSERT_GE(bundle.line.size(), 2u) << bundle.name;
        EXPECT_GT(bundle.radius, 2.0) << bundle.name;
        for (const Point& q : bundle.line) {
            const int i = static_cast<int>(std::floor(q[0] / 2.0));
            const int j = static_cast<int>(std::floor(q[1] / 2.0));
            const int k = static_cast<int>(std::floor(q[2] / 2.0));
            ASSERT_TRUE(i >= 0 && i < 32 && j >= 0 && j < 32 && k >= 0 && k < 20);
            const int label = static_cast<int>(wm.at(i + 32 * (j + 32 * k)));
            EXPECT_TRUE(label == bundle.label || label == 4)
                << bundle.name << " at " << q[0] << " " << q[1] << " " << q[2];
        }
    }
    const std::vector<Polyline> tracks = ReadTracks(file("noisy_truth_bundles.trk"));
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(tracks[1].size(), bundles[1].line.size());
}

TEST_F(SmallPhantom, BackgroundCarriesRicianNoise) {
    const Volume dwi = ReadVolume(file("noisy.nii"));
    const Volume clean = ReadVolume(file("clean.nii"));
    double sum = 0.0;
    int count = 0;
    for (size_t p = 0; p < dwi.voxels(); ++p) {
        if (clean.at(p, 0) == 0.0) {
            sum += dwi.at(p, 0);
            ++count;
        }
    }
    ASSERT_GT(count, 1000);
    // The magnitude of zero signal plus complex Gaussian noise (sigma 20) is Rayleigh
    // distributed with mean sigma * sqrt(pi / 2), about 25.07.
    EXPECT_NEAR(sum / count, 20.0 * std::sqrt(M_PI / 2.0), 1.0);
}

TEST_F(SmallPhantom, ZeroBackgroundLeavesOnlyTheHeadNoisy) {
    ASSERT_EQ(runProgram("dwiphantom", {file("quiet"), "-zb"}).status, 0);
    const Volume quiet = ReadVolume(file("quiet.nii"));
    const Volume clean = ReadVolume(file("clean.nii"));
    size_t background = 0;
    for (size_t p = 0; p < quiet.voxels(); ++p) {
        if (clean.at(p, 0) == 0.0) {
            ++background;
            EXPECT_EQ(quiet.at(p, 0), 0.0) << p;
        }
    }
    EXPECT_GT(background, 1000u);
    // The head keeps its noise.
    size_t noisyInside = 0, inside = 0;
    for (size_t p = 0; p < quiet.voxels(); ++p) {
        if (clean.at(p, 0) != 0.0) {
            ++inside;
            noisyInside += quiet.at(p, 0) != clean.at(p, 0);
        }
    }
    EXPECT_GT(noisyInside, inside / 2);
}

TEST(DwiphantomCommandLine, RejectsUnknownSizeAndUnwritablePrefix) {
    TempDir dir;
    const auto badSize = runProgram("dwiphantom", {dir.file("p"), "-s", "huge"});
    EXPECT_EQ(badSize.status, 2);
    EXPECT_NE(badSize.err.find("Unrecognized size 'huge'."), std::string::npos);
    EXPECT_FALSE(testsupport::fileExists(dir.file("p.nii")));

    testsupport::writeFile(dir.file("plainfile"), "x");
    const auto unwritable = runProgram("dwiphantom", {dir.file("plainfile/p")});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("Can not write file"), std::string::npos);

    const auto help = runProgram("dwiphantom", {});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: dwiphantom OUTPUT_PREFIX"), std::string::npos);
}

namespace {


}  // namespace

TEST(DwiphantomSwitches, EveryEntryParsesInBothSpellingsAndTheHelpListsExactlyTheTable) {
    const auto help = runProgram("dwiphantom", {"--help"});
    ASSERT_EQ(help.status, 0);
    expectSwitchTableHolds(PhantomSettings::Switches(), help.out, {"out/p"});
}

TEST(DwiphantomSwitches, SettingsFollowBothSpellings) {
    using Words = std::vector<const char*>;
    const Words shortWords = {"dwiphantom", "p.nii",  "-s",  "medium", "-seed",
                              "7",          "-sigma", "2.5", "-zb"};
    const Words longWords = {"dwiphantom", "p.nii",   "--size", "medium",           "--seed",
                             "7",          "--sigma", "2.5",    "--zero_background"};
    for (const Words& words : {shortWords, longWords}) {
        const int argc = static_cast<int>(words.size());
        const CMyCmdParser parser(argc, words.data());
        PhantomSettings settings;
        ASSERT_FALSE(PhantomSettings::FromCommandLine(argc, parser, &settings).has_value());
        EXPECT_EQ(settings.prefix, "p");
        EXPECT_EQ(settings.dims, (std::array<int, 3>{96, 96, 60}));
        EXPECT_EQ(settings.seed, 7u);
        EXPECT_EQ(settings.sigma, 2.5);
        EXPECT_TRUE(settings.zeroBackground);
    }
    const Words bare = {"dwiphantom", "p"};
    const CMyCmdParser parser(2, bare.data());
    PhantomSettings settings;
    ASSERT_FALSE(PhantomSettings::FromCommandLine(2, parser, &settings).has_value());
    EXPECT_EQ(settings.prefix, "p");
    EXPECT_EQ(settings.dims, (std::array<int, 3>{32, 32, 20}));
    EXPECT_EQ(settings.seed, PhantomSettings::kDefaultSeed);
    EXPECT_EQ(settings.sigma, PhantomSettings::kDefaultSigma);
    EXPECT_FALSE(settings.zeroBackground);
}
