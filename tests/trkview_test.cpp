// trkview: its switch table against the parser and the help, and the program run as a process,
// where a damaged track file ends the run at the damaged record before any memory is sized from
// its point count; then the quality-control mosaic.

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "BitmapFont.h"
#include "CMyCmdParser.h"
#include "CTrackWriter.h"
#include "MosaicLayout.h"
#include "MosaicPicture.h"
#include "TestSupport.h"
#include "TrackOverlay.h"
#include "TrkviewSettings.h"

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {


// Lowers the address space the programs started while it lives may use, so that a program
// sizing memory from a damaged count fails at once instead of filling the machine's memory.
// The sanitizers reserve terabytes of shadow memory up front, so under them nothing is limited.
class AddressSpaceLimit {
  public:
    explicit AddressSpaceLimit(rlim_t bytes) {
        if (!kSanitized && getrlimit(RLIMIT_AS, &saved_) == 0) {
            rlimit lowered = saved_;
            lowered.rlim_cur = std::min(bytes, saved_.rlim_max);
            active_ = setrlimit(RLIMIT_AS, &lowered) == 0;
        }
    }
    ~AddressSpaceLimit() {
        if (active_) {
            setrlimit(RLIMIT_AS, &saved_);
        }
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

  private:
#if defined(__SANITIZE_ADDRESS__)
    static constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    static constexpr bool kSanitized = true;
#else
    static constexpr bool kSanitized = false;
#endif
#else
    static constexpr bool kSanitized = false;
#endif
    rlimit saved_{};
    bool active_ = false;
};

constexpr rlim_t kOneGigabyte = rlim_t{1} << 30;

std::string int32Bytes(std::int32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

class TrkviewDamagedTracks : public ::testing::Test {
  protected:
    void SetUp() override {
        // 8 x 8 x 4 voxels of 1 mm: the middle slice 2 holds z in [2, 3).
        testsupport::VolumeSpec description;
        description.dims = {8, 8, 4};
        description.datatype = 16;  // float32
        std::vector<float> fa(8 * 8 * 4);
        for (std::size_t p = 0; p < fa.size(); ++p) {
            fa[p] = static_cast<float>(p % 8) / 8.0f;
        }
        testsupport::writeVolume(volume, description, fa);
    }

    // Two straight tracks of two points in the middle slice, no scalars or properties.
    void WriteTracks() {
        CTrackWriter writer;
        const int dim[3] = {8, 8, 4};
        const float size[3] = {1.0f, 1.0f, 1.0f};
        ASSERT_TRUE(writer.Initialize(tracks.c_str(), dim, size, nullptr, 0));
        const float first[6] = {1.0f, 1.0f, 2.5f, 6.0f, 6.0f, 2.5f};
        const float second[6] = {1.5f, 7.0f, 2.5f, 7.0f, 1.0f, 2.5f};
        ASSERT_TRUE(writer.WriteNextTrack(2, first));
        ASSERT_TRUE(writer.WriteNextTrack(2, second));
        ASSERT_TRUE(writer.Close());
    }

    RunResult Run() {
        const AddressSpaceLimit limit(kOneGigabyte);
        return runProgram("trkview", {volume, tracks, picture});
    }

    TempDir dir;
    std::string volume = dir.file("fa.nii");
    std::string tracks = dir.file("tracks.trk");
    std::string picture = dir.file("tracks.png");
};

}  // namespace

TEST_F(TrkviewDamagedTracks, IntactTracksAreAllDrawn) {
    WriteTracks();
    const RunResult r = Run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Slice 2 of 4: 2 of 2 tracks drawn, 32x32 picture written to " + picture + "\n");
    EXPECT_TRUE(fileExists(picture));
}

TEST_F(TrkviewDamagedTracks, APointCountOffByOneStopsAtTheTrackItShiftsOnto) {
    WriteTracks();
    std::string bytes = readFile(tracks);
    // The first count 2 becomes 3: the first record swallows the second record's count and
    // first point's x and y, and its z, 2.5f, is read as a count of about a thousand million
    // points, some 13 GB.
    bytes.replace(1000, 4, int32Bytes(3));
    writeFile(tracks, bytes);
    std::int32_t shifted = 0;
    const float z = 2.5f;
    std::memcpy(&shifted, &z, 4);
    const std::int64_t needed = static_cast<std::int64_t>(shifted) * 3 * 4;

    const RunResult r = Run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nTrack file " + tracks + " is truncated or corrupt at track 2: " +
                         "its point count " + std::to_string(shifted) + " needs " +
                         std::to_string(needed) + " bytes but 12 are left.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fileExists(picture));
}

TEST_F(TrkviewDamagedTracks, ATruncatedLastTrackIsReported) {
    WriteTracks();
    const std::string bytes = readFile(tracks);
    writeFile(tracks, bytes.substr(0, bytes.size() - 2));
    const RunResult r = Run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nTrack file " + tracks + " is truncated or corrupt at track 2: " +
                         "its point count 2 needs 24 bytes but 22 are left.\n");
    EXPECT_FALSE(fileExists(picture));
}

TEST_F(TrkviewDamagedTracks, ANegativePointCountIsReported) {
    WriteTracks();
    writeFile(tracks, readFile(tracks) + int32Bytes(-5) + std::string(24, '\0'));
    const RunResult r = Run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nTrack file " + tracks + " is truncated or corrupt at track 3: " +
                         "its point count -5 is negative.\n");
    EXPECT_FALSE(fileExists(picture));
}

