// End-to-end run of the whole pipeline on the small phantom: dwiphantom -> tenscalc ->
// fiberwalk -> trksmooth -> trkview, checked against the phantom's ground truth.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "CTrackWriter.h"
#include "PhantomTruth.h"
#include "TestSupport.h"

using namespace phantomtruth;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::RunResult;
using testsupport::TempDir;

namespace {

constexpr double kVoxel = 2.0;  // millimetres

class SmallPipeline : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        const std::string p = dir_->file("phantom");
        steps_ = new std::vector<RunResult>{
            runProgram("dwiphantom", {p}),
            runProgram("tenscalc", {p + ".nii", p, "-gm", p + "_grad.txt"}),
            runProgram("fiberwalk", {p, dir_->file("all.trk"), "-m", p + "_fa.nii", "0.2", "1.1"}),
            runProgram("fiberwalk", {p, dir_->file("arc.trk"), "-m", p + "_fa.nii", "0.2", "1.1",
                                     "-sm", WriteArcCoreSeeds(p), "1", "1"}),
            runProgram("trksmooth", {dir_->file("all.trk"), "0.5", dir_->file("smooth.trk")}),
            runProgram("trkview", {p + "_fa_color.nii", dir_->file("smooth.trk"),
                                   dir_->file("picture.png"), "-s", "4"}),
        };
    }
    // Seed mask of the arc bundle's core: the arc voxels (label 2 of the white-matter truth)
    // whose centre lies within one voxel of the arc's centre-line. Seeds spread over the whole
    // bundle would sit two thirds of its radius off the centre-line on average.
    static std::string WriteArcCoreSeeds(const std::string& prefix) {
        const Volume wm = ReadVolume(prefix + "_truth_wm.nii");
        const std::vector<Bundle> bundles = ReadBundles(prefix + "_truth_bundles.txt");
        std::vector<short> seeds(wm.voxels(), 0);
        for (const Bundle& bundle : bundles) {
            if (bundle.name != "arc") {
                continue;
            }
            for (size_t p = 0; p < wm.voxels(); ++p) {
                const Point centre{(p % 32 + 0.5) * kVoxel, (p / 32 % 32 + 0.5) * kVoxel,
                                   (p / (32 * 32) + 0.5) * kVoxel};
                seeds[p] =
                    wm.at(p) == bundle.label && DistanceToPolyline(centre, bundle.line) <= kVoxel;
            }
        }
        testsupport::VolumeSpec layout;
        layout.dims = {32, 32, 20};
        layout.datatype = DT_INT16;
        layout.pixdim[0] = layout.pixdim[1] = layout.pixdim[2] = static_cast<float>(kVoxel);
        const std::string name = prefix + "_arc_core.nii";
        testsupport::writeVolume(name, layout, seeds);
        return name;
    }

    static void TearDownTestSuite() {
        delete steps_;
        delete dir_;
        steps_ = nullptr;
        dir_ = nullptr;
    }
    void SetUp() override {
        for (const RunResult& step : *steps_) {
            ASSERT_EQ(step.status, 0) << step.out << step.err;
        }
    }
    static std::string file(const std::string& name) { return dir_->file(name); }

    static TempDir* dir_;
    static std::vector<RunResult>* steps_;
};

TempDir* SmallPipeline::dir_ = nullptr;
std::vector<RunResult>* SmallPipeline::steps_ = nullptr;

std::uint32_t BigEndian32(const std::string& bytes, size_t at) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

struct PngCheck {
    bool valid = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string pixels;  // inflated image data: per row one filter byte, then RGB
};

