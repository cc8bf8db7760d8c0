// trkconvert between .trk and MRtrix3's .tck, checked with readers that no one here wrote:
// nibabel for the world position of every point, MRtrix3's own tools for the file itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "CTrackReader.h"
#include "CTrackWriter.h"
#include "TestSupport.h"

namespace {

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;
using testsupport::writeFile;

using testsupport::shell;

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

std::vector<float> recordsOf(const std::string& path) {
    CTrackReader reader;
    TRACK_HEADER header;
    EXPECT_TRUE(reader.Open(path.c_str(), &header));
    std::vector<float> all;
    for (int n = 0; reader.GetNextPointCount(&n);) {
        std::vector<float> values(static_cast<size_t>(n) * (3 + header.scalar_count) +
                                  static_cast<size_t>(header.property_count));
        EXPECT_TRUE(reader.GetNextRawData(n, values.data()));
        all.push_back(static_cast<float>(n));
        all.insert(all.end(), values.begin(), values.end());
    }
    return all;
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
    // And on the same voxels, which is what a picture over the map shows: a volume without
    // orientation has the voxel order the tracker gave it, not its matrix's.
    const std::vector<float> stored = recordsOf(trk());
    const std::vector<float> returned = recordsOf(back);
    ASSERT_EQ(stored.size(), returned.size());
    double worst = 0.0;
    for (size_t i = 0; i < stored.size(); ++i) {
        worst = std::max(worst, static_cast<double>(std::fabs(stored[i] - returned[i])));
    }
    EXPECT_LT(worst, 1e-3);

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

TEST_P(TrackConversion, EveryProgramReadsAndWritesTracksByTheirEnding) {
    const std::string fa = dir_.file("t_fa.nii");
    for (const std::string ending : {".tck", ".trx"}) {
        SCOPED_TRACE(ending);
        const std::string tracks = dir_.file("direct" + ending);
        const auto run = runProgram("fiberwalk", {dir_.file("t"), tracks, "-m", fa, "0.2", "1.1"});
        ASSERT_EQ(run.status, 0) << run.err;
        // The same tracks as the .trk of the same run, in the world nibabel sees.
        const std::string back = dir_.file("direct" + ending + ".trk");
        ASSERT_EQ(runProgram("trkconvert", {tracks, back, "-ref", fa}).status, 0);
        const Comparison same = sameWorld(dir_, trk(), back, 1e-3);
        EXPECT_TRUE(same.same) << same.log;
        // Smoothed into another format, and drawn over the map.
        const std::string smooth = dir_.file("smooth" + ending + (ending == ".tck" ? ".trx" : ".tck"));
        const auto smoothed = runProgram("trksmooth", {tracks, "0.5", smooth});
        EXPECT_EQ(smoothed.status, 0) << smoothed.err;
        EXPECT_NE(smoothed.out.find("Number of tracks: " + std::to_string(same.tracks)),
                  std::string::npos);
        const auto picture =
            runProgram("trkview", {fa, tracks, dir_.file("p" + ending + ".png"), "-a"});
        EXPECT_EQ(picture.status, 0) << picture.err;
        EXPECT_NE(picture.out.find(std::to_string(same.tracks) + " of " +
                                   std::to_string(same.tracks) + " tracks drawn"),
                  std::string::npos)
            << picture.out;
    }
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
        EXPECT_NE(result.err.find(in), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
        EXPECT_FALSE(fileExists(dir.file(c.name + "_copy.tck")));
    }
}


// TRX read as its published description has it, with Python's zipfile and numpy: nothing of
// ours. Compares with nibabel's world points of a .trk and prints the values it found.
constexpr const char* kReadTrx = R"(
import json
import sys
import zipfile
import numpy as np
import nibabel as nib

archive = zipfile.ZipFile(sys.argv[1])
header = json.loads(archive.read("header.json"))
positions = np.frombuffer(archive.read("positions.3.float32"), "<f4").reshape(-1, 3)
offsets = np.frombuffer(archive.read("offsets.uint64"), "<u8")
assert positions.shape[0] == header["NB_VERTICES"]
assert len(offsets) in (header["NB_STREAMLINES"], header["NB_STREAMLINES"] + 1)
ends = list(offsets[1:header["NB_STREAMLINES"]]) + [header["NB_VERTICES"]]
tracks = [positions[s:e] for s, e in zip(offsets, ends)]
expected = nib.streamlines.load(sys.argv[2]).streamlines
assert len(tracks) == len(expected), "%d tracks against %d" % (len(tracks), len(expected))
worst = max((np.abs(a - b).max() for a, b in zip(tracks, expected)), default=0.0)
assert worst < 1e-4, "points differ by %g mm" % worst
assert all(info.compress_type == zipfile.ZIP_STORED for info in archive.infolist())
names = sorted(n for n in archive.namelist() if n.startswith(("dpv/", "dps/")))
for name in names:
    values = np.frombuffer(archive.read(name), "<f4")
    print(name, len(values), " ".join("%g" % v for v in values[:4]))
)";

// Two tracks with two values per point and (when perTrack) one per track, written with the
// toolkit's writer; withMatrix false leaves voxel_to_ras empty, as older files have it.
void writeTracksWithValues(const std::string& path, bool perTrack = true, bool withMatrix = true) {
    TRACK_HEADER header = TRACK_HEADER::MakeDefault();
    const short dims[3] = {10, 10, 10};
    for (int a = 0; a < 3; ++a) {
        header.dim[a] = dims[a];
        header.voxel_size[a] = 2.0f;
        header.voxel_to_ras[a][a] = withMatrix ? 2.0f : 0.0f;
    }
    header.voxel_to_ras[3][3] = withMatrix ? 1.0f : 0.0f;
    std::memcpy(header.voxel_order, "RAS", 4);
    header.scalar_count = 2;
    std::strcpy(header.scalar_names[0], "fa");
    std::strcpy(header.scalar_names[1], "md");
    header.property_count = perTrack ? 1 : 0;
    std::strcpy(header.property_names[0], "length");
    CTrackWriter writer;
    ASSERT_TRUE(writer.Initialize(path.c_str(), header));
    const float first[] = {1, 1, 1, 0.5f, 7, 3, 1, 1, 0.6f, 8, 4};
    const float second[] = {2, 2, 2, 0.1f, 5, 2, 3, 2, 0.2f, 6, 2, 4, 2, 0.3f, 7, 9};
    // Without the value per track, the records are the same less their last number.
    ASSERT_TRUE(writer.WriteNextTrack(2, first));
    ASSERT_TRUE(writer.WriteNextTrack(3, second));
    ASSERT_TRUE(writer.Close());
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

    // Values per point go into .tsf files beside the .tck, which MRtrix3 takes as their pair.
    const std::string withScalars = dir.file("s.trk");
    writeTracksWithValues(withScalars, false);
    const auto scalars = runProgram("trkconvert", {withScalars, dir.file("s.tck")});
    ASSERT_EQ(scalars.status, 0) << scalars.err;
    for (const std::string name : {"s_fa.tsf", "s_md.tsf"}) {
        EXPECT_TRUE(fileExists(dir.file(name))) << name;
        if (haveMrtrix()) {
            EXPECT_EQ(shell("tsfvalidate -quiet '" + dir.file(name) + "' '" + dir.file("s.tck") +
                            "' > '" + dir.file("validate.log") + "' 2>&1"),
                      0)
                << readFile(dir.file("validate.log"));
            // The values of each track, as MRtrix3 reads them, one file a track.
            ASSERT_EQ(shell("tsfinfo -quiet -ascii '" + dir.file(name) + "' '" + dir.file(name) +
                            "' > /dev/null 2>&1"),
                      0);
        }
    }
    if (haveMrtrix()) {
        std::string values;
        for (const std::string track : {"000000", "000001"}) {
            values += readFile(dir.file("s_fa.tsf-" + track + ".txt")) + " ";
        }
        float read[5] = {};
        EXPECT_EQ(std::sscanf(values.c_str(), "%f %f %f %f %f", &read[0], &read[1], &read[2],
                              &read[3], &read[4]),
                  5)
            << values;
        const float expected[5] = {0.5f, 0.6f, 0.1f, 0.2f, 0.3f};
        for (int i = 0; i < 5; ++i) {
            EXPECT_FLOAT_EQ(read[i], expected[i]);
        }
    }
}

TEST(TrackConversion, ValuesPerPointComeBackFromTheTsfFilesBesideATck) {
    TempDir dir;
    const std::string trk = dir.file("s.trk");
    writeTracksWithValues(trk, false);
    ASSERT_EQ(runProgram("trkconvert", {trk, dir.file("s.tck")}).status, 0);
    // The grid of the .trk file: 10 voxels of 2 mm a side, voxel centres at 2 i mm.
    testsupport::VolumeSpec grid;
    grid.dims = {10, 10, 10};
    grid.pixdim[0] = grid.pixdim[1] = grid.pixdim[2] = 2.0f;
    grid.qformCode = 1;
    grid.datatype = 16;  // float
    testsupport::writeVolume(dir.file("ref.nii"), grid, std::vector<float>(1000, 0.0f));
    const auto back = runProgram("trkconvert", {dir.file("s.tck"), dir.file("back.trk"), "-ref",
                                                dir.file("ref.nii")});
    ASSERT_EQ(back.status, 0) << back.err;
    const std::vector<float> before = recordsOf(trk);
    const std::vector<float> after = recordsOf(dir.file("back.trk"));
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_NEAR(before[i], after[i], 1e-5) << i;
    }
    // A .tsf of other tracks (another timestamp) is not taken; a cut one of these tracks stops.
    writeFile(dir.file("s_zz.tsf"), "mrtrix track scalars\ntimestamp: 1\ndatatype: Float32LE\n"
                                    "file: . 60\nEND\n");
    EXPECT_EQ(runProgram("trkconvert", {dir.file("s.tck"), dir.file("again.trk"), "-ref",
                                        dir.file("ref.nii")})
                  .status,
              0);
    const std::string md = readFile(dir.file("s_md.tsf"));
    writeFile(dir.file("s_md.tsf"), md.substr(0, md.size() - 20));
    const auto cut = runProgram("trkconvert", {dir.file("s.tck"), dir.file("cut.trk"), "-ref",
                                               dir.file("ref.nii")});
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("s_md.tsf"), std::string::npos) << cut.err;
}

