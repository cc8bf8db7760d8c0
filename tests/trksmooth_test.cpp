// Spline smoothing: control point selection, the tangent system, segment resampling and the
// trksmooth program run as a process.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "CTrackReader.h"
#include "CTrackWriter.h"
#include "Curve.h"
#include "Spline.h"
#include "TestSupport.h"

using testsupport::readFile;
using testsupport::runProgram;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Exact hermite value in double precision, as a reference for the single-precision one.
double hermite(double p, double c, double m, double n, double t) {
    const double h01 = -2 * t * t * t + 3 * t * t;
    const double h10 = t * t * t - 2 * t * t + t;
    const double h11 = t * t * t - t * t;
    return p + h01 * c + h10 * m + h11 * n;
}

bool allFinite(const std::vector<float>& values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

// ---- control points --------------------------------------------------------------------------

TEST(SplineControlPoints, PicksWhereThePathLengthExceedsTheThreshold) {
    std::vector<float> track;
    for (int i = 0; i <= 10; ++i) {
        track.insert(track.end(), {static_cast<float>(i), 0.0f, 0.0f, 100.0f + i});
    }
    std::vector<float> selected;
    // A path of exactly the threshold is not enough: 0, 3, 6, 9 and the last point.
    ASSERT_EQ(Spline::SelectControlPoints(track.data(), 11, 4, 2.0f, selected), 5);
    ASSERT_EQ(selected.size(), 20u);
    const float expectedX[] = {0, 3, 6, 9, 10};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(selected[4 * k], expectedX[k]);
        EXPECT_EQ(selected[4 * k + 3], 100.0f + expectedX[k]);  // scalars come along
    }
}

TEST(SplineControlPoints, ShortTracksAndUnreachableThresholds) {
    const std::vector<float> track = {0, 0, 0, 1, 0, 0, 2, 0, 0};
    std::vector<float> selected;
    EXPECT_EQ(Spline::SelectControlPoints(track.data(), 0, 3, 1.0f, selected), 0);
    EXPECT_EQ(Spline::SelectControlPoints(track.data(), 1, 3, 1.0f, selected), 1);
    EXPECT_EQ(Spline::SelectControlPoints(track.data(), 2, 3, 1.0f, selected), 2);
    // Total length 2 never exceeds 2 before the last point.
    EXPECT_EQ(Spline::SelectControlPoints(track.data(), 3, 3, 2.0f, selected), 2);
    // A NaN threshold is never exceeded: only the last point.
    EXPECT_EQ(Spline::SelectControlPoints(track.data(), 3, 3, std::nanf(""), selected), 1);
    EXPECT_EQ(selected[0], 2.0f);
    // A threshold of 10000 mm is not exceeded by the starting distance alone.
    EXPECT_EQ(Spline::SelectControlPoints(track.data(), 3, 3, 10000.0f, selected), 2);
    EXPECT_EQ(selected[0], 1.0f);
}

// ---- tangent system ----------------------------------------------------------------------------

TEST(SplineTangents, ExactlyTenJacobiSweepsFromTheDiagonalGuess) {
    // Straight, evenly spaced: every row reduces to x' = (3 - x) / 2 from x = 1.5, which after
    // ten sweeps is 1 + 0.5 / 2^10 exactly; nine or eleven sweeps give a different value.
    const std::vector<float> controls = {0, 0, 0, 1, 0, 0, 2, 0, 0};
    Spline spline;
    spline.SetControlPoints(controls.data(), 3, 3);
    EXPECT_EQ(spline.GetRatio(0), 1.0f);
    EXPECT_EQ(spline.GetRatio(1), 1.0f);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(spline.GetStartTangent(k, 0), 1.00048828125f) << k;
        EXPECT_EQ(spline.GetStartTangent(k, 1), 0.0f);
    }
    EXPECT_EQ(spline.GetEndTangent(0, 0), 1.00048828125f);
    EXPECT_EQ(spline.GetEndTangent(1, 0), 1.00048828125f);
}