TEST(TrkviewSwitches, SettingsFollowBothSpellings) {
    using Words = std::vector<const char*>;
    const Words shortWords = {"trkview", "fa.nii", "in.trk", "out.png", "-z", "3", "-s", "2", "-a"};
    const Words longWords = {"trkview", "fa.nii",  "in.trk", "out.png", "--slice",
                             "3",       "--scale", "2",      "--all"};
    for (const Words& words : {shortWords, longWords}) {
        const int argc = static_cast<int>(words.size());
        const CMyCmdParser parser(argc, words.data());
        TrkviewSettings settings;
        ASSERT_FALSE(TrkviewSettings::FromCommandLine(argc, parser, &settings).has_value());
        EXPECT_EQ(settings.volumeName, "fa.nii");
        EXPECT_EQ(settings.trackName, "in.trk");
        EXPECT_EQ(settings.pictureName, "out.png");
        EXPECT_EQ(settings.requestedSlice, 3);
        EXPECT_EQ(settings.scale, 2);
        EXPECT_TRUE(settings.drawAll);
    }
    const Words bare = {"trkview", "fa.nii", "in.trk", "out.png"};
    const CMyCmdParser parser(4, bare.data());
    TrkviewSettings settings;
    ASSERT_FALSE(TrkviewSettings::FromCommandLine(4, parser, &settings).has_value());
    EXPECT_EQ(settings.requestedSlice, -1);
    EXPECT_EQ(settings.scale, 4);
    EXPECT_FALSE(settings.drawAll);
}

// The quality-control mosaic (-mosaic): its layout, the orientation of its panels, the tracks
// near each slice coloured by direction and thinned where they crowd, and its caption. Volumes
// and tracks are made here; pictures are read back from the PNG files the program writes.

namespace {

using Colour = std::array<std::uint8_t, 3>;
using Dims = std::array<int, 3>;
using Sizes = std::array<float, 3>;
using Point = std::array<float, 3>;
using Track = std::vector<Point>;

struct Picture {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    Colour At(int x, int y) const {
        const std::size_t p = 3 * (static_cast<std::size_t>(y) * width + x);
        return {rgb[p], rgb[p + 1], rgb[p + 2]};
    }
};

Picture readPng(const std::string& path) {
    Picture picture;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return picture;
    }
    image.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return picture;
    }
    picture.ok = true;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    return picture;
}

// An RGB24 volume whose voxel (i, j, k) has colour(i, j, k).
void writeRgbVolume(const std::string& path, const Dims& dims, const Sizes& size,
                    const std::function<Colour(int, int, int)>& colour) {
    testsupport::VolumeSpec description;
    description.dims = {dims[0], dims[1], dims[2]};
    description.datatype = 128;  // RGB24
    for (int a = 0; a < 3; ++a) {
        description.pixdim[a] = size[a];
    }
    std::vector<std::uint8_t> bytes;
    for (int k = 0; k < dims[2]; ++k) {
        for (int j = 0; j < dims[1]; ++j) {
            for (int i = 0; i < dims[0]; ++i) {
                const Colour c = colour(i, j, k);
                bytes.insert(bytes.end(), c.begin(), c.end());
            }
        }
    }
    testsupport::writeVolume(path, description, bytes);
}

// Tracks given in voxel units (voxel i spans [i, i+1)), stored in millimetres.
void writeTracks(const std::string& path, const Dims& dims, const Sizes& size,
                 const std::vector<Track>& tracks) {
    CTrackWriter writer;
    ASSERT_TRUE(writer.Initialize(path.c_str(), dims.data(), size.data(), nullptr, 0));
    for (const Track& track : tracks) {
        std::vector<float> points;
        for (const Point& p : track) {
            for (int a = 0; a < 3; ++a) {
                points.push_back(p[a] * size[a]);
            }
        }
        ASSERT_TRUE(writer.WriteNextTrack(static_cast<int>(track.size()), points.data()));
    }
    ASSERT_TRUE(writer.Close());
}