TEST(TrackConversion, TrxKeepsPointsAndValuesAndReadsAsItsDescriptionSays) {
    TempDir dir;
    const std::string trk = dir.file("values.trk");
    writeTracksWithValues(trk);
    ASSERT_EQ(runProgram("trkconvert", {trk, dir.file("values.trx")}).status, 0);
    writeFile(dir.file("read_trx.py"), kReadTrx);
    const std::string log = dir.file("read_trx.log");
    ASSERT_EQ(shell("/usr/bin/python3 '" + dir.file("read_trx.py") + "' '" +
                    dir.file("values.trx") + "' '" + trk + "' > '" + log + "' 2>&1"),
              0)
        << readFile(log);
    EXPECT_EQ(readFile(log), "dps/length.float32 2 4 9\n"
                             "dpv/fa.float32 5 0.5 0.6 0.1 0.2\n"
                             "dpv/md.float32 5 7 8 5 6\n");
    // Back to .trk: every record as it was, values included, to float rounding.
    ASSERT_EQ(runProgram("trkconvert", {dir.file("values.trx"), dir.file("back.trk")}).status, 0);
    const std::vector<float> before = recordsOf(trk);
    const std::vector<float> after = recordsOf(dir.file("back.trk"));
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_NEAR(before[i], after[i], 1e-5) << i;
    }
    // A file without a matrix converts on the grid of its voxel sizes, and back.
    const std::string bare = dir.file("bare.trk");
    writeTracksWithValues(bare, true, false);
    ASSERT_EQ(runProgram("trkconvert", {bare, dir.file("bare.trx")}).status, 0);
    const auto bareBack = runProgram("trkconvert", {dir.file("bare.trx"), dir.file("bare2.trk")});
    ASSERT_EQ(bareBack.status, 0) << bareBack.err;
    const std::vector<float> bareAfter = recordsOf(dir.file("bare2.trk"));
    ASSERT_EQ(before.size(), bareAfter.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_NEAR(before[i], bareAfter[i], 1e-5) << i;
    }
    // A .tck holds no values: refused, and nothing is left behind.
    const auto tck = runProgram("trkconvert", {dir.file("values.trx"), dir.file("values.tck")});
    EXPECT_EQ(tck.status, 1);
    EXPECT_NE(tck.err.find("which a .tck file cannot hold"), std::string::npos) << tck.err;
    EXPECT_FALSE(fileExists(dir.file("values.tck")));
}