TEST(SplineTangents, ChordRatiosUseTheNextChordAndGuardZeroLengths) {
    // Chords of length 1, 2 and 4 along x.
    const std::vector<float> controls = {0, 0, 0, 1, 0, 0, 3, 0, 0, 7, 0, 0};
    Spline spline;
    spline.SetControlPoints(controls.data(), 4, 3);
    EXPECT_EQ(spline.GetChord(2, 0), 4.0f);
    EXPECT_EQ(spline.GetRatio(0), 0.5f);
    EXPECT_EQ(spline.GetRatio(1), 0.5f);
    EXPECT_EQ(spline.GetRatio(2), 1.0f);

    // Second chord of length 0: its ratio divides by 1e-8 instead.
    const std::vector<float> back = {0, 0, 0, 3, 4, 0, 3, 4, 0, 9, 4, 0};
    spline.SetControlPoints(back.data(), 4, 3);
    EXPECT_EQ(spline.GetRatio(0), 5.0f / 1e-8f);
    EXPECT_EQ(spline.GetRatio(1), 1e-8f / 6.0f);
}

TEST(SplineTangents, EndTangentsAreScaledStartTangentsOfTheNextSegment) {
    const std::vector<float> controls = {0, 0, 0, 1, 1, 0, 3, 1, 1, 4, 3, 2, 4, 6, 2};
    Spline spline;
    spline.SetControlPoints(controls.data(), 5, 3);
    for (int k = 0; k < 4; ++k) {
        for (int l = 0; l < 3; ++l) {
            EXPECT_EQ(spline.GetEndTangent(k, l),
                      spline.GetStartTangent(k + 1, l) * spline.GetRatio(k));
        }
    }
}

// ---- segments ----------------------------------------------------------------------------------

TEST(CurveSegment, StepCountFromTheLargestCoordinateDifference) {
    Curve curve;
    const float zero[3] = {0, 0, 0};
    const float a[3] = {0.3f, -2.5f, 1.0f};
    ASSERT_TRUE(curve.PutCurve(a, zero, zero, 0.5f, 3));
    EXPECT_EQ(curve.GetStepCount(), 5);
    const float exact[3] = {1.0f, 0.0f, 0.0f};
    ASSERT_TRUE(curve.PutCurve(exact, zero, zero, 0.5f, 3));
    EXPECT_EQ(curve.GetStepCount(), 2);
    const float below[3] = {0.2f, 0.1f, -0.4999f};
    ASSERT_TRUE(curve.PutCurve(below, zero, zero, 0.5f, 3));
    EXPECT_EQ(curve.GetStepCount(), 1);  // 0 steps are taken as 1
    ASSERT_TRUE(curve.PutCurve(zero, zero, zero, 0.5f, 3));
    EXPECT_EQ(curve.GetStepCount(), 1);
    // Scalars do not count.
    const float scalar[4] = {0.1f, 0.1f, 0.1f, 50.0f};
    const float zero4[4] = {0, 0, 0, 0};
    ASSERT_TRUE(curve.PutCurve(scalar, zero4, zero4, 0.5f, 4));
    EXPECT_EQ(curve.GetStepCount(), 1);
}

TEST(CurveSegment, TooManyStepsAreRefusedAndNonFiniteChordsTakeOne) {
    Curve curve;
    const float zero[3] = {0, 0, 0};
    const float far[3] = {1e30f, 0, 0};
    EXPECT_FALSE(curve.PutCurve(far, zero, zero, 1e-10f, 3));
    const float nan[3] = {std::nanf(""), 0, 0};
    EXPECT_TRUE(curve.PutCurve(nan, zero, zero, 0.5f, 3));
    EXPECT_EQ(curve.GetStepCount(), 1);
}