// Walks the chunks of a PNG file, checking signature, chunk CRCs and the header, and inflates
// the image data.
PngCheck CheckPng(const std::string& bytes) {
    PngCheck check;
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) != 0) {
        return check;
    }
    std::string compressed;
    bool ended = false;
    size_t at = 8;
    while (at + 12 <= bytes.size() && !ended) {
        const std::uint32_t length = BigEndian32(bytes, at);
        if (at + 12 + length > bytes.size()) {
            return check;
        }
        const std::string type = bytes.substr(at + 4, 4);
        const auto* start = reinterpret_cast<const Bytef*>(bytes.data() + at + 4);
        if (crc32(0L, start, length + 4) != BigEndian32(bytes, at + 8 + length)) {
            return check;
        }
        if (type == "IHDR") {
            check.width = BigEndian32(bytes, at + 8);
            check.height = BigEndian32(bytes, at + 12);
            // 8 bits per channel, colour type 2 (RGB).
            if (bytes[at + 16] != 8 || bytes[at + 17] != 2) {
                return check;
            }
        } else if (type == "IDAT") {
            compressed += bytes.substr(at + 8, length);
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    uLongf size = static_cast<uLongf>(check.height) * (1 + 3 * check.width);
    check.pixels.assign(size, '\0');
    const int status =
        uncompress(reinterpret_cast<Bytef*>(&check.pixels[0]), &size,
                   reinterpret_cast<const Bytef*>(compressed.data()), compressed.size());
    check.valid = ended && status == Z_OK && size == check.pixels.size();
    return check;
}

double MeanDistance(const std::vector<Polyline>& tracks, const Polyline& line, size_t* points) {
    double sum = 0.0;
    *points = 0;
    for (const Polyline& track : tracks) {
        for (const Point& q : track) {
            sum += DistanceToPolyline(q, line);
            ++*points;
        }
    }
    return *points > 0 ? sum / *points : 0.0;
}

}  // namespace

TEST_F(SmallPipeline, OrientationComesFromTheInfoFileBesideTheData) {
    // Neither program falls back to the default orientation with a notice.
    EXPECT_EQ((*steps_)[1].out.find("Did not find image info file"), std::string::npos);
    EXPECT_EQ((*steps_)[2].out.find("Did not find image info file"), std::string::npos);
    EXPECT_NE((*steps_)[1].out.find("Number of gradient directions: 64"), std::string::npos);
}

TEST_F(SmallPipeline, FittedFaAndDirectionMatchTheTruthInWhiteMatter) {
    const Volume fa = ReadVolume(file("phantom_fa.nii"));
    const Volume v1 = ReadVolume(file("phantom_v1.nii"));
    const Volume truthFa = ReadVolume(file("phantom_truth_fa.nii"));
    const Volume truthV1 = ReadVolume(file("phantom_truth_v1.nii"));
    const Volume wm = ReadVolume(file("phantom_truth_wm.nii"));
    ASSERT_EQ(fa.values.size(), wm.values.size());

    double relativeError = 0.0;
    double alignment = 0.0;
    int count = 0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        const int label = static_cast<int>(wm.at(p));
        if (label < 1 || label > 3) {  // single-fibre voxels; the crossing has no single truth
            continue;
        }
        relativeError += std::fabs(fa.at(p) - truthFa.at(p)) / truthFa.at(p);
        alignment += std::fabs(v1.at(p, 0) * truthV1.at(p, 0) + v1.at(p, 1) * truthV1.at(p, 1) +
                               v1.at(p, 2) * truthV1.at(p, 2));
        ++count;
    }
    ASSERT_GT(count, 300);
    EXPECT_LT(relativeError / count, 0.10);
    // A wrong gradient sign convention would tilt the arc's diagonal directions by 90 degrees.
    EXPECT_GT(alignment / count, 0.97);

    // In the isotropic brain-like tissue (b0 near 1000, away from CSF and the surface) the
    // fitted FA stays low.
    const Volume b0 = ReadVolume(file("phantom_b0.nii"));
    double isotropicFa = 0.0;
    int isotropic = 0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        if (wm.at(p) == 0 && b0.at(p) > 900.0 && b0.at(p) < 1100.0) {
            isotropicFa += fa.at(p);
            ++isotropic;
        }
    }
    ASSERT_GT(isotropic, 1000);
    EXPECT_LT(isotropicFa / isotropic, 0.1);

    // The background outside the head is masked out of the FA map.
    EXPECT_EQ(fa.at(0), 0.0);
    EXPECT_EQ(fa.at(wm.voxels() - 1), 0.0);
}

