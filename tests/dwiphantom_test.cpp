// Tests of the synthetic phantom: its files, reproducible noise, and agreement between the
// gradient table, the simulated signal and the ground truth.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "GradientScheme.h"
#include "ImageInfoParser.h"
#include "ImageOrientation.h"
#include "NiftiIO.h"
#include "OwnedHandles.h"
#include "OwnedNiftiImage.h"
#include "PhantomSettings.h"
#include "PhantomTruth.h"
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
    EXPECT_EQ(badSize.err, "\n-s must be one of small, medium, large, not 'huge'.\n");
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

TEST(DwiphantomSwitches, SettingsFollowBothSpellings) {
    using Words = std::vector<const char*>;
    const Words shortWords = {"dwiphantom", "p.nii",  "-s",  "medium", "-seed",
                              "7",          "-sigma", "2.5", "-zb"};
    const Words longWords = {"dwiphantom", "p.nii",   "--size", "medium",           "--seed",
                             "7",          "--sigma", "2.5",    "--zero_background"};
    for (const Words& words : {shortWords, longWords}) {
        const int argc = static_cast<int>(words.size());
        PhantomSettings settings;
        ASSERT_FALSE(PhantomSettings::FromCommandLine(argc, words.data(), &settings).has_value());
        EXPECT_EQ(settings.prefix, "p");
        EXPECT_EQ(settings.dims, (std::array<int, 3>{96, 96, 60}));
        EXPECT_EQ(settings.seed, 7u);
        EXPECT_EQ(settings.sigma, 2.5);
        EXPECT_TRUE(settings.zeroBackground);
    }
    const Words bare = {"dwiphantom", "p"};
    PhantomSettings settings;
    ASSERT_FALSE(PhantomSettings::FromCommandLine(2, bare.data(), &settings).has_value());
    EXPECT_EQ(settings.prefix, "p");
    EXPECT_EQ(settings.dims, (std::array<int, 3>{32, 32, 20}));
    EXPECT_EQ(settings.seed, PhantomSettings::kDefaultSeed);
    EXPECT_EQ(settings.sigma, PhantomSettings::kDefaultSigma);
    EXPECT_FALSE(settings.zeroBackground);
}

TEST(DwiphantomSwitches, HeaderSwitchesFollowBothSpellings) {
    using Words = std::vector<const char*>;
    for (const Words& words : {Words{"dwiphantom", "p", "-las", "-oblique"},
                               Words{"dwiphantom", "p", "--las", "--oblique"}}) {
        const int argc = static_cast<int>(words.size());
        PhantomSettings settings;
        ASSERT_FALSE(PhantomSettings::FromCommandLine(argc, words.data(), &settings).has_value());
        EXPECT_TRUE(settings.las);
        EXPECT_TRUE(settings.oblique);
    }
    const Words bare = {"dwiphantom", "p"};
    PhantomSettings settings;
    ASSERT_FALSE(PhantomSettings::FromCommandLine(2, bare.data(), &settings).has_value());
    EXPECT_FALSE(settings.las);
    EXPECT_FALSE(settings.oblique);
}

namespace {

constexpr int kVolumes = 65;

using Matrix3 = std::array<std::array<double, 3>, 3>;

// One acquisition per header the program can write.
struct HeaderCase {
    const char* name;
    std::vector<std::string> switches;
    bool negativeDeterminant;  // what the header declares, and so whether FSL leaves x alone
};

const std::vector<HeaderCase>& headerCases() {
    static const std::vector<HeaderCase> cases = {
        {"plain", {}, false},
        {"las", {"-las"}, true},
        {"oblique", {"-oblique"}, false},
        {"las_oblique", {"-las", "-oblique"}, true},
    };
    return cases;
}

class HeaderPhantoms : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        for (const HeaderCase& header : headerCases()) {
            std::vector<std::string> args = {dir_->file(header.name)};
            args.insert(args.end(), header.switches.begin(), header.switches.end());
            const auto run = runProgram("dwiphantom", args);
            ASSERT_EQ(run.status, 0) << header.name << ": " << run.err;
        }
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::string file(const std::string& name) { return dir_->file(name); }

    static std::unique_ptr<TempDir> dir_;
};

std::unique_ptr<TempDir> HeaderPhantoms::dir_;

// The numbers of every line of a text file, blank lines skipped.
std::vector<std::vector<double>> readNumberLines(const std::string& path) {
    std::istringstream lines(readFile(path));
    std::vector<std::vector<double>> rows;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<double> row;
        std::string word;
        while (words >> word) {
            char* end = nullptr;
            row.push_back(std::strtod(word.c_str(), &end));
            EXPECT_EQ(*end, '\0') << path << ": '" << word << "' is not a number";
        }
        if (!row.empty()) {
            rows.push_back(row);
        }
    }
    return rows;
}

Matrix3 upperLeft(const mat44& m) {
    Matrix3 out{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            out[r][c] = m.m[r][c];
        }
    }
    return out;
}

double determinant(const Matrix3& m) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// The same determinant as nifticlib computes it.
float nifticlibDeterminant(const mat44& m) {
    mat33 r{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r.m[i][j] = m.m[i][j];
        }
    }
    return nifti_mat33_determ(r);
}

OwnedNiftiImage readHeader(const std::string& path) {
    OwnedNiftiImage image(nifti_image_read(path.c_str(), 0));
    EXPECT_TRUE(image) << "cannot read " << path;
    return image;
}

// FSL's rule: the sform when it is set, else the qform, else the header counts as positive.
bool fslNegatesX(const nifti_image& image) {
    if (image.sform_code > 0) {
        return determinant(upperLeft(image.sto_xyz)) > 0.0;
    }
    if (image.qform_code > 0) {
        return determinant(upperLeft(image.qto_xyz)) > 0.0;
    }
    return true;
}

// The transform tenscalc -gm applies to a tabled direction: orientation from the header's
// quaternion form when it has one, else from the .info file, without oblique correction.
bool tenscalcTransform(const std::string& prefix, double m[3][3]) {
    float orientation[6];
    int sliceDirection = 0;
    if (!NiftiIO::GetOrientationInfo(prefix + ".nii", orientation, &sliceDirection)) {
        ImageInfoParser info;
        if (!info.Open(prefix + ".info") || !info.GetImageOrientation(orientation)) {
            return false;
        }
    }
    return ImageOrientation::GetImageOrientationTransformationMatrix(orientation, m, false);
}

}  // namespace

TEST_F(HeaderPhantoms, FslFilesListEveryVolumeInTheirLayout) {
    for (const HeaderCase& header : headerCases()) {
        SCOPED_TRACE(header.name);
        const OwnedNiftiImage image = readHeader(file(header.name) + ".nii");
        ASSERT_TRUE(image);
        const size_t volumes = static_cast<size_t>(image->dim[4]);
        EXPECT_EQ(volumes, static_cast<size_t>(kVolumes));

        const auto bval = readNumberLines(file(header.name) + ".bval");
        ASSERT_EQ(bval.size(), 1u);
        ASSERT_EQ(bval[0].size(), volumes);
        EXPECT_EQ(bval[0][0], 0.0);
        for (size_t v = 1; v < volumes; ++v) {
            EXPECT_EQ(bval[0][v], 1000.0) << "volume " << v;
        }

        const auto bvec = readNumberLines(file(header.name) + ".bvec");
        ASSERT_EQ(bvec.size(), 3u);
        for (int axis = 0; axis < 3; ++axis) {
            ASSERT_EQ(bvec[axis].size(), volumes) << "row " << axis;
            EXPECT_EQ(bvec[axis][0], 0.0) << "row " << axis;
        }
        for (size_t v = 1; v < volumes; ++v) {
            const double n = std::sqrt(bvec[0][v] * bvec[0][v] + bvec[1][v] * bvec[1][v] +
                                       bvec[2][v] * bvec[2][v]);
            EXPECT_NEAR(n, 1.0, 1e-12) << "volume " << v;
        }
    }
}