TEST(CurveSegment, PointsFollowTheHermiteCubic) {
    Curve curve;
    const float chord[3] = {3.0f, 0.0f, -1.0f};
    const float m[3] = {1.0f, 2.0f, 0.5f};
    const float n[3] = {0.0f, -1.0f, 1.0f};
    const float start[3] = {1.0f, 1.0f, 1.0f};
    ASSERT_TRUE(curve.PutCurve(chord, m, n, 1.0f, 3));
    ASSERT_EQ(curve.GetStepCount(), 3);
    for (int i = 1; i < 3; ++i) {
        float out[3];
        curve.GetPoint(i, start, out);
        const double t = i / 3.0;
        for (int l = 0; l < 3; ++l) {
            EXPECT_NEAR(out[l], hermite(start[l], chord[l], m[l], n[l], t), 1e-5) << i << l;
        }
    }
}

// ---- resampling --------------------------------------------------------------------------------

TEST(SplineResample, AStraightEvenlySpacedTrackStaysOnItsLine) {
    const float dir[3] = {0.6f, 0.8f, 0.0f};
    std::vector<float> track;
    for (int i = 0; i <= 20; ++i) {
        for (int l = 0; l < 3; ++l) {
            track.push_back(5.0f + 0.5f * static_cast<float>(i) * dir[l]);
        }
    }
    const float step = 0.55f;
    std::vector<float> controls;
    const int J = Spline::SelectControlPoints(track.data(), 21, 3, 2 * step, controls);
    ASSERT_EQ(J, 8);  // every third point and the last
    Spline spline;
    spline.SetControlPoints(controls.data(), J, 3);
    const std::int64_t room = spline.GetCurveCount(step);
    // Chords of 1.5 mm (1.2 in y) take 2 steps; the last one, 1 mm, takes 1.
    EXPECT_EQ(room, 6 * 3 + 2);
    std::vector<float> out(static_cast<std::size_t>(room) * 3);
    const int S = spline.Resample(step, out.data());
    EXPECT_EQ(S, 3 + 5 * 2 + 1);
    for (int l = 0; l < 3; ++l) {
        EXPECT_EQ(out[l], track[l]);
        EXPECT_EQ(out[3 * (S - 1) + l], track[3 * 20 + l]);
    }
    double previous = -1;
    for (int i = 0; i < S; ++i) {
        double along = 0;
        double off = 0;
        double v[3];
        for (int l = 0; l < 3; ++l) {
            v[l] = out[3 * i + l] - 5.0;
            along += v[l] * dir[l];
        }
        for (int l = 0; l < 3; ++l) {
            off += (v[l] - along * dir[l]) * (v[l] - along * dir[l]);
        }
        EXPECT_LT(std::sqrt(off), 1e-5) << i;
        EXPECT_GT(along, previous) << i;
        previous = along;
    }
}

TEST(SplineResample, ThreeControlPointsWithLinearScalars) {
    const std::vector<float> controls = {0, 0, 0, 10, 2, 0, 0, 20, 2, 2, 0, 40};
    Spline spline;
    spline.SetControlPoints(controls.data(), 3, 4);
    EXPECT_EQ(spline.GetRatio(0), 1.0f);
    EXPECT_EQ(spline.GetRatio(1), 1.0f);
    ASSERT_EQ(spline.GetCurveCount(0.5), 10);
    std::vector<float> out(40);
    ASSERT_EQ(spline.Resample(0.5f, out.data()), 9);
    // The segments' ends are the control points themselves.
    for (int l = 0; l < 3; ++l) {
        EXPECT_EQ(out[l], controls[l]);
        EXPECT_EQ(out[4 * 4 + l], controls[4 + l]);
        EXPECT_EQ(out[4 * 8 + l], controls[8 + l]);
    }
    // The first ramp runs over five points including the start, the second over four.
    const float scalars[] = {12, 14, 16, 18, 20, 25, 30, 35, 40};
    for (int i = 0; i < 9; ++i) {
        EXPECT_FLOAT_EQ(out[4 * i + 3], scalars[i]) << i;
    }
}

