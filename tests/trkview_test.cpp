// trkview: its switch table against the parser and the help, and the program run as a process,
// where a damaged track file ends the run at the damaged record before any memory is sized from
// its point count; then the quality-control mosaic, on made-up volumes and on a phantom run
// through tenscalc and fiberwalk with a right and an x-flipped gradient table.

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
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
#include "TRACK_HEADER.h"
#include "TestSupport.h"
#include "TrackDensity.h"
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

// The quality-control mosaic (-mosaic): its layout, the orientation of its panels and their
// letters, the grey map, the tracks near each slice coloured by direction and brighter where
// they crowd, and its caption. Volumes and tracks are made here; pictures are read back from the
// PNG files the program writes.

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

// A channel well above the others: over a grey map, only a track's colour does that.
bool reddish(const Colour& c) {
    return c[0] >= c[1] + 40 && c[0] >= c[2] + 40;
}
bool bluish(const Colour& c) {
    return c[2] >= c[0] + 40 && c[2] >= c[1] + 40;
}
bool grey(const Colour& c) {
    return c[0] == c[1] && c[1] == c[2];
}

// What the mosaic shows for a voxel of a colour map: the colour's length (FA * 255 for colour
// FA) as a grey level, dimmed to the map's brightest grey.
Colour greyShown(const Colour& voxel) {
    const long level = std::lround(std::min(255.0, std::hypot(voxel[0], voxel[1], voxel[2])));
    const auto shown =
        static_cast<std::uint8_t>((level * MosaicPicture::kBrightestMap + 127) / 255);
    return {shown, shown, shown};
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
    const Colour voxel = {30, 90, 150};
    const Colour map = greyShown(voxel);
    writeRgbVolume(volume, dims, size, [&](int, int, int) { return voxel; });
    writeTracks(tracks, dims, size, {});
    const RunResult r = Run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Picture png = readPng(picture);
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(r.out, "Mosaic of 96x96x60 at x 48, y 48, z 30: 0 of 0 tracks drawn, " +
                         std::to_string(png.width) + "x" + std::to_string(png.height) +
                         " picture written to " + picture + "\n");

    // Across the middle of the panels' row: three runs of the map's grey, each >= 512 pixels,
    // separated by background and letters.
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
    const Colour dull = {90, 90, 90};
    const Colour map = greyShown(dull);
    const Colour marked = greyShown({250, 250, 0});
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
        return dull;
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
    EXPECT_EQ(at(0, 3, 2), marked);
    EXPECT_EQ(at(0, 20 - 1 - 3, 2), map);
    EXPECT_EQ(at(0, 3, 16 - 1 - 2), map);
    // Coronal: x to the right, z upward.
    EXPECT_EQ(at(1, 2, 12 - 1 - 10), marked);
    EXPECT_EQ(at(1, 2, 10), map);
    EXPECT_EQ(at(1, 20 - 1 - 2, 12 - 1 - 10), map);
    // Sagittal: y to the right, z upward.
    EXPECT_EQ(at(2, 3, 12 - 1 - 10), marked);
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
    const Colour voxel = {60, 60, 60};
    const Colour map = greyShown(voxel);
    writeRgbVolume(volume, dims, size, [&](int, int, int) { return voxel; });
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

TEST_F(TrkviewMosaic, ACrowdOfTracksIsBrighterThanOneTrackButNoWider) {
    // Tracks along x at y 5.5 voxels: on the border between two rows of pixels.
    const Dims dims = {24, 20, 16};
    const Sizes size = {2.0f, 2.0f, 2.0f};
    const Colour voxel = {40, 160, 40};
    writeRgbVolume(volume, dims, size, [&](int, int, int) { return voxel; });
    const MosaicLayout layout = middleLayout(dims, size);
    const MosaicPanel& axial = layout.panels()[0];
    const int s = layout.scale();
    const int border = static_cast<int>(5.5 * s);
    // The panel's column across the middle of the line, from the top.
    const auto column = [&](std::size_t count) {
        const Track line = straightTrack({2.0f, 5.5f, 8.5f}, {22.0f, 5.5f, 8.5f});
        writeTracks(tracks, dims, size, std::vector<Track>(count, line));
        EXPECT_EQ(Run({}).status, 0);
        const Picture png = readPng(picture);
        std::vector<Colour> colours;
        for (int y = axial.top(); png.ok && y < axial.top() + axial.height(); ++y) {
            colours.push_back(png.At(axial.left() + 12 * s, y));
        }
        return colours;
    };
    const std::vector<Colour> one = column(1);
    const std::vector<Colour> crowd = column(1000);
    ASSERT_EQ(one.size(), static_cast<std::size_t>(axial.height()));
    ASSERT_EQ(crowd.size(), one.size());
    for (int y = 0; y < axial.height(); ++y) {
        const bool onLine = y == border - 1 || y == border;
        EXPECT_EQ(one[y] == greyShown(voxel), !onLine) << y;
        EXPECT_EQ(crowd[y] == greyShown(voxel), !onLine) << y;
        if (onLine) {
            // One track tints the map red; a thousand give the full red.
            EXPECT_TRUE(reddish(one[y]) && one[y][1] == one[y][2] && one[y][1] > 0) << y;
            EXPECT_EQ(crowd[y], (Colour{255, 0, 0})) << y;
        }
    }
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

TEST(TrkviewTrackDensity, DirectionColoursFollowTheColourFaConvention) {
    using Light = TrackDensity::Light;
    EXPECT_EQ(TrackDensity::DirectionColour(-3.0, 0.0, 0.0), (Light{1.0f, 0.0f, 0.0f}));
    EXPECT_EQ(TrackDensity::DirectionColour(0.0, 2.0, 0.0), (Light{0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(TrackDensity::DirectionColour(0.0, 0.0, -0.5), (Light{0.0f, 0.0f, 1.0f}));
    const Light diagonal = TrackDensity::DirectionColour(1.0, -1.0, 0.0);
    EXPECT_EQ(diagonal[0], diagonal[1]);
    EXPECT_NEAR(diagonal[0], 1.0 / std::sqrt(2.0), 1e-6);
    EXPECT_EQ(diagonal[2], 0.0f);
    EXPECT_EQ(TrackDensity::DirectionColour(0.0, 0.0, 0.0), (Light{0.0f, 0.0f, 0.0f}));
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
    const auto brightest = static_cast<std::uint8_t>(MosaicPicture::kBrightestMap);
    EXPECT_EQ(left, (Colour{0, 0, 0}));
    EXPECT_EQ(right, (Colour{brightest, brightest, brightest}));
    const Colour middle = png.At(axial.left() + 12 * s, axial.top() + s / 2);
    EXPECT_EQ(middle[0], middle[1]);
    EXPECT_EQ(middle[1], middle[2]);
    EXPECT_GT(middle[0], 0);
    EXPECT_LT(middle[0], brightest);
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

// The panels' names and the letters of the patient directions at their edges, from the volume's
// sform, else its qform, else the track file's voxel order.

namespace {

using Letters = std::vector<std::string>;

// Whether the picture shows the text in the label colour on the background from the corner on,
// each font pixel scale x scale picture pixels, over the first rows of the glyph cells.
bool showsText(const Picture& png, const std::string& text, MosaicLayout::Corner corner, int scale,
               int rows) {
    for (int i = 0; i < static_cast<int>(text.size()); ++i) {
        for (int y = 0; y < rows * scale; ++y) {
            for (int x = 0; x < BitmapFont::kGlyphWidth * scale; ++x) {
                const int u = corner.left + i * BitmapFont::kAdvance * scale + x;
                const int v = corner.top + y;
                const bool ink = BitmapFont::Ink(text[i], x / scale, y / scale);
                if (u >= png.width || v >= png.height ||
                    png.At(u, v) !=
                        (ink ? MosaicPicture::kLabelColour : MosaicPicture::kBackground)) {
                    return false;
                }
            }
        }
    }
    return true;
}

// For each panel the letters at its left, right, top and bottom edges: ' ' where there is none,
// '?' where something else is drawn.
Letters panelLetters(const Picture& png, const MosaicLayout& layout) {
    Letters letters;
    for (const MosaicPanel& panel : layout.panels()) {
        std::string edges;
        for (const auto edge : {MosaicPanel::Edge::kLeft, MosaicPanel::Edge::kRight,
                                MosaicPanel::Edge::kTop, MosaicPanel::Edge::kBottom}) {
            char found = '?';
            for (const char c : std::string(" RLAPSI")) {
                found = showsText(png, std::string(1, c), layout.LetterCorner(panel, edge),
                                  layout.labelScale(), BitmapFont::kCapitalHeight)
                            ? c
                            : found;
            }
            edges += found;
        }
        letters.push_back(edges);
    }
    return letters;
}

bool showsNames(const Picture& png, const MosaicLayout& layout, const Letters& names) {
    bool shown = true;
    for (std::size_t p = 0; p < names.size(); ++p) {
        const MosaicPanel& panel = layout.panels()[p];
        shown = shown && showsText(png, names[p], layout.NameCorner(panel),
                                   layout.NameScale(panel, names[p]), BitmapFont::kGlyphHeight);
    }
    return shown;
}

}  // namespace

TEST_F(TrkviewMosaic, EdgesAreLetteredFromTheSformElseTheQformElseTheTracksVoxelOrder) {
    const Dims dims = {20, 16, 12};
    testsupport::VolumeSpec description;
    description.dims = {dims[0], dims[1], dims[2]};
    description.datatype = 128;  // RGB24
    // A qform turned 90 degrees about z: voxel x runs toward A, voxel y toward L.
    description.qformCode = 1;
    description.quatern[2] = static_cast<float>(std::sqrt(0.5));
    const MosaicLayout layout = middleLayout(dims, {1.0f, 1.0f, 1.0f});
    const auto letters = [&](const std::string& voxelOrder) {
        testsupport::writeVolume(volume, description, std::vector<std::uint8_t>(3 * 20 * 16 * 12));
        writeTracks(tracks, dims, {1.0f, 1.0f, 1.0f}, {});
        std::string trk = readFile(tracks);
        trk.replace(offsetof(TRACK_HEADER, voxel_order), 3, voxelOrder);
        writeFile(tracks, trk);
        EXPECT_EQ(Run({}).status, 0);
        return panelLetters(readPng(picture), layout);
    };
    EXPECT_EQ(letters("LPS"), (Letters{"PARL", "PASI", "RLSI"}));
    description.sformCode = 1;  // RAS
    EXPECT_EQ(letters("LPS"), (Letters{"LRPA", "LRSI", "PASI"}));
    description.sformCode = description.qformCode = 0;
    EXPECT_EQ(letters("lps"), (Letters{"RLAP", "RLSI", "APSI"}));
    // A voxel order naming no directions (an empty one means LPS in a track file): no letters.
    EXPECT_EQ(letters("XYZ"), (Letters{"    ", "    ", "    "}));
    EXPECT_TRUE(
        showsNames(readPng(picture), layout, {"axial z=6", "coronal y=8", "sagittal x=10"}));
    ASSERT_EQ(Run({"-z", "5"}).status, 0);
    EXPECT_TRUE(showsNames(readPng(picture), layout, {"axial z=5"}));
    EXPECT_FALSE(showsNames(readPng(picture), layout, {"axial z=6"}));
}

// The mosaic of a phantom run through tenscalc and fiberwalk with its gradient table, with the
// table's x negated (which turns every fitted tensor), and with other noise.

namespace {

// Shares of the pixels in 12 hue sectors of 30 degrees (1 to 12) and of the grey ones (0).
using Histogram = std::array<double, 13>;
Histogram hueHistogram(const std::vector<Colour>& colours) {
    Histogram shares{};
    for (const Colour& c : colours) {
        const double high = std::max({c[0], c[1], c[2]});
        const double span = high - std::min({c[0], c[1], c[2]});
        // In sixths of the circle: red 0, yellow 1, green 2, cyan 3, blue 4, magenta 5.
        const double hue = span == 0.0    ? -1.0
                           : high == c[0] ? std::fmod((c[1] - c[2]) / span + 6.0, 6.0)
                           : high == c[1] ? (c[2] - c[0]) / span + 2.0
                                          : (c[0] - c[1]) / span + 4.0;
        shares[hue < 0.0 ? 0 : 1 + std::min(11, static_cast<int>(hue * 2.0))] +=
            1.0 / static_cast<double>(colours.size());
    }
    return shares;
}

class PhantomMosaic : public ::testing::Test {
  protected:
    static constexpr Dims kDims = {32, 32, 20};
    static constexpr int kAxial = 10;

    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        ASSERT_EQ(runProgram("dwiphantom", {file("p")}).status, 0);
        ASSERT_EQ(runProgram("dwiphantom", {file("q"), "-seed", "7"}).status, 0);
        std::istringstream table(readFile(file("p_grad.txt")));
        std::string flipped;
        for (std::string line; std::getline(table, line);) {
            const bool row = !line.empty() && line[0] != '#' && std::stod(line) != 0.0;
            flipped += (!row ? line : line[0] == '-' ? line.substr(1) : "-" + line) + "\n";
        }
        writeFile(file("flipped_grad.txt"), flipped);
        for (const auto& [run, data, grad] : {std::array<std::string, 3>{"right", "p", "p_grad"},
                                              {"flipped", "p", "flipped_grad"},
                                              {"reseeded", "q", "q_grad"}}) {
            ASSERT_EQ(
                runProgram("tenscalc", {file(data + ".nii"), file(run), "-gm", file(grad + ".txt")})
                    .status,
                0);
            ASSERT_EQ(runProgram("fiberwalk", {file(run), file(run + ".trk"), "-m",
                                               file(run + "_fa.nii"), "0.2"})
                          .status,
                      0);
            ASSERT_EQ(runProgram("trkview", {file(run + "_fa_color.nii"), file(run + ".trk"),
                                             file(run + ".png"), "-mosaic", "-caption", run})
                          .status,
                      0);
        }
    }
    static void TearDownTestSuite() { dir_.reset(); }

    static std::string file(const std::string& name) { return dir_->file(name); }
    static MosaicLayout layout() {
        return MosaicLayout(kDims, {2.0f, 2.0f, 2.0f}, MosaicLayout::AutomaticScale(kDims),
                            {kDims[0] / 2, kDims[1] / 2, kAxial});
    }
    static std::size_t voxel(int i, int j, int k) {
        return (static_cast<std::size_t>(k) * kDims[1] + j) * kDims[0] + i;
    }
    // The axial panel's pixels over voxel (i, j) of its slice.
    static std::vector<Colour> pixelsOver(const Picture& png, int i, int j) {
        const MosaicLayout mosaic = layout();
        const MosaicPanel& axial = mosaic.panels()[0];
        const int s = mosaic.scale();
        std::vector<Colour> pixels;
        for (int y = axial.top() + j * s; png.ok && y < axial.top() + (j + 1) * s; ++y) {
            for (int x = axial.left() + i * s; x < axial.left() + (i + 1) * s; ++x) {
                pixels.push_back(png.At(x, y));
            }
        }
        return pixels;
    }
    static std::vector<std::int16_t> labels() {
        return testsupport::readVolume(file("p_truth_wm.nii")).as<std::int16_t>();
    }

    static std::unique_ptr<TempDir> dir_;
};

std::unique_ptr<TempDir> PhantomMosaic::dir_;

}  // namespace

TEST_F(PhantomMosaic, GreyWhereNoTrackRunsAndRedAlongTheStraightBundle) {
    const Picture png = readPng(file("right.png"));
    const std::vector<float> fa = testsupport::readVolume(file("right_fa.nii")).as<float>();
    const std::vector<std::uint8_t> rgb = testsupport::readVolume(file("right_fa_color.nii")).bytes;
    const std::vector<std::int16_t> wm = labels();
    ASSERT_TRUE(png.ok);
    ASSERT_EQ(rgb.size(), 3 * fa.size());
    // Tracks run where FA >= 0.2; two voxels from every such voxel of the slices the axial
    // panel draws tracks from, it shows the colour FA map's length in grey.
    const auto tracking = [&](int i, int j) {
        bool near = false;
        for (int k = kAxial - 2; k <= kAxial + 2; ++k) {
            for (int b = std::max(0, j - 2); b <= std::min(kDims[1] - 1, j + 2); ++b) {
                for (int a = std::max(0, i - 2); a <= std::min(kDims[0] - 1, i + 2); ++a) {
                    near = near || fa[voxel(a, b, k)] >= 0.2f;
                }
            }
        }
        return near;
    };
    int greyVoxels = 0;
    std::vector<Colour> straight;
    for (int j = 0; j < kDims[1]; ++j) {
        for (int i = 0; i < kDims[0]; ++i) {
            const std::vector<Colour> pixels = pixelsOver(png, i, j);
            const std::size_t p = 3 * voxel(i, j, kAxial);
            const Colour grey = greyShown({rgb[p], rgb[p + 1], rgb[p + 2]});
            if (!tracking(i, j)) {
                ++greyVoxels;
                EXPECT_EQ(std::count(pixels.begin(), pixels.end(), grey), pixels.size());
            }
            if (wm[voxel(i, j, kAxial)] == 1) {  // the straight bundle, along x
                straight.insert(straight.end(), pixels.begin(), pixels.end());
            }
        }
    }
    EXPECT_GT(greyVoxels, 300);
    const auto reds = std::count_if(straight.begin(), straight.end(), reddish);
    const auto others = std::count_if(straight.begin(), straight.end(),
                                      [](const Colour& c) { return !reddish(c) && !grey(c); });
    EXPECT_GT(reds, static_cast<long>(straight.size() / 10));
    EXPECT_LT(others, reds / 4);
}

TEST_F(PhantomMosaic, PanelsAreLetteredFromTheTrackersVoxelOrder) {
    // The phantom's maps carry no orientation; the tracker took LPS from its .info file.
    const Picture png = readPng(file("right.png"));
    EXPECT_EQ(panelLetters(png, layout()), (Letters{"RLAP", "RLSI", "APSI"}));
    EXPECT_TRUE(showsNames(png, layout(), {"axial z=10", "coronal y=16", "sagittal x=16"}));
}

TEST_F(PhantomMosaic, AnXFlippedTableChangesTheColoursOverTheArc) {
    // The flipped tensors send the arc's tracks across it instead of along it: fewer, shorter
    // and fainter tracks over it, where other noise changes little.
    const std::vector<std::int16_t> wm = labels();
    std::map<std::string, Histogram> hues;
    std::map<std::string, double> strength;  // the mean of the strongest less the weakest channel
    for (const std::string run : {"right", "flipped", "reseeded"}) {
        const Picture png = readPng(file(run + ".png"));
        std::vector<Colour> arc;
        for (std::size_t p = voxel(0, 0, kAxial); p < voxel(0, 0, kAxial + 1); ++p) {
            if (wm[p] == 2) {
                const std::vector<Colour> pixels = pixelsOver(
                    png, static_cast<int>(p % kDims[0]), static_cast<int>(p / kDims[0] % kDims[1]));
                arc.insert(arc.end(), pixels.begin(), pixels.end());
            }
        }
        ASSERT_GT(arc.size(), 5000u) << run;
        hues[run] = hueHistogram(arc);
        for (const Colour& c : arc) {
            strength[run] += (std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]})) /
                             static_cast<double>(arc.size());
        }
    }
    const auto distance = [&](const std::string& run) {
        double sum = 0.0;
        for (std::size_t bin = 0; bin < hues[run].size(); ++bin) {
            sum += std::fabs(hues[run][bin] - hues["right"][bin]);
        }
        return sum / 2.0;  // 0 alike, 1 disjoint
    };
    EXPECT_GT(distance("flipped"), 0.2);
    EXPECT_LT(distance("reseeded"), 0.05);
    EXPECT_GT(hues["flipped"][0], hues["right"][0] + 0.15);  // grey: no track
    EXPECT_LT(strength["flipped"], 0.6 * strength["right"]);
    EXPECT_NEAR(strength["reseeded"], strength["right"], 0.1 * strength["right"]);
}
