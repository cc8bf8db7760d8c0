// trkview: its switch table against the parser and the help, and the program run as a process,
// where a damaged track file ends the run at the damaged record before any memory is sized from
// its point count.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "CMyCmdParser.h"
#include "CTrackWriter.h"
#include "SwitchTableCheck.h"
#include "TestSupport.h"
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
        testsupport::VolumeSpec spec;
        spec.dims = {8, 8, 4};
        spec.datatype = 16;  // float32
        std::vector<float> fa(8 * 8 * 4);
        for (std::size_t p = 0; p < fa.size(); ++p) {
            fa[p] = static_cast<float>(p % 8) / 8.0f;
        }
        testsupport::writeVolume(volume, spec, fa);
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

TEST(TrkviewSwitches, EveryEntryParsesInBothSpellingsAndTheHelpListsExactlyTheTable) {
    const auto help = runProgram("trkview", {"--help"});
    ASSERT_EQ(help.status, 0);
    expectSwitchTableHolds(TrkviewSettings::Switches(), help.out, {"fa.nii", "in.trk", "out.png"});
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