TEST_F(SmallPipeline, FactTracksSeededInTheArcFollowItsCentreLine) {
    const std::vector<Bundle> bundles = ReadBundles(file("phantom_truth_bundles.txt"));
    const auto arc = std::find_if(bundles.begin(), bundles.end(),
                                  [](const Bundle& b) { return b.name == "arc"; });
    ASSERT_NE(arc, bundles.end());
    const std::vector<Polyline> tracks = ReadTracks(file("arc.trk"));
    ASSERT_GT(tracks.size(), 20u);
    size_t points = 0;
    const double mean = MeanDistance(tracks, arc->line, &points);
    EXPECT_LT(mean, kVoxel) << "over " << points << " points";

    // The tracks run along the arc rather than stopping near their seeds.
    double length = 0.0;
    for (const Polyline& track : tracks) {
        for (size_t i = 1; i < track.size(); ++i) {
            length += std::sqrt(std::pow(track[i][0] - track[i - 1][0], 2) +
                                std::pow(track[i][1] - track[i - 1][1], 2) +
                                std::pow(track[i][2] - track[i - 1][2], 2));
        }
    }
    const double arcLength = M_PI * 0.2 * 32 * kVoxel;
    EXPECT_GT(length / tracks.size(), 0.5 * arcLength);
}

TEST_F(SmallPipeline, SmoothedTracksStayWithinHalfAVoxelOfTheirInput) {
    const std::vector<Polyline> input = ReadTracks(file("all.trk"));
    const std::vector<Polyline> smooth = ReadTracks(file("smooth.trk"));
    ASSERT_GT(input.size(), 100u);
    ASSERT_EQ(smooth.size(), input.size());
    double worst = 0.0;
    double sum = 0.0;
    size_t points = 0;
    for (size_t t = 0; t < input.size(); ++t) {
        ASSERT_FALSE(smooth[t].empty());
        for (const Point& q : smooth[t]) {
            const double d = DistanceToPolyline(q, input[t]);
            worst = std::max(worst, d);
            sum += d;
            ++points;
        }
    }
    EXPECT_LT(worst, 0.5 * kVoxel);
    EXPECT_LT(sum / points, 0.25 * kVoxel);
}

TEST_F(SmallPipeline, PictureIsAValidPngOfTheScaledSlice) {
    const PngCheck picture = CheckPng(readFile(file("picture.png")));
    ASSERT_TRUE(picture.valid);
    EXPECT_EQ(picture.width, 32u * 4u);
    EXPECT_EQ(picture.height, 32u * 4u);

    // The same slice without tracks differs: the tracks were drawn.
    CTrackWriter writer;
    const int dim[3] = {32, 32, 20};
    const float size[3] = {2.0f, 2.0f, 2.0f};
    ASSERT_TRUE(writer.Initialize(file("empty.trk").c_str(), dim, size, nullptr, 0));
    ASSERT_TRUE(writer.Close());
    ASSERT_EQ(
        runProgram("trkview", {file("phantom_fa_color.nii"), file("empty.trk"), file("empty.png")})
            .status,
        0);
    const PngCheck bare = CheckPng(readFile(file("empty.png")));
    ASSERT_TRUE(bare.valid);
    EXPECT_NE(bare.pixels, picture.pixels);
}

TEST(TrkviewCommandLine, ReportsMissingInputsAndBadSlices) {
    TempDir dir;
    const auto missing =
        runProgram("trkview", {dir.file("none.nii"), dir.file("none.trk"), dir.file("out.png")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(testsupport::fileExists(dir.file("out.png")));

    const auto tooFew = runProgram("trkview", {dir.file("none.nii")});
    EXPECT_EQ(tooFew.status, 2);
    EXPECT_NE(tooFew.err.find("Missing argument(s)."), std::string::npos);

    ASSERT_EQ(runProgram("dwiphantom", {dir.file("p")}).status, 0);
    const auto outside =
        runProgram("trkview", {dir.file("p_truth_fa.nii"), dir.file("p_truth_bundles.trk"),
                               dir.file("out.png"), "-z", "20"});
    EXPECT_EQ(outside.status, 1);
    EXPECT_NE(outside.err.find("outside the volume"), std::string::npos);

    // A grey-level map at scale 3 with every track drawn.
    const auto grey =
        runProgram("trkview", {dir.file("p_truth_fa.nii"), dir.file("p_truth_bundles.trk"),
                               dir.file("grey.png"), "-s", "3", "-a", "-z", "0"});
    ASSERT_EQ(grey.status, 0) << grey.err;
    EXPECT_NE(grey.out.find("3 of 3 tracks drawn, 96x96"), std::string::npos) << grey.out;
    const PngCheck picture = CheckPng(readFile(dir.file("grey.png")));
    ASSERT_TRUE(picture.valid);
    EXPECT_EQ(picture.width, 96u);
}