TEST(SplineResample, OneStepSegmentsAddOnlyTheirEndPoints) {
    // Chords shorter than the step: R = 1 everywhere.
    const std::vector<float> controls = {0,    0,    0,    0.3f, 0.1f, 0,
                                         0.5f, 0.3f, 0.2f, 0.6f, 0.6f, 0.2f};
    Spline spline;
    spline.SetControlPoints(controls.data(), 4, 3);
    ASSERT_EQ(spline.GetCurveCount(0.5), 6);
    std::vector<float> out(18);
    ASSERT_EQ(spline.Resample(0.5f, out.data()), 4);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(out[i], controls[i]);
    }
}

TEST(SplineResample, RandomTracksWithNearAndExactRepeatsStayFinite) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> move(-3.0f, 3.0f);
    std::uniform_int_distribution<int> kind(0, 3);
    Spline spline;
    std::vector<float> out;
    for (int trial = 0; trial < 500; ++trial) {
        const int J = 3 + trial % 9;
        std::vector<float> controls;
        float p[4] = {0, 0, 0, 1};
        for (int k = 0; k < J; ++k) {
            const int what = kind(random);
            for (int l = 0; l < 4; ++l) {
                if (what == 0) {
                    continue;  // an exact repeat
                }
                p[l] += what == 1 ? move(random) * 1e-9f : move(random);
            }
            controls.insert(controls.end(), p, p + 4);
        }
        spline.SetControlPoints(controls.data(), J, 4);
        const std::int64_t room = spline.GetCurveCount(0.1);
        ASSERT_GT(room, 0);
        out.assign(static_cast<std::size_t>(room) * 4, 0.0f);
        const int S = spline.Resample(0.1f, out.data());
        ASSERT_LE(S, room);
        ASSERT_TRUE(allFinite(out, static_cast<std::size_t>(S) * 4)) << "trial " << trial;
    }
}

// ---- the program -------------------------------------------------------------------------------