// A straight track from a to b with points every half voxel.
Track straightTrack(const Point& a, const Point& b) {
    double length = 0.0;
    for (int c = 0; c < 3; ++c) {
        length += (b[c] - a[c]) * (b[c] - a[c]);
    }
    const int steps = static_cast<int>(std::ceil(std::sqrt(length) / 0.5));
    Track track;
    for (int s = 0; s <= steps; ++s) {
        const float t = static_cast<float>(s) / static_cast<float>(steps);
        track.push_back(
            {a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]), a[2] + t * (b[2] - a[2])});
    }
    return track;
}

bool reddish(const Colour& c) {
    return c[0] >= c[1] + 60 && c[0] >= c[2] + 60;
}
bool bluish(const Colour& c) {
    return c[2] >= c[0] + 60 && c[2] >= c[1] + 60;
}

// Whether a pixel with the property lies within one pixel of (x, y).
bool nearPixel(const Picture& picture, double x, double y,
               const std::function<bool(const Colour&)>& property) {
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int u = static_cast<int>(std::floor(x)) + dx;
            const int v = static_cast<int>(std::floor(y)) + dy;
            if (u >= 0 && v >= 0 && u < picture.width && v < picture.height &&
                property(picture.At(u, v))) {
                return true;
            }
        }
    }
    return false;
}

// A feature a track should leave on a panel: a line from (x0, y0) to (x1, y1) in panel pixels
// (a point when both ends are the same).
struct Feature {
    double x0, y0, x1, y1;
};

double distanceToFeature(double x, double y, const Feature& f) {
    const double dx = f.x1 - f.x0;
    const double dy = f.y1 - f.y0;
    const double squared = dx * dx + dy * dy;
    const double t =
        squared > 0.0 ? std::clamp(((x - f.x0) * dx + (y - f.y0) * dy) / squared, 0.0, 1.0) : 0.0;
    return std::hypot(x - (f.x0 + t * dx), y - (f.y0 + t * dy));
}

// Pixels of the panel that differ from the map although they lie more than two pixels from
// every expected feature (panel pixel centres against panel coordinates).
int strayPixels(const Picture& picture, const MosaicPanel& panel, const Colour& map,
                const std::vector<Feature>& features) {
    int stray = 0;
    for (int y = panel.top(); y < panel.top() + panel.height(); ++y) {
        for (int x = panel.left(); x < panel.left() + panel.width(); ++x) {
            if (picture.At(x, y) == map) {
                continue;
            }
            const double u = x - panel.left() + 0.5;
            const double v = y - panel.top() + 0.5;
            bool near = false;
            for (const Feature& f : features) {
                near = near || distanceToFeature(u, v, f) <= 2.0;
            }
            stray += near ? 0 : 1;
        }
    }
    return stray;
}

class TrkviewMosaic : public ::testing::Test {
  protected:
    RunResult Run(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {volume, tracks, picture, "-mosaic"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runProgram("trkview", args);
    }

    // The layout the program uses for a volume with the automatic scale and the middle slices.
    static MosaicLayout middleLayout(const Dims& dims, const Sizes& size) {
        return MosaicLayout(dims, size, MosaicLayout::AutomaticScale(dims),
                            {dims[0] / 2, dims[1] / 2, dims[2] / 2});
    }

    TempDir dir;
    std::string volume = dir.file("fa_color.nii");
    std::string tracks = dir.file("tracks.trk");
    std::string picture = dir.file("mosaic.png");
};

}  // namespace