// Damaged archives, made from a good one with Python's zipfile.
constexpr const char* kDamageTrx = R"(
import json
import sys
import zipfile

good = zipfile.ZipFile(sys.argv[1])
members = {name: good.read(name) for name in good.namelist()}
folder = sys.argv[2]

def write(name, parts):
    with zipfile.ZipFile(folder + "/" + name, "w", zipfile.ZIP_STORED) as out:
        for member, data in parts.items():
            out.writestr(member, data)

header = json.loads(members["header.json"])
write("no_positions.trx", {k: v for k, v in members.items() if not k.startswith("positions")})
lying = dict(members, **{"header.json": json.dumps(dict(header, NB_VERTICES=header["NB_VERTICES"] + 1000000000))})
write("vertices.trx", lying)
more = dict(members, **{"header.json": json.dumps(dict(header, NB_STREAMLINES=header["NB_STREAMLINES"] + 5))})
write("streamlines.trx", more)
write("no_header.trx", {k: v for k, v in members.items() if k != "header.json"})
data = open(sys.argv[1], "rb").read()
open(folder + "/cut.trx", "wb").write(data[: len(data) // 2])
)";

TEST(TrackConversion, DamagedTrxArchivesStopWithTheFileAndTheReason) {
    TempDir dir;
    writeTracksWithValues(dir.file("values.trk"));
    ASSERT_EQ(runProgram("trkconvert", {dir.file("values.trk"), dir.file("good.trx")}).status, 0);
    writeFile(dir.file("damage.py"), kDamageTrx);
    ASSERT_EQ(shell("/usr/bin/python3 '" + dir.file("damage.py") + "' '" + dir.file("good.trx") +
                    "' '" + dir.path() + "'"),
              0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"no_positions.trx", "no member positions.3.float32 in the archive"},
        {"vertices.trx", "positions.3.float32 holds 60 bytes; header.json needs 12000000060"},
        {"streamlines.trx", "offsets.uint64 holds 16 bytes; header.json needs 56"},
        {"no_header.trx", "no member header.json in the archive"},
        {"cut.trx", "not a readable zip archive"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const auto result =
            runProgram("trkconvert", {dir.file(c.first), dir.file(c.first + ".trk")});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find(dir.file(c.first) + ": " + c.second), std::string::npos)
            << result.err;
        EXPECT_FALSE(fileExists(dir.file(c.first + ".trk")));
    }
}

}  // namespace