TEST_F(HeaderPhantoms, BvecHoldsTheSimulatedVoxelDirectionsWithXSignedByTheHeader) {
    const GradientScheme scheme(kVolumes - 1);
    for (const HeaderCase& header : headerCases()) {
        SCOPED_TRACE(header.name);
        const OwnedNiftiImage image = readHeader(file(header.name) + ".nii");
        ASSERT_TRUE(image);
        const bool negated = fslNegatesX(*image);
        EXPECT_EQ(negated, !header.negativeDeterminant);
        const auto bvec = readNumberLines(file(header.name) + ".bvec");
        ASSERT_EQ(bvec.size(), 3u);
        ASSERT_EQ(bvec[0].size(), scheme.directions().size() + 1);
        for (size_t i = 0; i < scheme.directions().size(); ++i) {
            const Vec3& d = scheme.directions()[i];
            // Printed to the last bit, so the values come back exactly.
            EXPECT_EQ(negated ? -bvec[0][i + 1] : bvec[0][i + 1], d[0]) << "direction " << i;
            EXPECT_EQ(bvec[1][i + 1], d[1]) << "direction " << i;
            EXPECT_EQ(bvec[2][i + 1], d[2]) << "direction " << i;
        }
    }
}

TEST_F(HeaderPhantoms, PlainHeaderHasNoOrientation) {
    const OwnedNiftiImage image = readHeader(file("plain.nii"));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->qform_code, 0);
    EXPECT_EQ(image->sform_code, 0);
}

TEST_F(HeaderPhantoms, HeadersDeclareCentredMatricesOfTheAskedHandedness) {
    for (const HeaderCase& header : headerCases()) {
        if (header.switches.empty()) {
            continue;
        }
        SCOPED_TRACE(header.name);
        const OwnedNiftiImage image = readHeader(file(header.name) + ".nii");
        ASSERT_TRUE(image);
        EXPECT_EQ(image->sform_code, 1);
        EXPECT_EQ(image->qform_code, 1);
        const Matrix3 s = upperLeft(image->sto_xyz);
        const Matrix3 q = upperLeft(image->qto_xyz);
        if (header.negativeDeterminant) {
            EXPECT_LT(determinant(s), 0.0);
            EXPECT_LT(determinant(q), 0.0);
            EXPECT_LT(nifticlibDeterminant(image->sto_xyz), 0.0f);
            EXPECT_LT(nifticlibDeterminant(image->qto_xyz), 0.0f);
            EXPECT_EQ(image->qfac, -1.0f);
        } else {
            EXPECT_GT(determinant(s), 0.0);
            EXPECT_GT(determinant(q), 0.0);
            EXPECT_GT(nifticlibDeterminant(image->sto_xyz), 0.0f);
            EXPECT_GT(nifticlibDeterminant(image->qto_xyz), 0.0f);
            EXPECT_EQ(image->qfac, 1.0f);
        }
        // 2 mm voxel axes at right angles, the same in both forms.
        EXPECT_NEAR(std::fabs(determinant(s)), 8.0, 1e-4);
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(image->pixdim[a + 1], 2.0, 1e-5);
            for (int r = 0; r < 3; ++r) {
                EXPECT_NEAR(q[r][a], s[r][a], 1e-5) << r << " " << a;
            }
        }
        // The centre of the volume sits at the origin of both forms.
        for (const mat44& m : {image->sto_xyz, image->qto_xyz}) {
            for (int r = 0; r < 3; ++r) {
                const double world = m.m[r][0] * 0.5 * (image->nx - 1) +
                                     m.m[r][1] * 0.5 * (image->ny - 1) +
                                     m.m[r][2] * 0.5 * (image->nz - 1) + m.m[r][3];
                EXPECT_NEAR(world, 0.0, 1e-4) << "row " << r;
            }
        }
        double offDiagonal = 0.0;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                offDiagonal = std::max(offDiagonal, r == c ? 0.0 : std::fabs(s[r][c]));
            }
        }
        const bool oblique = std::find(header.switches.begin(), header.switches.end(),
                                       "-oblique") != header.switches.end();
        if (oblique) {
            EXPECT_GT(offDiagonal, 0.3);
        } else {
            EXPECT_EQ(offDiagonal, 0.0);
            EXPECT_EQ(s[0][0], -2.0);
            EXPECT_EQ(s[1][1], 2.0);
            EXPECT_EQ(s[2][2], 2.0);
        }
    }
}

TEST_F(HeaderPhantoms, TableRowsTurnedAsTenscalcTurnsThemGiveTheVoxelDirections) {
    const GradientScheme scheme(kVolumes - 1);
    for (const HeaderCase& header : headerCases()) {
        SCOPED_TRACE(header.name);
        double m[3][3];
        ASSERT_TRUE(tenscalcTransform(file(header.name), m));
        const std::vector<Point> rows = ReadGradientTable(file(header.name) + "_grad.txt");
        ASSERT_EQ(rows.size(), static_cast<size_t>(kVolumes));
        EXPECT_EQ(rows[0], (Point{0.0, 0.0, 0.0}));
        for (size_t i = 1; i < rows.size(); ++i) {
            Point seen{};
            for (int r = 0; r < 3; ++r) {
                seen[r] = m[r][0] * rows[i][0] + m[r][1] * rows[i][1] + m[r][2] * rows[i][2];
            }
            const double n = std::sqrt(seen[0] * seen[0] + seen[1] * seen[1] + seen[2] * seen[2]);
            for (int a = 0; a < 3; ++a) {
                EXPECT_NEAR(seen[a] / n, scheme.directions()[i - 1][a], 1e-12)
                    << "row " << i << " axis " << a;
            }
        }
    }
    // The headers differ in how tenscalc turns the table, so their tables must differ too.
    EXPECT_NE(readFile(file("plain_grad.txt")), readFile(file("las_grad.txt")));
    EXPECT_NE(readFile(file("plain_grad.txt")), readFile(file("oblique_grad.txt")));
    EXPECT_NE(readFile(file("las_grad.txt")), readFile(file("oblique_grad.txt")));
}

TEST_F(HeaderPhantoms, OnlyTheAcquisitionHeaderChanges) {
    const Volume plain = ReadVolume(file("plain.nii"));
    for (const HeaderCase& header : headerCases()) {
        SCOPED_TRACE(header.name);
        const Volume other = ReadVolume(file(header.name) + ".nii");
        EXPECT_TRUE(other.values == plain.values);
        for (const char* ending : {".info", "_truth_fa.nii", "_truth_v1.nii", "_truth_wm.nii",
                                   "_truth_bundles.txt", "_truth_bundles.trk"}) {
            EXPECT_EQ(readFile(file(header.name) + ending), readFile(file("plain") + ending))
                << ending;
        }
    }
}

TEST(DwiphantomGradientScheme, TableForAHeaderFollowsItsAxisSwaps) {
    const GradientScheme scheme(64);
    // x and y swapped, z negated.
    const double swap[3][3] = {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}};
    std::string text;
    ASSERT_TRUE(scheme.TableText(swap, &text));
    TempDir dir;
    testsupport::writeFile(dir.file("swap.txt"), text);
    const std::vector<Point> rows = ReadGradientTable(dir.file("swap.txt"));
    ASSERT_EQ(rows.size(), 65u);
    for (size_t i = 1; i < rows.size(); ++i) {
        const Vec3& d = scheme.directions()[i - 1];
        EXPECT_NEAR(rows[i][0], d[1], 1e-6) << i;
        EXPECT_NEAR(rows[i][1], d[0], 1e-6) << i;
        EXPECT_NEAR(rows[i][2], -d[2], 1e-6) << i;
    }
}

TEST(DwiphantomGradientScheme, RefusesATransformThatWouldBlurTheRoundedDirections) {
    const GradientScheme scheme(64);
    // A true rotation mixes the rounded components, so the fit would no longer see the
    // directions the signal was simulated with.
    const double c = std::cos(0.2);
    const double s = std::sin(0.2);
    const double rotation[3][3] = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
    std::string text = "untouched";
    EXPECT_FALSE(scheme.TableText(rotation, &text));
    EXPECT_EQ(text, "untouched");
    const double singular[3][3] = {{1, 0, 0}, {1, 0, 0}, {0, 0, 1}};
    EXPECT_FALSE(scheme.TableText(singular, &text));
}