TEST_F(TrkviewMosaic, AMediumVolumeGivesThreePanelsEachAtLeast512PixelsWide) {
    const Dims dims = {96, 96, 60};
    const Sizes size = {2.0f, 2.0f, 2.0f};
    const Colour map = {30, 90, 150};
    writeRgbVolume(volume, dims, size, [&](int, int, int) { return map; });
    writeTracks(tracks, dims, size, {});
    const RunResult r = Run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Picture png = readPng(picture);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(r.out, "Mosaic of 96x96x60 at x 48, y 48, z 30: 0 of 0 tracks drawn, " +
                         std::to_string(png.width) + "x" + std::to_string(png.height) +
                         " picture written to " + picture + "\n");

    // Across the middle of the panels' row: three runs of map colour, each >= 512 pixels,
    // separated by background.
    const MosaicLayout layout = middleLayout(dims, size);
    const int row = layout.panels()[1].top() + layout.panels()[1].height() / 2;
    std::vector<int> runs;
    int length = 0;
    for (int x = 0; x <= png.width; ++x) {
        if (x < png.width && png.At(x, row) == map) {
            ++length;
        } else if (length > 0) {
            runs.push_back(length);
            length = 0;
        }
    }
    ASSERT_EQ(runs.size(), 3u);
    for (const int run : runs) {
        EXPECT_GE(run, 512);
    }
    EXPECT_GE(png.width, 3 * 512);
    EXPECT_EQ(png.At(0, 0), MosaicPicture::kBackground);
    EXPECT_EQ(png.width, layout.width());
    EXPECT_EQ(png.height, layout.height());
    // The axial panel is 96 voxels high, the other two 60.
    EXPECT_EQ(layout.panels()[0].height() * 60, layout.panels()[1].height() * 96);

    // -s still chooses the pixels per voxel.
    const RunResult small = Run({"-s", "2"});
    ASSERT_EQ(small.status, 0) << small.err;
    const Picture smallPng = readPng(picture);
    ASSERT_TRUE(smallPng.ok);
    const MosaicLayout scaled(dims, size, 2, {48, 48, 30});
    EXPECT_EQ(smallPng.width, scaled.width());
    EXPECT_EQ(smallPng.height, scaled.height());
    EXPECT_EQ(scaled.panels()[0].width(), 192);
    EXPECT_LT(smallPng.width, png.width);
}

TEST(TrkviewMosaicLayout, TheAutomaticScaleMakesTheNarrowestPanelAtLeast512PixelsWide) {
    for (const Dims& dims : {Dims{96, 96, 60}, Dims{32, 32, 20}, Dims{128, 128, 72},
                             Dims{96, 114, 70}, Dims{600, 600, 10}}) {
        const int scale = MosaicLayout::AutomaticScale(dims);
        const int narrowest = std::min(dims[0], dims[1]);
        EXPECT_GE(narrowest * scale, std::min(512, narrowest)) << dims[0] << "x" << dims[1];
        // The smallest such scale: one less falls short.
        if (scale > 1) {
            EXPECT_LT(narrowest * (scale - 1), 512) << dims[0] << "x" << dims[1];
        }
    }
}

TEST_F(TrkviewMosaic, PanelsFollowTheStatedOrientation) {
    // 20 x 16 x 12 voxels of 2 x 2 x 3 mm; the middle slices are x 10, y 8, z 6. One marked voxel
    // in each: off the panel's centre lines, so that a flip or swap of either axis moves it.
    const Dims dims = {20, 16, 12};
    const Sizes size = {2.0f, 2.0f, 3.0f};
    const Colour map = {90, 90, 90};
    const Colour yellow = {250, 250, 0};
    const Colour cyan = {0, 250, 250};
    const Colour magenta = {250, 0, 250};
    writeRgbVolume(volume, dims, size, [&](int i, int j, int k) {
        if (i == 3 && j == 2 && k == 6) {
            return yellow;  // axial slice
        }
        if (i == 2 && j == 8 && k == 10) {
            return cyan;  // coronal slice
        }
        if (i == 10 && j == 3 && k == 10) {
            return magenta;  // sagittal slice
        }
        return map;
    });
    writeTracks(tracks, dims, size, {});
    const RunResult r = Run({});
    ASSERT_EQ(r.status, 0) << r.err;
    const Picture png = readPng(picture);
    ASSERT_TRUE(png.ok);
    const MosaicLayout layout = middleLayout(dims, size);
    const int s = layout.scale();
    // The centre of voxel (column, row) of a panel, counted from its top-left corner.
    const auto at = [&](int panel, int column, int row) {
        const MosaicPanel& p = layout.panels()[panel];
        return png.At(p.left() + column * s + s / 2, p.top() + row * s + s / 2);
    };
    // Axial: x to the right, y downward.
    EXPECT_EQ(at(0, 3, 2), yellow);
    EXPECT_EQ(at(0, 20 - 1 - 3, 2), map);
    EXPECT_EQ(at(0, 3, 16 - 1 - 2), map);
    // Coronal: x to the right, z upward.
    EXPECT_EQ(at(1, 2, 12 - 1 - 10), cyan);
    EXPECT_EQ(at(1, 2, 10), map);
    EXPECT_EQ(at(1, 20 - 1 - 2, 12 - 1 - 10), map);
    // Sagittal: y to the right, z upward.
    EXPECT_EQ(at(2, 3, 12 - 1 - 10), magenta);
    EXPECT_EQ(at(2, 3, 10), map);
    EXPECT_EQ(at(2, 16 - 1 - 3, 12 - 1 - 10), map);

    // -z chooses the axial slice: slice 5 has no marked voxel.
    const RunResult other = Run({"-z", "5"});
    ASSERT_EQ(other.status, 0) << other.err;
    EXPECT_NE(other.out.find("at x 10, y 8, z 5:"), std::string::npos) << other.out;
    const Picture otherPng = readPng(picture);
    ASSERT_TRUE(otherPng.ok);
    const MosaicPanel& axial = layout.panels()[0];
    EXPECT_EQ(otherPng.At(axial.left() + 3 * s + s / 2, axial.top() + 2 * s + s / 2), map);

    const RunResult outside = Run({"-z", "12"});
    EXPECT_EQ(outside.status, 1);
    EXPECT_EQ(outside.err, "\nSlice 12 is outside the volume (0 to 11)\n");
}