namespace {

struct Track {
    std::vector<float> body;  // n * w + properties values
    int n = 0;
};

TRACK_HEADER makeHeader(short scalars = 0, short properties = 0) {
    TRACK_HEADER h = TRACK_HEADER::MakeDefault();
    h.dim[0] = 10;
    h.dim[1] = 20;
    h.dim[2] = 30;
    h.voxel_size[0] = 2.0f;
    h.voxel_size[1] = 2.0f;
    h.voxel_size[2] = 2.5f;
    h.scalar_count = scalars;
    h.property_count = properties;
    return h;
}

void writeTracks(const std::string& path, const TRACK_HEADER& header,
                 const std::vector<Track>& tracks) {
    CTrackWriter writer;
    ASSERT_TRUE(writer.Initialize(path.c_str(), header));
    for (const Track& t : tracks) {
        ASSERT_TRUE(writer.WriteNextTrack(t.n, t.body.data()));
    }
    ASSERT_TRUE(writer.Close());
}

std::vector<Track> readTracks(const std::string& path, TRACK_HEADER* header = nullptr) {
    std::vector<Track> tracks;
    CTrackReader reader;
    TRACK_HEADER h;
    EXPECT_TRUE(reader.Open(path.c_str(), &h));
    if (header != nullptr) {
        *header = h;
    }
    const std::size_t w = 3 + static_cast<std::size_t>(h.scalar_count);
    Track t;
    while (reader.GetNextPointCount(&t.n)) {
        t.body.resize(static_cast<std::size_t>(t.n) * w + h.property_count);
        EXPECT_TRUE(reader.GetNextRawData(t.n, t.body.data()));
        tracks.push_back(t);
    }
    EXPECT_EQ(reader.GetRemainingBytes(), 0);
    return tracks;
}

// A straight track along x from x0 with the given spacing; scalars are the point index.
Track straightTrack(int n, float x0, float spacing, int scalars = 0, int properties = 0) {
    Track t;
    t.n = n;
    for (int i = 0; i < n; ++i) {
        t.body.insert(t.body.end(), {x0 + spacing * static_cast<float>(i), 4.0f, 6.0f});
        for (int s = 0; s < scalars; ++s) {
            t.body.push_back(static_cast<float>(i * 10 + s));
        }
    }
    for (int p = 0; p < properties; ++p) {
        t.body.push_back(100.0f + static_cast<float>(p));
    }
    return t;
}

std::int32_t int32At(const std::string& bytes, std::size_t offset) {
    std::int32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

const char* const kUsage =
    "\nUsage: trksmooth INPUT_TRACK_FILE STEP_LENGTH OUTPUT_TRACK_FILE\n\nNote:\n"
    "  STEP_LENGTH is in the unit of minimum voxel size\n\nExample:\n"
    "  trksmooth tracks.trk 0.5 tracks_spline.trk\n\n";

}  // namespace

class TrksmoothRun : public ::testing::Test {
  protected:
    TempDir dir;  // first: the names below are made from it
    std::string in = dir.file("in.trk");
    std::string out = dir.file("out.trk");
};

TEST_F(TrksmoothRun, TooFewArgumentsPrintTheUsage) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a", "0.5"}}) {
        const RunResult r = runProgram("trksmooth", args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, kUsage);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(TrksmoothRun, StepLengthMustBePositive) {
    writeTracks(in, makeHeader(), {straightTrack(5, 0, 1)});
    for (const char* step : {"0", "-1", "abc", "1e-50"}) {
        const RunResult r = runProgram("trksmooth", {in, step, out});
        EXPECT_EQ(r.status, 1) << step;
        EXPECT_EQ(r.err, "Step length must be larger than 0. \n") << step;
        EXPECT_FALSE(testsupport::fileExists(out)) << step;
    }
    // Positive, but nothing once scaled by the voxel size.
    TRACK_HEADER h = makeHeader();
    h.voxel_size[0] = 0.5f;
    writeTracks(in, h, {straightTrack(5, 0, 1)});
    const RunResult r = runProgram("trksmooth", {in, "1.4e-45", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Step length must be larger than 0. \n");
}

TEST_F(TrksmoothRun, InputThatCannotBeOpened) {
    RunResult r = runProgram("trksmooth", {dir.file("none.trk"), "0.5", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can not open file " + dir.file("none.trk") + "\n");
    writeFile(in, std::string(999, '\0'));
    r = runProgram("trksmooth", {in, "0.5", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can not open file " + in + "\n");
    EXPECT_FALSE(testsupport::fileExists(out));
}

TEST_F(TrksmoothRun, OutputThatCannotBeCreated) {
    writeTracks(in, makeHeader(), {straightTrack(5, 0, 1)});
    const std::string bad = dir.file("missing/out.trk");
    RunResult r = runProgram("trksmooth", {in, "0.5", bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can not create file " + bad + "\n");
    // Writing over the input would erase it before it is read.
    const std::string before = readFile(in);
    r = runProgram("trksmooth", {in, "0.5", in});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can not create file " + in + "\n");
    EXPECT_EQ(readFile(in), before);
}

TEST_F(TrksmoothRun, InvalidVoxelSizes) {
    for (const float bad : {0.0f, -1.0f, std::nanf(""), std::numeric_limits<float>::infinity()}) {
        TRACK_HEADER h = makeHeader();
        h.voxel_size[bad < 0 ? 2 : 1] = bad;
        if (std::isinf(bad)) {
            h.voxel_size[0] = h.voxel_size[1] = h.voxel_size[2] = bad;
        }
        writeTracks(in, h, {straightTrack(5, 0, 1)});
        const RunResult r = runProgram("trksmooth", {in, "0.5", out});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_EQ(r.err, "Invalid voxel size in track file " + in + "\n") << bad;
    }
}

TEST_F(TrksmoothRun, OneNonFiniteVoxelSizeAmongFiniteOnesIsInvalid) {
    // The smallest size would be finite, but the output header would carry the others on.
    for (const float bad : {std::numeric_limits<float>::infinity(), std::nanf("")}) {
        for (int axis = 0; axis < 3; ++axis) {
            TRACK_HEADER h = makeHeader();
            h.voxel_size[axis] = bad;
            writeTracks(in, h, {straightTrack(5, 0, 1)});
            const RunResult r = runProgram("trksmooth", {in, "0.5", out});
            EXPECT_EQ(r.status, 1) << bad << " on axis " << axis;
            EXPECT_EQ(r.err, "Invalid voxel size in track file " + in + "\n") << axis;
            EXPECT_EQ(r.out, "") << axis;
            EXPECT_FALSE(testsupport::fileExists(out)) << axis;
        }
    }
}

TEST_F(TrksmoothRun, ReportsProgressAndTheSummary) {
    writeTracks(in, makeHeader(), {straightTrack(2, 0, 1), straightTrack(9, 0, 1), Track{}});
    const RunResult r = runProgram("trksmooth", {in, "0.5", out});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "\nVolume dimension: 10 20 30\nVoxel size: 2.00 2.00 2.50\n"
              "\nSpline filtering track data... \b\\\b\\\b\\\bDone.\nNumber of tracks: 3\n");
    EXPECT_EQ(readTracks(out).size(), 3u);
}

TEST_F(TrksmoothRun, TheSpinnerTurnsEveryThousandTracks) {
    writeTracks(in, makeHeader(), std::vector<Track>(3001));
    const RunResult r = runProgram("trksmooth", {in, "0.5", out});
    ASSERT_EQ(r.status, 0);
    const std::string start = "Spline filtering track data... ";
    const std::size_t from = r.out.find(start);
    ASSERT_NE(from, std::string::npos);
    std::string marks;
    for (std::size_t i = from + start.size(); i + 1 < r.out.size(); i += 2) {
        if (r.out[i] != '\b' || r.out[i + 1] == 'D') {
            break;
        }
        marks += r.out[i + 1];
    }
    EXPECT_EQ(marks, std::string(999, '\\') + std::string(999, '|') + std::string(999, '/') +
                         std::string(1, '\\'));
    EXPECT_NE(r.out.find("\bDone.\nNumber of tracks: 3001\n"), std::string::npos);
}

TEST_F(TrksmoothRun, ShortTracksPassThroughWithScalarsAndProperties) {
    // Step 0.5 of 2 mm voxels: s = 1 mm, threshold 2 mm of path.
    const std::vector<Track> tracks = {
        Track{std::vector<float>{100, 101, 102}, 0},  // no points, only properties
        straightTrack(1, 3, 1, 2, 3), straightTrack(2, 3, 5, 2, 3),
        straightTrack(3, 0, 0.9f, 2, 3),  // 1.8 mm of path: only the ends are picked
    };
    writeTracks(in, makeHeader(2, 3), tracks);
    const RunResult r = runProgram("trksmooth", {in, "0.5", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Track> result = readTracks(out);
    ASSERT_EQ(result.size(), tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        EXPECT_EQ(result[i].n, tracks[i].n) << i;
        EXPECT_EQ(result[i].body, tracks[i].body) << i;
    }
}

TEST_F(TrksmoothRun, LongTracksAreResampledAlongTheirLine) {
    // 41 points 0.5 mm apart; control points every 2.5 mm, 2 steps of 1 mm per segment.
    const Track track = straightTrack(41, 1.0f, 0.5f, 1, 2);
    writeTracks(in, makeHeader(1, 2), {track});
    const RunResult r = runProgram("trksmooth", {in, "0.5", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Track> result = readTracks(out);
    ASSERT_EQ(result.size(), 1u);
    const Track& t = result[0];
    ASSERT_GT(t.n, 2);
    ASSERT_EQ(t.body.size(), static_cast<std::size_t>(t.n) * 4 + 2);
    EXPECT_EQ(t.body[0], 1.0f);               // starts at the first point
    EXPECT_EQ(t.body[4 * (t.n - 1)], 21.0f);  // ends at the last
    float previousX = 0;
    for (int i = 0; i < t.n; ++i) {
        const float* p = &t.body[4 * i];
        EXPECT_NEAR(p[1], 4.0f, 1e-5) << i;
        EXPECT_NEAR(p[2], 6.0f, 1e-5) << i;
        EXPECT_GT(p[0], previousX) << i;
        EXPECT_LE(p[0] - previousX, i == 0 ? 2.0f : 1.3f) << i;
        // The scalar was 20 (x - 1) on the input line; from the second segment on it ramps
        // from control point to control point as x does.
        if (i >= 3) {
            EXPECT_NEAR(p[3], 20.0f * (p[0] - 1.0f), 0.1) << i;
        }
        previousX = p[0];
    }
    // The first ramp runs over three points including the start: a third of the way each.
    EXPECT_NEAR(t.body[3], 50.0 / 3, 1e-4);
    EXPECT_NEAR(t.body[4 + 3], 100.0 / 3, 1e-4);
    EXPECT_EQ(t.body[8 + 3], 50.0f);
    EXPECT_EQ(t.body[4 * t.n], 100.0f);
    EXPECT_EQ(t.body[4 * t.n + 1], 101.0f);
}

TEST_F(TrksmoothRun, NanStepCopiesEveryTrack) {
    const std::vector<Track> tracks = {straightTrack(30, 0, 1), straightTrack(4, 2, 3)};
    writeTracks(in, makeHeader(), tracks);
    const RunResult r = runProgram("trksmooth", {in, "nan", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Track> result = readTracks(out);
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].body, tracks[0].body);
    EXPECT_EQ(result[1].body, tracks[1].body);
}

TEST_F(TrksmoothRun, OutputHeaderIsTheNormalisedInputHeader) {
    // A byte-swapped input with empty voxel orders, names, flags and a stale track count.
    TRACK_HEADER h = makeHeader(1, 1);
    std::strcpy(h.scalar_names[0], "fa");
    std::strcpy(h.property_names[0], "id");
    h.voxel_to_ras[0][3] = -90.0f;
    h.reserved[10] = 'r';
    h.invert_y = 1;
    h.swap_zx = 1;
    h.voxel_order[0] = '\0';
    h.image_orientation_patient[0] = 0.0f;
    h.image_orientation_patient[3] = 0.5f;
    h.version = 1;
    TRACK_HEADER foreign = h;
    foreign.track_count = 77;
    foreign.SwapByteOrder();
    std::string bytes(reinterpret_cast<const char*>(&foreign), 1000);
    const Track track = straightTrack(12, 0, 1, 1, 1);
    for (const Track& t : {track, track}) {
        std::int32_t n = t.n;
        TRACK_HEADER::SwapBytes(n);
        bytes.append(reinterpret_cast<const char*>(&n), 4);
        for (float v : t.body) {
            TRACK_HEADER::SwapBytes(v);
            bytes.append(reinterpret_cast<const char*>(&v), 4);
        }
    }
    writeFile(in, bytes);

    const RunResult r = runProgram("trksmooth", {in, "0.5", out});
    ASSERT_EQ(r.status, 0) << r.err;
    TRACK_HEADER expected = h;
    std::memcpy(expected.voxel_order, "LPS", 4);
    std::memcpy(expected.voxel_order_copy, "LPS", 4);
    expected.image_orientation_patient[0] = 1.0f;
    expected.image_orientation_patient[4] = 1.0f;
    expected.version = 2;
    expected.header_size = 1000;
    expected.track_count = 2;
    const std::string written = readFile(out);
    ASSERT_GE(written.size(), 1000u);
    EXPECT_EQ(written.substr(0, 1000), std::string(reinterpret_cast<const char*>(&expected), 1000));
    const std::vector<Track> result = readTracks(out);
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].body, result[1].body);
    EXPECT_EQ(result[0].body.back(), 100.0f);
}

TEST_F(TrksmoothRun, ALegacyInputGetsAFullHeader) {
    std::string bytes;
    const std::int32_t dims[3] = {7, 8, 9};
    const float voxel[3] = {1.0f, 1.0f, 1.0f};
    bytes.append(reinterpret_cast<const char*>(dims), 12);
    bytes.append(reinterpret_cast<const char*>(voxel), 12);
    const Track track = straightTrack(100, 0, 0.25f);
    for (int copy = 0; copy < 2; ++copy) {
        bytes.append(reinterpret_cast<const char*>(&track.n), 4);
        bytes.append(reinterpret_cast<const char*>(track.body.data()), track.body.size() * 4);
    }
    writeFile(in, bytes);
    const RunResult r = runProgram("trksmooth", {in, "1", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Volume dimension: 7 8 9\nVoxel size: 1.00 1.00 1.00\n"),
              std::string::npos);
    const std::string written = readFile(out);
    EXPECT_EQ(written.substr(0, 6), std::string("TRACK\0", 6));
    EXPECT_EQ(int32At(written, 988), 2);
    EXPECT_EQ(int32At(written, 996), 1000);
    TRACK_HEADER h;
    ASSERT_EQ(readTracks(out, &h).size(), 2u);
    EXPECT_EQ(h.dim[2], 9);
}

class TrksmoothDamagedInput : public TrksmoothRun {
  protected:
    // Two intact records of 3 points (one scalar, one property), then the damage.
    void RunWithDamage(const std::string& damage) {
        writeTracks(in, makeHeader(1, 1),
                    {straightTrack(3, 0, 1, 1, 1), straightTrack(3, 5, 1, 1, 1)});
        writeFile(in, readFile(in) + damage);
        const RunResult r = runProgram("trksmooth", {in, "0.5", out});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Track file is truncated or corrupt after 2 tracks: " + in + "\n");
        EXPECT_NE(r.out.find("Number of tracks: 2\n"), std::string::npos);
        TRACK_HEADER h;
        EXPECT_EQ(readTracks(out, &h).size(), 2u);
        EXPECT_EQ(h.track_count, 2);
    }
    static std::string int32Bytes(std::int32_t value) {
        return std::string(reinterpret_cast<const char*>(&value), 4);
    }
};

TEST_F(TrksmoothDamagedInput, PartialPointCount) {
    RunWithDamage(std::string("\3\0", 2));
}

TEST_F(TrksmoothDamagedInput, ShortRecordBody) {
    RunWithDamage(int32Bytes(3) + std::string(4 * 12, '\0'));
}

TEST_F(TrksmoothDamagedInput, NegativePointCount) {
    RunWithDamage(int32Bytes(-1) + std::string(64, '\0'));
}

TEST_F(TrksmoothDamagedInput, PointCountBeyondTheFile) {
    RunWithDamage(int32Bytes(2000000000) + std::string(64, '\0'));
}

TEST_F(TrksmoothRun, AStepTooSmallForARecordIsReported) {
    TRACK_HEADER h = makeHeader();
    h.voxel_size[0] = h.voxel_size[1] = h.voxel_size[2] = 1.0f;
    writeTracks(in, h, {straightTrack(2, 0, 1), straightTrack(5, 0, 1000)});
    const RunResult r = runProgram("trksmooth", {in, "1e-30", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Step length is too small to resample track 2 of " + in + "\n");
    EXPECT_EQ(readTracks(out).size(), 1u);
}

TEST_F(TrksmoothRun, AFailedWriteIsReported) {
    std::vector<Track> tracks(200, straightTrack(100, 0, 0.5f));
    writeTracks(in, makeHeader(), tracks);
    const RunResult r = runProgram("trksmooth", {in, "0.5", "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can not write file /dev/full\n");
}