TEST(DwiphantomSwitches, LayoutSwitchesFollowBothSpellingsAndExcludeEachOther) {
    using Words = std::vector<const char*>;
    for (const Words& words :
         {Words{"dwiphantom", "p", "-slanted"}, Words{"dwiphantom", "p", "--slanted"}}) {
        PhantomSettings settings;
        ASSERT_FALSE(PhantomSettings::FromCommandLine(3, words.data(), &settings).has_value());
        EXPECT_TRUE(settings.slanted);
        EXPECT_FALSE(settings.isotropic);
    }
    for (const Words& words :
         {Words{"dwiphantom", "p", "-isotropic"}, Words{"dwiphantom", "p", "--isotropic"}}) {
        PhantomSettings settings;
        ASSERT_FALSE(PhantomSettings::FromCommandLine(3, words.data(), &settings).has_value());
        EXPECT_TRUE(settings.isotropic);
        EXPECT_FALSE(settings.slanted);
    }
    const Words bare = {"dwiphantom", "p"};
    PhantomSettings settings;
    ASSERT_FALSE(PhantomSettings::FromCommandLine(2, bare.data(), &settings).has_value());
    EXPECT_FALSE(settings.slanted);
    EXPECT_FALSE(settings.isotropic);

    // One adds a bundle, the other takes every bundle away: no phantom can honour both.
    TempDir dir;
    const auto both = runProgram("dwiphantom", {dir.file("p"), "-slanted", "--isotropic"});
    EXPECT_EQ(both.status, 2);
    EXPECT_NE(both.err.find("-slanted"), std::string::npos);
    EXPECT_NE(both.err.find("-isotropic"), std::string::npos);
    EXPECT_FALSE(testsupport::fileExists(dir.file("p.nii")));
}

namespace {

constexpr int kSlantedLabel = 5;
constexpr size_t kSmallVoxels = 32u * 32u * 20u;

// The unit direction the slanted bundle runs along: (1, 0.4, 0.9) normalised.
Point slantedDirection() {
    const double n = std::sqrt(1.0 + 0.4 * 0.4 + 0.9 * 0.9);
    return {1.0 / n, 0.4 / n, 0.9 / n};
}

double absCos(const Point& a, const Point& b) {
    const double na = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    const double nb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
    return std::fabs(a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) / (na * nb);
}

Point directionAt(const Volume& v1, size_t p) {
    return {v1.at(p, 0), v1.at(p, 1), v1.at(p, 2)};
}

// Phantoms with and without the slanted bundle, and the isotropic one, each fitted by tenscalc.
class LayoutPhantoms : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        const std::vector<std::vector<std::string>> runs = {
            {"slanted", "-slanted", "-sigma", "2"},
            {"slanted_clean", "-slanted", "-sigma", "0"},
            {"standard", "-sigma", "2"},
            {"standard_clean", "-sigma", "0"},
            {"isotropic", "-isotropic", "-sigma", "2"},
        };
        for (const std::vector<std::string>& run : runs) {
            std::vector<std::string> args = {file(run[0])};
            args.insert(args.end(), run.begin() + 1, run.end());
            const auto made = runProgram("dwiphantom", args);
            ASSERT_EQ(made.status, 0) << run[0] << ": " << made.err;
        }
        for (const char* name : {"slanted", "standard", "isotropic"}) {
            ASSERT_TRUE(Fit(name, std::string(name) + "_grad.txt", std::string(name) + "_fit"));
        }
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::string file(const std::string& name) { return dir_->file(name); }

    static bool Fit(const std::string& phantom, const std::string& table, const std::string& out) {
        const auto fit =
            runProgram("tenscalc", {file(phantom + ".nii"), file(out), "-gm", file(table)});
        EXPECT_EQ(fit.status, 0) << phantom << ": " << fit.err;
        return fit.status == 0;
    }

    // Mean |cos| between the fitted and the true principal direction over the voxels of the
    // given labels; count receives how many there were.
    static double Alignment(const std::string& fitV1, const std::string& phantom,
                            const std::set<int>& labels, int* count) {
        const Volume fitted = ReadVolume(file(fitV1));
        const Volume truth = ReadVolume(file(phantom + "_truth_v1.nii"));
        const Volume wm = ReadVolume(file(phantom + "_truth_wm.nii"));
        double sum = 0.0;
        *count = 0;
        for (size_t p = 0; p < wm.voxels(); ++p) {
            if (labels.count(static_cast<int>(wm.at(p))) > 0) {
                sum += absCos(directionAt(fitted, p), directionAt(truth, p));
                ++*count;
            }
        }
        return *count > 0 ? sum / *count : 0.0;
    }

    static std::unique_ptr<TempDir> dir_;
};

std::unique_ptr<TempDir> LayoutPhantoms::dir_;

}  // namespace

TEST_F(LayoutPhantoms, SlantedBundleLeavesTheAxialPlaneInItsTruth) {
    const Volume wm = ReadVolume(file("slanted_truth_wm.nii"));
    const Volume v1 = ReadVolume(file("slanted_truth_v1.nii"));
    const Volume fa = ReadVolume(file("slanted_truth_fa.nii"));
    ASSERT_EQ(wm.voxels(), kSmallVoxels);
    const Point along = slantedDirection();
    const double fibreFa = FractionalAnisotropy(kAxial, kRadial, kRadial);
    int count = 0;
    std::set<int> slices;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        if (static_cast<int>(wm.at(p)) != kSlantedLabel) {
            continue;
        }
        ++count;
        slices.insert(static_cast<int>(p / (32u * 32u)));
        const Point e = directionAt(v1, p);
        EXPECT_NEAR(std::fabs(e[2]), 0.9 / std::sqrt(1.97), 1e-5) << "voxel " << p;
        EXPECT_NEAR(absCos(e, along), 1.0, 1e-6) << "voxel " << p;
        EXPECT_NEAR(fa.at(p), fibreFa, 1e-6) << "voxel " << p;
    }
    EXPECT_GT(count, 100);
    // A bundle that only grazes the mid-plane would leave too little to see a z sign by.
    EXPECT_GE(slices.size(), 6u);
}

TEST_F(LayoutPhantoms, SlantedCentreLineIsNamedAndRunsInsideItsVoxels) {
    const Volume wm = ReadVolume(file("slanted_truth_wm.nii"));
    const std::vector<Bundle> bundles = ReadBundles(file("slanted_truth_bundles.txt"));
    ASSERT_EQ(bundles.size(), 4u);
    const Bundle& slanted = bundles.back();
    EXPECT_EQ(slanted.name, "slanted");
    EXPECT_EQ(slanted.label, kSlantedLabel);
    EXPECT_EQ(slanted.radius, bundles.front().radius);
    ASSERT_GE(slanted.line.size(), 2u);
    const Point& first = slanted.line.front();
    const Point& last = slanted.line.back();
    const Point span{last[0] - first[0], last[1] - first[1], last[2] - first[2]};
    EXPECT_NEAR(absCos(span, slantedDirection()), 1.0, 1e-6);
    EXPECT_GT(std::fabs(span[2]), 5.0 * 2.0);
    // Every point of the centre-line, ends included, lies in a voxel of the bundle.
    for (int s = 0; s <= 20; ++s) {
        const double t = s / 20.0;
        const int i = static_cast<int>(std::floor((first[0] + t * span[0]) / 2.0));
        const int j = static_cast<int>(std::floor((first[1] + t * span[1]) / 2.0));
        const int k = static_cast<int>(std::floor((first[2] + t * span[2]) / 2.0));
        ASSERT_TRUE(i >= 0 && i < 32 && j >= 0 && j < 32 && k >= 0 && k < 20) << t;
        EXPECT_EQ(static_cast<int>(wm.at(i + 32 * (j + 32 * k))), kSlantedLabel) << t;
    }
    const std::vector<Polyline> tracks = ReadTracks(file("slanted_truth_bundles.trk"));
    ASSERT_EQ(tracks.size(), 4u);
    ASSERT_EQ(tracks.back().size(), slanted.line.size());
    for (size_t q = 0; q < slanted.line.size(); ++q) {
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(tracks.back()[q][a], slanted.line[q][a], 1e-4);
        }
    }
}

TEST_F(LayoutPhantoms, SlantedBundleTakesOnlyBrainAndLeavesEverythingElseAlone) {
    const Volume slanted = ReadVolume(file("slanted_clean.nii"));
    const Volume standard = ReadVolume(file("standard_clean.nii"));
    const Volume slantedWm = ReadVolume(file("slanted_clean_truth_wm.nii"));
    const Volume standardWm = ReadVolume(file("standard_clean_truth_wm.nii"));
    const Volume slantedFa = ReadVolume(file("slanted_clean_truth_fa.nii"));
    const Volume standardFa = ReadVolume(file("standard_clean_truth_fa.nii"));
    const Volume slantedV1 = ReadVolume(file("slanted_clean_truth_v1.nii"));
    const Volume standardV1 = ReadVolume(file("standard_clean_truth_v1.nii"));
    ASSERT_EQ(slanted.values.size(), standard.values.size());
    int taken = 0;
    for (size_t p = 0; p < slantedWm.voxels(); ++p) {
        if (static_cast<int>(slantedWm.at(p)) == kSlantedLabel) {
            ++taken;
            // Brain before, fibre now: no bundle and no CSF gave way.
            EXPECT_EQ(standardWm.at(p), 0.0) << "voxel " << p;
            EXPECT_GT(standard.at(p, 0), 0.0) << "voxel " << p;
            EXPECT_LE(standard.at(p, 0), 1000.0) << "voxel " << p;
            EXPECT_EQ(slanted.at(p, 0), 900.0) << "voxel " << p;
            continue;
        }
        ASSERT_EQ(slantedWm.at(p), standardWm.at(p)) << "voxel " << p;
        ASSERT_EQ(slantedFa.at(p), standardFa.at(p)) << "voxel " << p;
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(slantedV1.at(p, c), standardV1.at(p, c)) << "voxel " << p;
        }
        for (int t = 0; t < kVolumes; ++t) {
            ASSERT_EQ(slanted.at(p, t), standard.at(p, t)) << "voxel " << p << " volume " << t;
        }
    }
    EXPECT_GT(taken, 100);
}