TEST_F(TrkviewMosaic, TracksNearEachSliceAreDrawnInTheirDirectionsColour) {
    // 24 x 20 x 16 voxels of 2 x 2 x 3 mm; middle slices x 12, y 10, z 8. A track along x in
    // the axial slice, off the coronal slice (y 5.5 against 10.5), crossing the sagittal one; a
    // track along z through the middle of the coronal and sagittal slices, crossing the axial one.
    const Dims dims = {24, 20, 16};
    const Sizes size = {2.0f, 2.0f, 3.0f};
    const Colour map = {60, 60, 60};
    writeRgbVolume(volume, dims, size, [&](int, int, int) { return map; });
    const Track alongX = straightTrack({2.0f, 5.5f, 8.5f}, {22.0f, 5.5f, 8.5f});
    const Track alongZ = straightTrack({12.5f, 10.5f, 1.0f}, {12.5f, 10.5f, 15.0f});
    writeTracks(tracks, dims, size, {alongX, alongZ});
    const RunResult r = Run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(": 2 of 2 tracks drawn,"), std::string::npos) << r.out;
    const Picture png = readPng(picture);
    ASSERT_TRUE(png.ok);
    const MosaicLayout layout = middleLayout(dims, size);
    const double s = layout.scale();
    const MosaicPanel& axial = layout.panels()[0];
    const MosaicPanel& coronal = layout.panels()[1];
    const MosaicPanel& sagittal = layout.panels()[2];

    // Axial (x right, y down): a red line along row y 5.5 from x 2 to 22, a blue dot at
    // (12.5, 10.5).
    for (double x = 3.0; x <= 21.0; x += 1.5) {
        EXPECT_TRUE(nearPixel(png, axial.left() + x * s, axial.top() + 5.5 * s, reddish)) << x;
    }
    EXPECT_TRUE(nearPixel(png, axial.left() + 12.5 * s, axial.top() + 10.5 * s, bluish));
    EXPECT_EQ(
        strayPixels(png, axial, map,
                    {{2 * s, 5.5 * s, 22 * s, 5.5 * s}, {12.5 * s, 10.5 * s, 12.5 * s, 10.5 * s}}),
        0);

    // Coronal (x right, z up): a blue line along column x 12.5 from z 1 to 15; nothing of the x
    // track, which lies five voxels off this slice.
    for (double z = 2.0; z <= 14.0; z += 1.5) {
        EXPECT_TRUE(nearPixel(png, coronal.left() + 12.5 * s, coronal.top() + (16 - z) * s, bluish))
            << z;
    }
    EXPECT_EQ(strayPixels(png, coronal, map, {{12.5 * s, 1 * s, 12.5 * s, 15 * s}}), 0);

    // Sagittal (y right, z up): a blue line along column y 10.5, and the x track crossing the
    // slice as a red dot at (5.5, 8.5).
    for (double z = 2.0; z <= 14.0; z += 1.5) {
        EXPECT_TRUE(
            nearPixel(png, sagittal.left() + 10.5 * s, sagittal.top() + (16 - z) * s, bluish))
            << z;
    }
    EXPECT_TRUE(nearPixel(png, sagittal.left() + 5.5 * s, sagittal.top() + 7.5 * s, reddish));
    EXPECT_EQ(
        strayPixels(png, sagittal, map,
                    {{10.5 * s, 1 * s, 10.5 * s, 15 * s}, {5.5 * s, 7.5 * s, 5.5 * s, 7.5 * s}}),
        0);

    // The map shows through a single track.
    const Colour onLine =
        png.At(static_cast<int>(axial.left() + 8.25 * s), static_cast<int>(axial.top() + 5.5 * s));
    EXPECT_TRUE(reddish(onLine));
    EXPECT_GT(onLine[1], 0);
}