TEST_F(LayoutPhantoms, FitFollowsTheSlantedBundle) {
    int count = 0;
    const double alignment = Alignment("slanted_fit_v1.nii", "slanted", {kSlantedLabel}, &count);
    EXPECT_GT(count, 100);
    EXPECT_GT(alignment, 0.97);
}

TEST_F(LayoutPhantoms, NegatedZTableMisleadsOnlyTheSlantedBundle) {
    // The table with every z negated, as a wrong conversion would write it.
    std::ostringstream flipped;
    flipped.setf(std::ios::fixed);
    flipped.precision(6);
    const std::vector<Point> rows = ReadGradientTable(file("slanted_grad.txt"));
    ASSERT_EQ(rows.size(), static_cast<size_t>(kVolumes));
    for (const Point& row : rows) {
        flipped << row[0] << ", " << row[1] << ", " << (row[2] == 0.0 ? 0.0 : -row[2]) << "\n";
    }
    testsupport::writeFile(file("flipped_grad.txt"), flipped.str());
    ASSERT_TRUE(Fit("slanted", "flipped_grad.txt", "flipped_fit"));

    int count = 0;
    EXPECT_LT(Alignment("flipped_fit_v1.nii", "slanted", {kSlantedLabel}, &count), 0.5);
    EXPECT_GT(count, 100);
    // The axial bundles cannot tell: the reason the slanted one exists.
    EXPECT_GT(Alignment("flipped_fit_v1.nii", "slanted", {1, 2, 3}, &count), 0.97);
    EXPECT_GT(count, 300);
}

TEST_F(LayoutPhantoms, IsotropicTruthHasNoWhiteMatter) {
    const Volume wm = ReadVolume(file("isotropic_truth_wm.nii"));
    const Volume fa = ReadVolume(file("isotropic_truth_fa.nii"));
    const Volume v1 = ReadVolume(file("isotropic_truth_v1.nii"));
    const Volume dwi = ReadVolume(file("isotropic.nii"));
    ASSERT_EQ(wm.voxels(), kSmallVoxels);
    ASSERT_EQ(v1.values.size(), 3 * kSmallVoxels);
    int brain = 0;
    int csf = 0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        EXPECT_EQ(wm.at(p), 0.0) << "voxel " << p;
        EXPECT_EQ(fa.at(p), 0.0) << "voxel " << p;
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(v1.at(p, c), 0.0) << "voxel " << p;
        }
        // sigma 2 keeps b0 within a few units of the tissue's value.
        brain += std::fabs(dwi.at(p, 0) - 1000.0) < 10.0;
        csf += std::fabs(dwi.at(p, 0) - 1800.0) < 10.0;
    }
    EXPECT_GT(brain, 1000);
    EXPECT_GT(csf, 50);
    EXPECT_TRUE(ReadBundles(file("isotropic_truth_bundles.txt")).empty());
    EXPECT_TRUE(ReadTracks(file("isotropic_truth_bundles.trk")).empty());
}

TEST_F(LayoutPhantoms, IsotropicFitStaysIsotropicInsideTheHead) {
    // Inside the head: b0 at least half of the brain's, so that the surface's partial volumes,
    // where the noise outweighs the signal, do not count.
    const auto anisotropy = [](const std::string& phantom, double* mean, int* high) {
        const Volume dwi = ReadVolume(file(phantom + ".nii"));
        const Volume fa = ReadVolume(file(phantom + "_fit_fa.nii"));
        double sum = 0.0;
        int inside = 0;
        *high = 0;
        for (size_t p = 0; p < fa.voxels(); ++p) {
            if (dwi.at(p, 0) >= 500.0) {
                sum += fa.at(p);
                ++inside;
                *high += fa.at(p) >= 0.2;
            }
        }
        EXPECT_GT(inside, 3000) << phantom;
        *mean = inside > 0 ? sum / inside : 1.0;
    };
    double mean = 0.0;
    int high = 0;
    anisotropy("isotropic", &mean, &high);
    EXPECT_LT(mean, 0.1);
    EXPECT_EQ(high, 0);
    // The same measure sees the bundles of the standard phantom.
    anisotropy("standard", &mean, &high);
    EXPECT_GT(high, 300);
}

namespace {

constexpr int kStudySubjects = 3;

// A strict reader of the JSON grammar: enough to tell a valid file from a broken one and to
// give the raw text of every value of the top-level object.
struct JsonReader {
    const std::string& text;
    size_t at = 0;

    void space() {
        while (at < text.size() && std::string(" \t\r\n").find(text[at]) != std::string::npos) {
            ++at;
        }
    }
    bool literal(const std::string& word) {
        if (text.compare(at, word.size(), word) != 0) {
            return false;
        }
        at += word.size();
        return true;
    }
    bool string(std::string* out) {
        if (at >= text.size() || text[at] != '"') {
            return false;
        }
        ++at;
        std::string value;
        while (at < text.size() && text[at] != '"') {
            if (static_cast<unsigned char>(text[at]) < 0x20) {
                return false;
            }
            if (text[at] == '\\') {
                ++at;
                if (at >= text.size() ||
                    std::string("\"\\/bfnrtu").find(text[at]) == std::string::npos) {
                    return false;
                }
            }
            value += text[at++];
        }
        if (at >= text.size()) {
            return false;
        }
        ++at;
        if (out != nullptr) {
            *out = value;
        }
        return true;
    }
    bool number() {
        static const std::regex pattern(R"(^-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
        std::smatch match;
        const std::string rest = text.substr(at, 64);
        if (!std::regex_search(rest, match, pattern) || match.length(0) == 0) {
            return false;
        }
        at += static_cast<size_t>(match.length(0));
        return true;
    }
    // top (may be null) receives the raw text of each member when the value is an object.
    bool value(std::map<std::string, std::string>* top) {
        space();
        if (at >= text.size()) {
            return false;
        }
        const char c = text[at];
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++at;
            space();
            if (at < text.size() && text[at] == close) {
                ++at;
                return true;
            }
            while (true) {
                std::string key;
                if (c == '{') {
                    space();
                    if (!string(&key)) {
                        return false;
                    }
                    space();
                    if (!literal(":")) {
                        return false;
                    }
                }
                space();
                const size_t start = at;
                if (!value(nullptr)) {
                    return false;
                }
                if (top != nullptr) {
                    (*top)[key] = text.substr(start, at - start);
                }
                space();
                if (literal(",")) {
                    continue;
                }
                return literal(std::string(1, close));
            }
        }
        if (c == '"') {
            return string(nullptr);
        }
        return literal("true") || literal("false") || literal("null") || number();
    }
};

// The members of a JSON file's top-level object; fails the test when the file is not JSON.
std::map<std::string, std::string> readJsonObject(const std::string& path) {
    const std::string text = readFile(path);
    JsonReader reader{text};
    std::map<std::string, std::string> members;
    const bool valid = text.find('{') != std::string::npos && reader.value(&members);
    reader.space();
    EXPECT_TRUE(valid && reader.at == text.size()) << path << " is not valid JSON:\n" << text;
    return members;
}

std::string subjectLabel(int subject) {
    return (subject < 10 ? "0" : "") + std::to_string(subject);
}

// Files of one subject as BIDS names them, relative to the dataset folder.
std::string dwiFile(int subject, const std::string& ending) {
    const std::string sub = "sub-" + subjectLabel(subject);
    return sub + "/dwi/" + sub + "_dwi" + ending;
}

std::string truthFile(int subject, const std::string& what) {
    const std::string sub = "sub-" + subjectLabel(subject);
    return "derivatives/phantom-truth/" + sub + "/dwi/" + sub + "_desc-truth_" + what;
}

// A three-subject dataset, the same again, one of another seed, and the acquisition of the
// usual mode without noise whose bundles the subjects' are moved from.
class BidsStudy : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        const std::vector<std::vector<std::string>> runs = {
            {"-bids", study(""), "-n", "3"},
            {"--bids", dir_->file("again"), "--subjects", "3"},
            {"-bids", dir_->file("reseeded"), "-n", "3", "-seed", "7"},
            {dir_->file("plain"), "-sigma", "0"},
        };
        for (const std::vector<std::string>& run : runs) {
            const auto made = runProgram("dwiphantom", run);
            ASSERT_EQ(made.status, 0) << run[1] << ": " << made.err;
        }
        const auto fit = runProgram(
            "tenscalc", {study(dwiFile(2, ".nii.gz")), dir_->file("fit2"), "-bvec",
                         study(dwiFile(2, ".bvec")), "-bval", study(dwiFile(2, ".bval"))});
        ASSERT_EQ(fit.status, 0) << fit.err;
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::string study(const std::string& name) { return dir_->file("study/" + name); }
    static std::string file(const std::string& name) { return dir_->file(name); }