TEST_F(TrkviewMosaic, TwoThousandIdenticalTracksLeaveTheMapVisible) {
    const Dims dims = {24, 20, 16};
    const Sizes size = {2.0f, 2.0f, 2.0f};
    const Colour map = {40, 160, 40};
    writeRgbVolume(volume, dims, size, [&](int, int, int) { return map; });
    const std::vector<Track> crowd(2000, straightTrack({2.0f, 5.5f, 8.5f}, {22.0f, 5.5f, 8.5f}));
    writeTracks(tracks, dims, size, crowd);
    const RunResult r = Run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(": 2000 of 2000 tracks drawn,"), std::string::npos) << r.out;
    const Picture png = readPng(picture);
    ASSERT_TRUE(png.ok);
    const MosaicLayout layout = middleLayout(dims, size);
    const MosaicPanel& axial = layout.panels()[0];
    const int s = layout.scale();
    // Every pixel of the line shows the track's red, and the map's green still contributes a
    // good part: it is not the track's opaque red.
    const int y = axial.top() + static_cast<int>(5.5 * s);
    int onLine = 0;
    for (int x = axial.left() + 3 * s; x < axial.left() + 21 * s; ++x) {
        const Colour c = png.At(x, y);
        if (c == map) {
            continue;
        }
        ++onLine;
        EXPECT_GT(c[0], map[0] + 60) << x;
        EXPECT_GE(c[1], map[1] / 5) << x;
        EXPECT_NE(c, (Colour{255, 0, 0})) << x;
    }
    EXPECT_EQ(onLine, 18 * s);
}

TEST_F(TrkviewMosaic, ACrowdedBundleIsThinnedInsteadOfBecomingASolidBand) {
    // 2,000 tracks along x spread evenly over y 4 to 8 in the axial slice: unthinned, every
    // picture row of the bundle would be covered many times over.
    const Dims dims = {24, 20, 16};
    const Sizes size = {2.0f, 2.0f, 2.0f};
    const Colour map = {200, 40, 40};
    writeRgbVolume(volume, dims, size, [&](int, int, int) { return map; });
    std::vector<Track> bundle;
    for (int t = 0; t < 2000; ++t) {
        const float y = 4.0f + 4.0f * (static_cast<float>(t) + 0.5f) / 2000.0f;
        const float z = 8.5f + 0.4f * static_cast<float>(t % 5 - 2) / 2.0f;
        bundle.push_back(straightTrack({2.0f, y, z}, {22.0f, y, z}));
    }
    writeTracks(tracks, dims, size, bundle);
    const RunResult r = Run({});
    ASSERT_EQ(r.status, 0) << r.err;
    const Picture png = readPng(picture);
    ASSERT_TRUE(png.ok);
    const MosaicLayout layout = middleLayout(dims, size);
    const MosaicPanel& axial = layout.panels()[0];
    const int s = layout.scale();
    int untouched = 0;
    int pixels = 0;
    for (int y = axial.top() + 4 * s; y < axial.top() + 8 * s; ++y) {
        for (int x = axial.left() + 4 * s; x < axial.left() + 20 * s; ++x) {
            ++pixels;
            untouched += png.At(x, y) == map ? 1 : 0;
        }
    }
    // Tracks are drawn, but the map keeps at least 40 % of the bundle's pixels.
    EXPECT_GT(pixels - untouched, pixels / 5);
    EXPECT_GE(untouched, pixels * 2 / 5) << untouched << " of " << pixels;
}