    static std::unique_ptr<TempDir> dir_;
};

std::unique_ptr<TempDir> BidsStudy::dir_;

}  // namespace

TEST_F(BidsStudy, WritesEveryFileWithItsBidsNameAndNothingElseInTheRawData) {
    std::set<std::string> expected = {"dataset_description.json", "participants.tsv", "README"};
    for (int subject = 1; subject <= kStudySubjects; ++subject) {
        for (const char* ending : {".nii.gz", ".bval", ".bvec", ".json"}) {
            expected.insert(dwiFile(subject, ending));
        }
    }
    // Anything else outside derivatives/ would make the raw dataset invalid.
    std::set<std::string> found;
    const std::filesystem::path root = study("");
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const std::string relative = std::filesystem::relative(it->path(), root).string();
        if (relative == "derivatives") {
            it.disable_recursion_pending();
        } else if (it->is_regular_file()) {
            found.insert(relative);
        }
    }
    EXPECT_EQ(found, expected);

    const std::regex subjectFolder("sub-[A-Za-z0-9]+");
    for (int subject = 1; subject <= kStudySubjects; ++subject) {
        EXPECT_TRUE(std::regex_match("sub-" + subjectLabel(subject), subjectFolder));
        for (const char* what :
             {"fa.nii.gz", "v1.nii.gz", "wm.nii.gz", "bundles.txt", "bundles.trk"}) {
            EXPECT_TRUE(testsupport::fileExists(study(truthFile(subject, what))))
                << truthFile(subject, what);
        }
    }
    EXPECT_TRUE(
        testsupport::fileExists(study("derivatives/phantom-truth/dataset_description.json")));
    EXPECT_FALSE(testsupport::fileExists(study("sub-04/dwi/sub-04_dwi.nii.gz")));
}

TEST_F(BidsStudy, DescriptionsParticipantsAndSidecarsAreValid) {
    const auto description = readJsonObject(study("dataset_description.json"));
    EXPECT_EQ(description.count("Name"), 1u);
    EXPECT_EQ(description.count("BIDSVersion") > 0 ? description.at("BIDSVersion") : "",
              "\"1.9.0\"");
    EXPECT_EQ(description.count("DatasetType") > 0 ? description.at("DatasetType") : "", "\"raw\"");
    ASSERT_EQ(description.count("GeneratedBy"), 1u);
    const std::string generatedBy = description.at("GeneratedBy");
    EXPECT_EQ(generatedBy.front(), '[');
    EXPECT_TRUE(std::regex_search(generatedBy, std::regex(R"("Name"\s*:\s*"dwiphantom")")))
        << generatedBy;

    const auto truth = readJsonObject(study("derivatives/phantom-truth/dataset_description.json"));
    EXPECT_EQ(truth.count("DatasetType") > 0 ? truth.at("DatasetType") : "", "\"derivative\"");
    EXPECT_EQ(truth.count("GeneratedBy"), 1u);

    EXPECT_EQ(readFile(study("participants.tsv")), "participant_id\nsub-01\nsub-02\nsub-03\n");
    for (int subject = 1; subject <= kStudySubjects; ++subject) {
        const auto sidecar = readJsonObject(study(dwiFile(subject, ".json")));
        EXPECT_FALSE(sidecar.empty()) << subject;
    }
}

TEST_F(BidsStudy, VolumesReadThroughNifticlibAndMatchTheirGradientFiles) {
    const GradientScheme scheme(kVolumes - 1);
    for (int subject = 1; subject <= kStudySubjects; ++subject) {
        SCOPED_TRACE(subject);
        const std::string name = study(dwiFile(subject, ".nii.gz"));
        EXPECT_EQ(readFile(name).substr(0, 2), "\x1f\x8b") << "not gzip-compressed";
        const OwnedNiftiImage image(nifti_image_read(name.c_str(), 1));
        ASSERT_TRUE(image && image->data != nullptr) << name;
        EXPECT_EQ(image->datatype, DT_INT16);
        EXPECT_EQ(image->ndim, 4);
        EXPECT_EQ(image->nx, 32);
        EXPECT_EQ(image->ny, 32);
        EXPECT_EQ(image->nz, 20);
        const size_t volumes = static_cast<size_t>(image->nt);
        EXPECT_EQ(volumes, static_cast<size_t>(kVolumes));

        // A plain RAS matrix in both forms: FSL negates x of the directions.
        EXPECT_GT(image->sform_code, 0);
        EXPECT_GT(image->qform_code, 0);
        EXPECT_GT(determinant(upperLeft(image->sto_xyz)), 0.0);
        EXPECT_GT(determinant(upperLeft(image->qto_xyz)), 0.0);
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(image->sto_xyz.m[a][a], 2.0f) << a;
        }
        const bool negated = fslNegatesX(*image);
        EXPECT_TRUE(negated);

        const auto bval = readNumberLines(study(dwiFile(subject, ".bval")));
        ASSERT_EQ(bval.size(), 1u);
        EXPECT_EQ(bval[0].size(), volumes);
        const auto bvec = readNumberLines(study(dwiFile(subject, ".bvec")));
        ASSERT_EQ(bvec.size(), 3u);
        for (int axis = 0; axis < 3; ++axis) {
            ASSERT_EQ(bvec[axis].size(), volumes) << "row " << axis;
        }
        EXPECT_EQ(bval[0][0], 0.0);
        for (size_t v = 1; v < volumes; ++v) {
            EXPECT_EQ(bval[0][v], 1000.0) << v;
            const Vec3& d = scheme.directions()[v - 1];
            EXPECT_EQ(negated ? -bvec[0][v] : bvec[0][v], d[0]) << v;
            EXPECT_EQ(bvec[1][v], d[1]) << v;
            EXPECT_EQ(bvec[2][v], d[2]) << v;
        }

        const Volume fa = ReadVolume(study(truthFile(subject, "fa.nii.gz")));
        const Volume v1 = ReadVolume(study(truthFile(subject, "v1.nii.gz")));
        const Volume wm = ReadVolume(study(truthFile(subject, "wm.nii.gz")));
        EXPECT_EQ(fa.values.size(), kSmallVoxels);
        EXPECT_EQ(v1.values.size(), 3 * kSmallVoxels);
        EXPECT_EQ(wm.values.size(), kSmallVoxels);
    }
}

TEST_F(BidsStudy, SubjectsDifferAndEachRepeatsWithTheSameSeed) {
    for (int subject = 1; subject <= kStudySubjects; ++subject) {
        SCOPED_TRACE(subject);
        const std::string name = dwiFile(subject, ".nii.gz");
        EXPECT_EQ(readFile(study(name)), readFile(file("again/" + name)));
        EXPECT_NE(readFile(study(name)), readFile(file("reseeded/" + name)));
        for (const char* what : {"fa.nii.gz", "wm.nii.gz", "bundles.txt"}) {
            EXPECT_EQ(readFile(study(truthFile(subject, what))),
                      readFile(file("again/" + truthFile(subject, what))))
                << what;
        }
        for (int other = 1; other < subject; ++other) {
            const Volume a = ReadVolume(study(dwiFile(subject, ".nii.gz")));
            const Volume b = ReadVolume(study(dwiFile(other, ".nii.gz")));
            ASSERT_EQ(a.values.size(), b.values.size());
            EXPECT_FALSE(a.values == b.values) << "subjects " << other << " and " << subject;
            // The anatomy moves too, not only the noise.
            EXPECT_NE(readFile(study(truthFile(subject, "bundles.txt"))),
                      readFile(study(truthFile(other, "bundles.txt"))));
        }
    }
}

TEST_F(BidsStudy, BundlesMoveByAtMostOneVoxelAndTheTruthMovesWithThem) {
    const std::vector<Bundle> plain = ReadBundles(file("plain_truth_bundles.txt"));
    ASSERT_EQ(plain.size(), 3u);
    std::set<int> wmCounts;
    for (int subject = 1; subject <= kStudySubjects; ++subject) {
        SCOPED_TRACE(subject);
        const std::vector<Bundle> moved = ReadBundles(study(truthFile(subject, "bundles.txt")));
        ASSERT_EQ(moved.size(), plain.size());
        ASSERT_EQ(moved[0].line.size(), plain[0].line.size());
        Point shift{};
        for (int a = 0; a < 3; ++a) {
            shift[a] = moved[0].line[0][a] - plain[0].line[0][a];
            EXPECT_LE(std::fabs(shift[a]), 2.0 + 1e-6) << "axis " << a;
        }
        EXPECT_GT(std::fabs(shift[0]) + std::fabs(shift[1]) + std::fabs(shift[2]), 1e-3);
        // Every bundle moves as one.
        for (size_t b = 0; b < plain.size(); ++b) {
            ASSERT_EQ(moved[b].line.size(), plain[b].line.size()) << moved[b].name;
            for (size_t q = 0; q < plain[b].line.size(); ++q) {
                for (int a = 0; a < 3; ++a) {
                    EXPECT_NEAR(moved[b].line[q][a] - plain[b].line[q][a], shift[a], 1e-5)
                        << moved[b].name << " point " << q;
                }
            }
        }
        // The labelled voxels are where the moved centre-lines run.
        const Volume wm = ReadVolume(study(truthFile(subject, "wm.nii.gz")));
        int count = 0;
        for (size_t p = 0; p < wm.voxels(); ++p) {
            count += wm.at(p) > 0.0;
        }
        wmCounts.insert(count);
        for (const Bundle& bundle : moved) {
            const Point& middle = bundle.line[bundle.line.size() / 2];
            const int i = static_cast<int>(std::floor(middle[0] / 2.0));
            const int j = static_cast<int>(std::floor(middle[1] / 2.0));
            const int k = static_cast<int>(std::floor(middle[2] / 2.0));
            const int label = static_cast<int>(wm.at(i + 32 * (j + 32 * k)));
            EXPECT_TRUE(label == bundle.label || label == 4) << bundle.name;
        }
    }
    // Sub-voxel shifts change which voxels the bundles cover.
    EXPECT_GT(wmCounts.size(), 1u);
}

TEST_F(BidsStudy, TenscalcWithTheFslFilesRecoversTheTrueFaInTheWhiteMatter) {
    const Volume fitted = ReadVolume(file("fit2_fa.nii"));
    const Volume truth = ReadVolume(study(truthFile(2, "fa.nii.gz")));
    const Volume wm = ReadVolume(study(truthFile(2, "wm.nii.gz")));
    ASSERT_EQ(fitted.voxels(), wm.voxels());
    double fittedSum = 0.0;
    double truthSum = 0.0;
    int count = 0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        if (wm.at(p) > 0.0) {
            fittedSum += fitted.at(p);
            truthSum += truth.at(p);
            ++count;
        }
    }
    ASSERT_GT(count, 300);
    const double truthMean = truthSum / count;
    EXPECT_GT(truthMean, 0.5);
    EXPECT_NEAR(fittedSum / count, truthMean, 0.1 * truthMean);

    // FA cannot tell a mirrored table; the directions can: tenscalc undoes the x sign the
    // .bvec carries for the header, so the fit must follow the true fibres.
    const Volume fittedV1 = ReadVolume(file("fit2_v1.nii"));
    const Volume truthV1 = ReadVolume(study(truthFile(2, "v1.nii.gz")));
    double alignment = 0.0;
    int fibres = 0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        const int label = static_cast<int>(wm.at(p));
        if (label >= 1 && label <= 3) {
            alignment += absCos(directionAt(fittedV1, p), directionAt(truthV1, p));
            ++fibres;
        }
    }
    ASSERT_GT(fibres, 300);
    EXPECT_GT(alignment / fibres, 0.97);
}

TEST_F(BidsStudy, OptionsApplyToEverySubjectAndTheBvecFollowsALasHeader) {
    TempDir dir;
    const auto made = runProgram(
        "dwiphantom", {"-bids", dir.file("las"), "-n", "2", "-las", "-sigma", "0", "-slanted"});
    ASSERT_EQ(made.status, 0) << made.err;
    const GradientScheme scheme(kVolumes - 1);
    for (int subject = 1; subject <= 2; ++subject) {
        SCOPED_TRACE(subject);
        const OwnedNiftiImage image = readHeader(dir.file("las/" + dwiFile(subject, ".nii.gz")));
        ASSERT_TRUE(image);
        EXPECT_LT(determinant(upperLeft(image->sto_xyz)), 0.0);
        EXPECT_LT(determinant(upperLeft(image->qto_xyz)), 0.0);
        // x stored right to left: FSL takes the directions as they are.
        const auto bvec = readNumberLines(dir.file("las/" + dwiFile(subject, ".bvec")));
        ASSERT_EQ(bvec.size(), 3u);
        ASSERT_EQ(bvec[0].size(), static_cast<size_t>(kVolumes));
        for (size_t v = 1; v < bvec[0].size(); ++v) {
            EXPECT_EQ(bvec[0][v], scheme.directions()[v - 1][0]) << v;
        }
        const Volume wm = ReadVolume(dir.file("las/" + truthFile(subject, "wm.nii.gz")));
        int slanted = 0;
        for (size_t p = 0; p < wm.voxels(); ++p) {
            slanted += static_cast<int>(wm.at(p)) == kSlantedLabel;
        }
        EXPECT_GT(slanted, 100);
        // No noise: the fibre voxels hold the fibre's b0 exactly.
        const Volume dwi = ReadVolume(dir.file("las/" + dwiFile(subject, ".nii.gz")));
        for (size_t p = 0; p < wm.voxels(); ++p) {
            if (wm.at(p) > 0.0) {
                ASSERT_EQ(dwi.at(p, 0), 900.0) << p;
            }
        }
    }
}