TEST_F(TrkviewMosaic, TheCaptionIsWrittenInTheStripBelowThePanels) {
    const Dims dims = {24, 20, 16};
    const Sizes size = {2.0f, 2.0f, 2.0f};
    writeRgbVolume(volume, dims, size, [](int, int, int) { return Colour{0, 0, 0}; });
    writeTracks(tracks, dims, size, {});
    const MosaicLayout layout = middleLayout(dims, size);
    // The caption's pixels: the glyphs' ink, each font pixel scale x scale picture pixels.
    const auto inkPixels = [&](const std::string& text) {
        const int scale = layout.CaptionScale(text);
        int ink = 0;
        for (const char c : BitmapFont::Drawn(text)) {
            for (int row = 0; row < BitmapFont::kGlyphHeight; ++row) {
                for (int column = 0; column < BitmapFont::kGlyphWidth; ++column) {
                    ink += BitmapFont::Ink(c, column, row) ? scale * scale : 0;
                }
            }
        }
        return ink;
    };
    // Pixels of the strip in the caption colour; any other colour but the background fails.
    const auto captionPixels = [&](const Picture& png) {
        int count = 0;
        for (int y = layout.captionTop(); y < layout.captionTop() + layout.captionHeight(); ++y) {
            for (int x = 0; x < png.width; ++x) {
                const Colour c = png.At(x, y);
                EXPECT_TRUE(c == MosaicPicture::kBackground || c == MosaicPicture::kCaptionColour);
                count += c == MosaicPicture::kCaptionColour ? 1 : 0;
            }
        }
        return count;
    };

    const std::string caption = "sub-01  mean FA 0.41  12,345 tracks";
    ASSERT_EQ(Run({"-caption", caption}).status, 0);
    const Picture captioned = readPng(picture);
    ASSERT_TRUE(captioned.ok);
    ASSERT_EQ(captioned.height, layout.height());
    EXPECT_GE(layout.CaptionScale(caption), 2);
    EXPECT_EQ(captionPixels(captioned), inkPixels(caption));
    EXPECT_GT(inkPixels(caption), 0);
    // The panels' row is left alone: the strip lies below it.
    for (const MosaicPanel& panel : layout.panels()) {
        EXPECT_LE(panel.top() + panel.height(), layout.captionTop());
    }

    // Without -caption the volume's file name; an empty caption leaves the strip empty, at the
    // same picture size.
    ASSERT_EQ(Run({}).status, 0);
    EXPECT_EQ(captionPixels(readPng(picture)), inkPixels("fa_color.nii"));
    ASSERT_EQ(Run({"--caption", ""}).status, 0);
    const Picture empty = readPng(picture);
    EXPECT_EQ(empty.height, captioned.height);
    EXPECT_EQ(captionPixels(empty), 0);
}

TEST(TrkviewBitmapFont, EveryPrintableCharacterHasItsOwnGlyph) {
    const auto glyph = [](char c) {
        std::string pattern;
        for (int row = 0; row < BitmapFont::kGlyphHeight; ++row) {
            for (int column = 0; column < BitmapFont::kGlyphWidth; ++column) {
                pattern += BitmapFont::Ink(c, column, row) ? '#' : '.';
            }
        }
        return pattern;
    };
    std::set<std::string> seen;
    for (char c = ' '; c <= BitmapFont::kMissing; ++c) {
        const std::string pattern = glyph(c);
        EXPECT_TRUE(seen.insert(pattern).second) << "'" << c << "' looks like another character";
        EXPECT_EQ(pattern.find('#') == std::string::npos, c == ' ') << "'" << c << "'";
        if (c == BitmapFont::kMissing) {
            break;
        }
    }
    EXPECT_EQ(glyph('\n'), glyph(BitmapFont::kMissing));
    // Capitals and digits stand on the baseline: nothing below row 6.
    for (const char c : std::string("AZ09")) {
        EXPECT_NE(glyph(c).substr(6 * 5, 5), ".....") << c;
        EXPECT_EQ(glyph(c).substr(7 * 5), std::string(10, '.')) << c;
    }
    // A UTF-8 character is one box; a tab is a space.
    EXPECT_EQ(BitmapFont::Drawn("a\xc3\xa9\tb"), std::string("a") + BitmapFont::kMissing + " b");
    EXPECT_EQ(BitmapFont::Width("ab"), 2 * BitmapFont::kAdvance - 1);
    EXPECT_EQ(BitmapFont::Width(""), 0);
}

TEST(TrkviewTrackOverlay, DirectionColoursFollowTheColourFaConvention) {
    EXPECT_EQ(TrackOverlay::DirectionColour(-3.0, 0.0, 0.0), (Colour{255, 0, 0}));
    EXPECT_EQ(TrackOverlay::DirectionColour(0.0, 2.0, 0.0), (Colour{0, 255, 0}));
    EXPECT_EQ(TrackOverlay::DirectionColour(0.0, 0.0, -0.5), (Colour{0, 0, 255}));
    const Colour diagonal = TrackOverlay::DirectionColour(1.0, -1.0, 0.0);
    EXPECT_EQ(diagonal[0], diagonal[1]);
    EXPECT_NEAR(diagonal[0], 255.0 / std::sqrt(2.0), 1.0);
    EXPECT_EQ(diagonal[2], 0);
}