TEST(DwiphantomBids, RefusesABadSubjectCountAndMixedModes) {
    TempDir dir;
    const std::vector<std::vector<std::string>> wrong = {
        {"-bids", dir.file("d"), "-n", "0"},
        {"-bids", dir.file("d"), "-n", "abc"},
        {"-bids", dir.file("d"), "-n", "3x"},
        {"-bids", dir.file("d"), "-n", "-2"},
        {"-bids", dir.file("d"), "-n", "1000"},
        {"-bids", dir.file("d"), "-n"},
        {dir.file("p"), "-n", "3"},
        {dir.file("p"), "-bids", dir.file("d")},
        {"-bids"},
    };
    for (const std::vector<std::string>& args : wrong) {
        std::string line;
        for (const std::string& word : args) {
            line += word + " ";
        }
        const auto run = runProgram("dwiphantom", args);
        EXPECT_EQ(run.status, 2) << line;
        EXPECT_FALSE(run.err.empty()) << line;
        EXPECT_NE(run.out.find("dwiphantom --help"), std::string::npos) << line;
        EXPECT_FALSE(std::filesystem::exists(dir.file("d"))) << line;
        EXPECT_FALSE(testsupport::fileExists(dir.file("p.nii"))) << line;
    }
    const auto zero = runProgram("dwiphantom", {"-bids", dir.file("d"), "--subjects", "0"});
    EXPECT_NE(zero.err.find("'0'"), std::string::npos) << zero.err;

    // A file where the dataset's folder should be.
    testsupport::writeFile(dir.file("taken"), "x");
    const auto blocked = runProgram("dwiphantom", {"-bids", dir.file("taken"), "-n", "1"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find(dir.file("taken")), std::string::npos) << blocked.err;
}

TEST(DwiphantomSwitches, DatasetSwitchesFollowBothSpellings) {
    using Words = std::vector<const char*>;
    for (const Words& words :
         {Words{"dwiphantom", "-bids", "study", "-n", "12", "-s", "medium"},
          Words{"dwiphantom", "--bids", "study", "--subjects", "12", "-s", "medium"}}) {
        const int argc = static_cast<int>(words.size());
        PhantomSettings settings;
        ASSERT_FALSE(PhantomSettings::FromCommandLine(argc, words.data(), &settings).has_value());
        EXPECT_EQ(settings.bidsFolder, "study");
        EXPECT_EQ(settings.subjects, 12);
        EXPECT_TRUE(settings.prefix.empty());
        EXPECT_EQ(settings.dims, (std::array<int, 3>{96, 96, 60}));
    }
    const Words single = {"dwiphantom", "-bids", "study/"};
    PhantomSettings settings;
    ASSERT_FALSE(PhantomSettings::FromCommandLine(3, single.data(), &settings).has_value());
    EXPECT_EQ(settings.subjects, 1);
    EXPECT_EQ(settings.bidsFolder, "study");

    const Words usual = {"dwiphantom", "p"};
    PhantomSettings usualSettings;
    ASSERT_FALSE(PhantomSettings::FromCommandLine(2, usual.data(), &usualSettings).has_value());
    EXPECT_TRUE(usualSettings.bidsFolder.empty());
}

namespace {

const std::vector<std::string> kPlaneEnds = {"start", "end"};

std::string planeFile(int subject, const std::string& bundle, const std::string& end) {
    const std::string sub = "sub-" + subjectLabel(subject);
    return "derivatives/phantom-rois/" + sub + "/dwi/" + sub + "_bundle-" + bundle + "_desc-" +
           end + "_mask.nii.gz";
}

// File index of the voxel holding a point in millimetres (voxel i spans [2i, 2i + 2)), or -1.
long voxelIndex(const Point& p, const Volume& grid) {
    long index = 0;
    for (int a = 2; a >= 0; --a) {
        const long i = static_cast<long>(std::floor(p[a] / 2.0));
        if (i < 0 || i >= grid.dims[a + 1]) {
            return -1;
        }
        index = index * grid.dims[a + 1] + i;
    }
    return index;
}

// A point lies in a mask when the voxel holding it is non-zero; the line is sampled every 0.05 mm.
bool passesThrough(const Polyline& line, const Volume& mask) {
    for (size_t s = 0; s + 1 < line.size(); ++s) {
        const double length = std::sqrt(std::pow(line[s + 1][0] - line[s][0], 2) +
                                        std::pow(line[s + 1][1] - line[s][1], 2) +
                                        std::pow(line[s + 1][2] - line[s][2], 2));
        for (double t = 0.0; t <= length; t += 0.05) {
            Point p{};
            for (int a = 0; a < 3; ++a) {
                p[a] = line[s][a] + (line[s + 1][a] - line[s][a]) * t / length;
            }
            const long index = voxelIndex(p, mask);
            if (index >= 0 && mask.at(static_cast<size_t>(index)) > 0.0) {
                return true;
            }
        }
    }
    return false;
}

Point voxelCentre(size_t p, const Volume& grid) {
    const size_t nx = grid.dims[1];
    const size_t ny = grid.dims[2];
    return {(p % nx + 0.5) * 2.0, (p / nx % ny + 0.5) * 2.0, (p / (nx * ny) + 0.5) * 2.0};
}

// How far along the line its nearest point to p lies, in millimetres; length receives the
// line's length.
double alongLine(const Point& p, const Polyline& line, double* length) {
    double best = std::numeric_limits<double>::infinity();
    double along = 0.0;
    *length = 0.0;
    for (size_t s = 0; s + 1 < line.size(); ++s) {
        const double segment = DistanceToPolyline(line[s], {line[s + 1]});
        for (double t = 0.0; t <= segment; t += 0.05) {
            Point q{};
            for (int a = 0; a < 3; ++a) {
                q[a] = line[s][a] + (line[s + 1][a] - line[s][a]) * t / segment;
            }
            if (DistanceToPolyline(p, {q}) < best) {
                best = DistanceToPolyline(p, {q});
                along = *length + t;
            }
        }
        *length += segment;
    }
    return along;
}

// Whether a voxel within two voxels along each axis of voxel p holds the label.
bool labelNear(const Volume& wm, size_t p, int label) {
    const Point c = voxelCentre(p, wm);
    for (int dz = -2; dz <= 2; ++dz) {
        for (int dy = -2; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx) {
                const long q = voxelIndex({c[0] + 2.0 * dx, c[1] + 2.0 * dy, c[2] + 2.0 * dz}, wm);
                if (q >= 0 && static_cast<int>(wm.at(static_cast<size_t>(q))) == label) {
                    return true;
                }
            }
        }
    }
    return false;
}

// Where along a straight centre-line a point lies, as a fraction of its length.
double fractionAlong(const Point& p, const Polyline& line) {
    double dot = 0.0;
    double length2 = 0.0;
    for (int a = 0; a < 3; ++a) {
        dot += (p[a] - line.front()[a]) * (line.back()[a] - line.front()[a]);
        length2 += std::pow(line.back()[a] - line.front()[a], 2);
    }
    return dot / length2;
}

// Studies with and without the slanted bundle (under an oblique mirrored header), with a lesion
// in the straight bundle of subject 2, and without noise with a lesion in the crossing bundle.
class StudyRegions : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        const std::vector<std::vector<std::string>> runs = {
            {"-bids", file("plain"), "-n", "3"},
            {"-bids", file("slanted"), "-n", "2", "-slanted", "-las", "-oblique"},
            {"-bids", file("lesioned"), "-n", "3", "-lesion", "2:straight"},
            {"-bids", file("crossing"), "-n", "1", "-sigma", "0", "--lesion", "1:crossing"},
        };
        for (const std::vector<std::string>& run : runs) {
            const auto made = runProgram("dwiphantom", run);
            ASSERT_EQ(made.status, 0) << run[1] << ": " << made.err;
        }
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::string file(const std::string& name) { return dir_->file(name); }

    static std::unique_ptr<TempDir> dir_;
};

std::unique_ptr<TempDir> StudyRegions::dir_;

}  // namespace

TEST_F(StudyRegions, PlanesLieOnTheAcquisitionGridAcrossTheirBundlesNearBothEnds) {
    EXPECT_EQ(readJsonObject(file("plain/derivatives/phantom-rois/dataset_description.json"))
                  .at("DatasetType"),
              "\"derivative\"");
    for (const auto& [study, subjects] :
         {std::pair<std::string, int>{"plain", 3}, {"slanted", 2}}) {
        for (int subject = 1; subject <= subjects; ++subject) {
            SCOPED_TRACE(study + " " + std::to_string(subject));
            const OwnedNiftiImage dwi = readHeader(file(study + "/" + dwiFile(subject, ".nii.gz")));
            const Volume wm = ReadVolume(file(study + "/" + truthFile(subject, "wm.nii.gz")));
            const auto bundles = ReadBundles(file(study + "/" + truthFile(subject, "bundles.txt")));
            ASSERT_EQ(bundles.size(), study == "slanted" ? 4u : 3u);
            for (const Bundle& bundle : bundles) {
                std::vector<double> along;  // of each plane's centroid, in millimetres
                double length = 0.0;
                for (const std::string& end : kPlaneEnds) {
                    const std::string name =
                        file(study + "/" + planeFile(subject, bundle.name, end));
                    const OwnedNiftiImage header = readHeader(name);
                    ASSERT_TRUE(header && dwi) << name;
                    EXPECT_EQ(header->datatype, DT_UINT8);
                    EXPECT_EQ(header->ndim, 3);
                    EXPECT_EQ(std::vector<int>(header->dim + 1, header->dim + 4),
                              std::vector<int>(dwi->dim + 1, dwi->dim + 4));
                    EXPECT_EQ(header->sform_code, dwi->sform_code);
                    EXPECT_EQ(header->qform_code, dwi->qform_code);
                    for (int r = 0; r < 4; ++r) {
                        for (int c = 0; c < 4; ++c) {
                            EXPECT_EQ(header->sto_xyz.m[r][c], dwi->sto_xyz.m[r][c]);
                            EXPECT_EQ(header->qto_xyz.m[r][c], dwi->qto_xyz.m[r][c]);
                        }
                    }
                    const Volume mask = ReadVolume(name);
                    Point centroid{};
                    int count = 0;
                    for (size_t p = 0; p < mask.voxels(); ++p) {
                        if (mask.at(p) > 0.0) {
                            ++count;
                            for (int a = 0; a < 3; ++a) {
                                centroid[a] += voxelCentre(p, mask)[a];
                            }
                            EXPECT_TRUE(labelNear(wm, p, bundle.label)) << bundle.name << end << p;
                        }
                    }
                    ASSERT_GT(count, 9) << bundle.name << " " << end;
                    for (double& value : centroid) {
                        value /= count;
                    }
                    // A plane across the bundle has its centroid on the centre-line.
                    EXPECT_LT(DistanceToPolyline(centroid, bundle.line), 1.0) << bundle.name;
                    along.push_back(alongLine(centroid, bundle.line, &length));
                }
                // The slanted bundle passes close by the ends of two others, which keep its
                // planes nearer its middle.
                EXPECT_GT(along[1] - along[0], (bundle.name == "slanted" ? 0.2 : 0.45) * length)
                    << bundle.name;
            }
        }
    }
}