TEST_F(TrkviewMosaic, AScalarMapIsShownInGrey) {
    const Dims dims = {24, 20, 16};
    testsupport::VolumeSpec description;
    description.dims = {dims[0], dims[1], dims[2]};
    description.datatype = 16;  // float32
    std::vector<float> fa(static_cast<std::size_t>(dims[0]) * dims[1] * dims[2]);
    for (std::size_t p = 0; p < fa.size(); ++p) {
        fa[p] = static_cast<float>(p % 24) / 23.0f;  // 0 at x = 0 up to 1 at x = 23
    }
    testsupport::writeVolume(volume, description, fa);
    writeTracks(tracks, dims, {1.0f, 1.0f, 1.0f}, {});
    ASSERT_EQ(Run({}).status, 0);
    const Picture png = readPng(picture);
    ASSERT_TRUE(png.ok);
    const MosaicLayout layout = middleLayout(dims, {1.0f, 1.0f, 1.0f});
    const MosaicPanel& axial = layout.panels()[0];
    const int s = layout.scale();
    const Colour left = png.At(axial.left() + s / 2, axial.top() + s / 2);
    const Colour right = png.At(axial.left() + 23 * s + s / 2, axial.top() + s / 2);
    EXPECT_EQ(left, (Colour{0, 0, 0}));
    EXPECT_EQ(right, (Colour{255, 255, 255}));
    const Colour middle = png.At(axial.left() + 12 * s, axial.top() + s / 2);
    EXPECT_EQ(middle[0], middle[1]);
    EXPECT_EQ(middle[1], middle[2]);
    EXPECT_GT(middle[0], 0);
    EXPECT_LT(middle[0], 255);
}

TEST_F(TrkviewMosaic, ACaptionNeedsItsTextAndTheMosaic) {
    writeRgbVolume(volume, {4, 4, 4}, {1.0f, 1.0f, 1.0f}, [](int, int, int) { return Colour{}; });
    writeTracks(tracks, {4, 4, 4}, {1.0f, 1.0f, 1.0f}, {});
    const RunResult alone = runProgram("trkview", {volume, tracks, picture, "-caption", "sub-01"});
    EXPECT_EQ(alone.status, 2);
    EXPECT_EQ(alone.err, "\nA caption is drawn only on a mosaic (-mosaic).\n");
    EXPECT_EQ(alone.out, "Type 'trkview --help' for more information.\n");
    EXPECT_FALSE(fileExists(picture));

    const RunResult missing = Run({"--caption"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "\nMissing argument(s) for --caption.\n");
    EXPECT_FALSE(fileExists(picture));
}

TEST_F(TrkviewDamagedTracks, AMosaicStopsAtADamagedTrackToo) {
    WriteTracks();
    const std::string bytes = readFile(tracks);
    writeFile(tracks, bytes.substr(0, bytes.size() - 2));
    const RunResult r = runProgram("trkview", {volume, tracks, picture, "-mosaic"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nTrack file " + tracks + " is truncated or corrupt at track 2: " +
                         "its point count 2 needs 24 bytes but 22 are left.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fileExists(picture));
}

TEST(TrkviewSwitches, MosaicAndCaptionFollowBothSpellings) {
    using Words = std::vector<const char*>;
    const Words shortWords = {
        "trkview", "fa.nii", "in.trk", "out.png", "-mosaic", "-caption", "sub-01  mean FA 0.41"};
    const Words longWords = {
        "trkview", "fa.nii", "in.trk", "out.png", "--mosaic", "--caption", "sub-01  mean FA 0.41"};
    for (const Words& words : {shortWords, longWords}) {
        const int argc = static_cast<int>(words.size());
        const CMyCmdParser parser(argc, words.data());
        TrkviewSettings settings;
        ASSERT_FALSE(TrkviewSettings::FromCommandLine(argc, parser, &settings).has_value());
        EXPECT_TRUE(settings.mosaic);
        EXPECT_TRUE(settings.captionGiven);
        EXPECT_EQ(settings.caption, "sub-01  mean FA 0.41");
        EXPECT_FALSE(settings.scaleGiven);
        EXPECT_EQ(settings.pictureName, "out.png");
    }
    const Words bare = {"trkview", "fa.nii", "in.trk", "out.png", "-s", "3"};
    const CMyCmdParser parser(6, bare.data());
    TrkviewSettings settings;
    ASSERT_FALSE(TrkviewSettings::FromCommandLine(6, parser, &settings).has_value());
    EXPECT_FALSE(settings.mosaic);
    EXPECT_FALSE(settings.captionGiven);
    EXPECT_TRUE(settings.scaleGiven);
}