TEST_F(StudyRegions, TrueCentreLinesPassThroughBothOwnPlanesAndNoOtherPlane) {
    for (const auto& [study, subjects] :
         {std::pair<std::string, int>{"plain", 3}, {"slanted", 2}}) {
        for (int subject = 1; subject <= subjects; ++subject) {
            SCOPED_TRACE(study + " " + std::to_string(subject));
            const auto bundles = ReadBundles(file(study + "/" + truthFile(subject, "bundles.txt")));
            for (const Bundle& planes : bundles) {
                for (const std::string& end : kPlaneEnds) {
                    const Volume mask =
                        ReadVolume(file(study + "/" + planeFile(subject, planes.name, end)));
                    for (const Bundle& line : bundles) {
                        EXPECT_EQ(passesThrough(line.line, mask), line.name == planes.name)
                            << line.name << " through " << planes.name << " " << end;
                    }
                }
            }
        }
    }
}

TEST_F(StudyRegions, LesionLowersTheFaOfTheMiddleOfOneBundleOfOneSubjectOnly) {
    // Every file of the other subjects is the one a run without the lesion writes.
    for (const int subject : {1, 3}) {
        for (const std::string& name :
             {dwiFile(subject, ".nii.gz"), truthFile(subject, "fa.nii.gz"),
              truthFile(subject, "v1.nii.gz"), planeFile(subject, "straight", "start")}) {
            EXPECT_EQ(readFile(file("plain/" + name)), readFile(file("lesioned/" + name))) << name;
        }
    }
    const Volume before = ReadVolume(file("plain/" + truthFile(2, "fa.nii.gz")));
    const Volume after = ReadVolume(file("lesioned/" + truthFile(2, "fa.nii.gz")));
    const Volume dwiBefore = ReadVolume(file("plain/" + dwiFile(2, ".nii.gz")));
    const Volume dwiAfter = ReadVolume(file("lesioned/" + dwiFile(2, ".nii.gz")));
    const Volume wm = ReadVolume(file("plain/" + truthFile(2, "wm.nii.gz")));
    const Polyline straight = ReadBundles(file("plain/" + truthFile(2, "bundles.txt")))[0].line;
    int lesioned = 0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        const double f = fractionAlong(voxelCentre(p, wm), straight);
        const bool inStraight = static_cast<int>(wm.at(p)) == 1;
        if (inStraight && f > 0.37 && f < 0.63) {
            ++lesioned;
            EXPECT_NEAR(before.at(p) - after.at(p), 0.25, 0.01) << p;
            EXPECT_NEAR(after.at(p), FractionalAnisotropy(kAxial, 0.7e-3, 0.7e-3), 1e-6);
        } else if (!inStraight || f < 0.33 || f > 0.67) {
            ASSERT_EQ(before.at(p), after.at(p)) << p;
            for (int t = 0; t < kVolumes; ++t) {
                ASSERT_EQ(dwiBefore.at(p, t), dwiAfter.at(p, t)) << p << " volume " << t;
            }
        }
    }
    EXPECT_GT(lesioned, 30);
    // The signal carries it: the tensor fitted to it shows the lower FA.
    for (const char* study : {"plain", "lesioned"}) {
        const std::string name = file(std::string(study) + "/" + dwiFile(2, ""));
        ASSERT_EQ(runProgram("tenscalc", {name + ".nii.gz", file(study), "-bvec", name + ".bvec",
                                          "-bval", name + ".bval"})
                      .status,
                  0);
    }
    const Volume fitBefore = ReadVolume(file("plain_fa.nii"));
    const Volume fitAfter = ReadVolume(file("lesioned_fa.nii"));
    double drop = 0.0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        const double f = fractionAlong(voxelCentre(p, wm), straight);
        if (static_cast<int>(wm.at(p)) == 1 && f > 0.37 && f < 0.63) {
            drop += (fitBefore.at(p) - fitAfter.at(p)) / lesioned;
        }
    }
    EXPECT_NEAR(drop, 0.25, 0.05);
}

TEST_F(StudyRegions, LesionedFibreWeighsLessWhereBundlesCross) {
    const Volume fa = ReadVolume(file("crossing/" + truthFile(1, "fa.nii.gz")));
    const Volume v1 = ReadVolume(file("crossing/" + truthFile(1, "v1.nii.gz")));
    const Volume wm = ReadVolume(file("crossing/" + truthFile(1, "wm.nii.gz")));
    const Polyline crossing = ReadBundles(file("crossing/" + truthFile(1, "bundles.txt")))[2].line;
    int checked = 0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        const double f = fractionAlong(voxelCentre(p, wm), crossing);
        if (static_cast<int>(wm.at(p)) != 4 || std::fabs(f - 0.35) < 0.02) {
            continue;
        }
        // The mean of the straight fibre's tensor (along x) and the crossing's (along y), FA
        // from its deviatoric and whole norms.
        const double radial = f > 0.35 && f < 0.65 ? 0.7e-3 : kRadial;
        const double d[3] = {0.5 * (kAxial + radial), 0.5 * (kRadial + kAxial),
                             0.5 * (kRadial + radial)};
        const double mean = (d[0] + d[1] + d[2]) / 3.0;
        const double deviation =
            std::pow(d[0] - mean, 2) + std::pow(d[1] - mean, 2) + std::pow(d[2] - mean, 2);
        const double whole = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        EXPECT_NEAR(fa.at(p), std::sqrt(1.5 * deviation / whole), 1e-6) << p;
        // With equal fibres the direction is undefined; with a lesioned one, the other's.
        EXPECT_NEAR(std::fabs(v1.at(p, 0)), radial > kRadial ? 1.0 : 0.0, 1e-6) << p;
        checked += radial > kRadial;
    }
    EXPECT_GT(checked, 3);
}

TEST(DwiphantomLesion, RefusesAValueThatNamesNoSubjectOrBundleOfTheDataset) {
    TempDir dir;
    const std::vector<std::vector<std::string>> wrong = {
        {"4:straight"},
        {"0:straight"},
        {"2:curly"},
        {"2"},
        {"straight"},
        {"2:"},
        {":arc"},
        {"x:arc"},
        {"2:slanted"},
        {"1:arc", "-lesion", "9:arc"},
        {"1:arc", "-isotropic"},
        {"1:arc", "-lesion"},
    };
    for (const std::vector<std::string>& values : wrong) {
        std::vector<std::string> args = {"-bids", dir.file("d"), "-n", "3", "--lesion"};
        args.insert(args.end(), values.begin(), values.end());
        const auto run = runProgram("dwiphantom", args);
        EXPECT_EQ(run.status, 2) << values[0];
        EXPECT_NE(run.err.find("-lesion"), std::string::npos) << values[0] << ": " << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("d"))) << values[0];
    }
    const auto usual = runProgram("dwiphantom", {dir.file("p"), "-lesion", "1:arc"});
    EXPECT_EQ(usual.status, 2);
    EXPECT_NE(usual.err.find("-lesion"), std::string::npos) << usual.err;
    EXPECT_FALSE(testsupport::fileExists(dir.file("p.nii")));

    using Words = std::vector<const char*>;
    const Words words = {"dwiphantom", "-bids",     "s",        "-n",    "3",       "-slanted",
                         "-lesion",    "2:slanted", "--lesion", "3:arc", "-lesion", "2:arc"};
    PhantomSettings settings;
    ASSERT_FALSE(PhantomSettings::FromCommandLine(12, words.data(), &settings).has_value());
    EXPECT_EQ(settings.LesionedBundles(2), (std::vector<std::string>{"slanted", "arc"}));
    EXPECT_EQ(settings.LesionedBundles(3), (std::vector<std::string>{"arc"}));
    EXPECT_TRUE(settings.LesionedBundles(1).empty());

    const std::string help = runProgram("dwiphantom", {"--help"}).out;
    for (const char* text :
         {"-lesion, --lesion <subject:bundle>", "sub-XX_bundle-NAME_desc-start_mask.nii.gz",
          "derivatives/phantom-rois"}) {
        EXPECT_NE(help.find(text), std::string::npos) << text;
    }
}
