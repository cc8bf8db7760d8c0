#include "CTrack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "CMyMath.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A tensor field with its mask and optional angle weights, every voxel inside by default.
struct Field {
    int dims[3];
    float voxelSize[3];
    std::vector<float> tensors;
    std::vector<short> mask;
    std::vector<float> weights;

    Field(int x, int y, int z, float size) : dims{x, y, z}, voxelSize{size, size, size} {
        const size_t n = static_cast<size_t>(x) * y * z;
        tensors.assign(6 * n, 0.0f);
        mask.assign(n, 1);
    }

    size_t Index(int x, int y, int z) const {
        return static_cast<size_t>(x) + dims[0] * (static_cast<size_t>(y) + dims[1] * z);
    }

    // Tensor with eigenvalues l0 > l1 > l2 along the orthonormal frame (e0, e1, e2).
    void Set(int x, int y, int z, const double* e0, const double* e1, const double* e2,
             double l0 = 1.0, double l1 = 0.3, double l2 = 0.1) {
        const double* e[3] = {e0, e1, e2};
        const double l[3] = {l0, l1, l2};
        const int rows[6] = {0, 0, 0, 1, 1, 2};
        const int cols[6] = {0, 1, 2, 1, 2, 2};
        float* t = &tensors[6 * Index(x, y, z)];
        for (int c = 0; c < 6; ++c) {
            double sum = 0.0;
            for (int j = 0; j < 3; ++j) {
                sum += l[j] * e[j][rows[c]] * e[j][cols[c]];
            }
            t[c] = static_cast<float>(sum);
        }
    }

    // Principal direction d (eigenvalue 1), the plane across it 0.2.
    void SetDirection(int x, int y, int z, const double* d) {
        const int rows[6] = {0, 0, 0, 1, 1, 2};
        const int cols[6] = {0, 1, 2, 1, 2, 2};
        float* t = &tensors[6 * Index(x, y, z)];
        for (int c = 0; c < 6; ++c) {
            t[c] = static_cast<float>((rows[c] == cols[c] ? 0.2 : 0.0) +
                                      0.8 * d[rows[c]] * d[cols[c]]);
        }
    }

    // Principal direction in the xy plane at angle phi from +x.
    void SetInPlane(int x, int y, int z, double phi) {
        const double e0[3] = {std::cos(phi), std::sin(phi), 0.0};
        const double e1[3] = {-std::sin(phi), std::cos(phi), 0.0};
        const double e2[3] = {0.0, 0.0, 1.0};
        Set(x, y, z, e0, e1, e2);
    }

    void FillInPlane(double phi) {
        for (int z = 0; z < dims[2]; ++z) {
            for (int y = 0; y < dims[1]; ++y) {
                for (int x = 0; x < dims[0]; ++x) {
                    SetInPlane(x, y, z, phi);
                }
            }
        }
    }

    int Track(const float* seed, int method, float step, float angle, std::vector<float>& points,
              int eigenIndex = 0, std::vector<float>* cache = nullptr) const {
        int count = -1;
        const int made = CTrack::GetTrack(
            dims, voxelSize, tensors.data(), mask.data(), seed, method, step, angle,
            weights.empty() ? nullptr : weights.data(), points, count, eigenIndex, cache);
        EXPECT_EQ(count * 3, made ? static_cast<int>(points.size()) : count * 3);
        return made ? count : -count;
    }
};

float CentreOf(int voxel, float size) {
    return static_cast<float>((voxel + 0.5) * size);
}

// ---- FACT geometry ------------------------------------------------------------------------

TEST(CTrackFact, UniformFieldPointsOneVoxelApartJustPastEachBoundary) {
    Field field(10, 5, 5, 2.0f);
    field.FillInPlane(0.0);
    const float seed[3] = {CentreOf(4, 2.0f), CentreOf(2, 2.0f), CentreOf(2, 2.0f)};
    std::vector<float> points;
    ASSERT_EQ(field.Track(seed, CTrack::kFACT, 0.05f, 45.0f, points), 10);

    // Sub-step 0.05 voxel = 0.1 mm. Backward half: voxels 0..3, entered from above, so each
    // point lies just below the upper face; the seed; then voxels 5..9 entered from below.
    const float subStepMm = 0.1f;
    for (int p = 0; p < 10; ++p) {
        SCOPED_TRACE(p);
        const float x = points[3 * p];
        EXPECT_FLOAT_EQ(points[3 * p + 1], seed[1]);
        EXPECT_FLOAT_EQ(points[3 * p + 2], seed[2]);
        if (p < 4) {
            const float face = 2.0f * (p + 1);
            EXPECT_LT(x, face);
            EXPECT_GE(x, face - subStepMm - 1e-4f);
        } else if (p == 4) {
            EXPECT_FLOAT_EQ(x, seed[0]);
        } else {
            const float face = 2.0f * p;
            EXPECT_GE(x, face);
            EXPECT_LE(x, face + subStepMm + 1e-4f);
        }
    }
}

TEST(CTrackFact, EachHalfEndsAtTheEntryOfTheLastVoxelInsideTheMask) {
    Field field(10, 3, 3, 2.0f);
    field.FillInPlane(0.0);
    for (int x = 0; x < 10; ++x) {
        field.mask[field.Index(x, 1, 1)] = (x >= 2 && x <= 7) ? 1 : 0;
    }
    const float seed[3] = {CentreOf(4, 2.0f), CentreOf(1, 2.0f), CentreOf(1, 2.0f)};
    std::vector<float> points;
    ASSERT_EQ(field.Track(seed, CTrack::kFACT, 0.05f, 45.0f, points), 6);
    EXPECT_LT(points[0], 6.0f);  // entered voxel 2 through its upper face at 6 mm
    EXPECT_GE(points[0], 5.9f - 1e-4f);
    EXPECT_GE(points[15], 14.0f);  // entered voxel 7 through its lower face at 14 mm
    EXPECT_LE(points[15], 14.1f + 1e-4f);
}

TEST(CTrackFact, SeedWithNeighboursOutsideTheMaskMakesNoTrack) {
    Field field(5, 5, 5, 1.0f);
    field.FillInPlane(0.0);
    std::fill(field.mask.begin(), field.mask.end(), 0);
    field.mask[field.Index(2, 2, 2)] = 1;
    const float seed[3] = {2.5f, 2.5f, 2.5f};
    std::vector<float> points = {1.0f, 2.0f, 3.0f};
    int count = -1;
    EXPECT_EQ(CTrack::GetTrack(field.dims, field.voxelSize, field.tensors.data(), field.mask.data(),
                               seed, CTrack::kFACT, 0.05f, 45.0f, nullptr, points, count, 0),
              0);
    EXPECT_EQ(count, 1);  // the forward half stored the seed, the backward half nothing
    EXPECT_TRUE(points.empty());

    // Seeds in a voxel outside the mask or outside the volume store nothing at all.
    field.mask.assign(field.mask.size(), 1);
    field.mask[field.Index(2, 2, 2)] = 0;
    EXPECT_EQ(field.Track(seed, CTrack::kFACT, 0.05f, 45.0f, points), 0);
    const float outside[3] = {7.5f, 2.5f, 2.5f};
    EXPECT_EQ(field.Track(outside, CTrack::kFACT, 0.05f, 45.0f, points), 0);
    const float negative[3] = {-0.5f, 2.5f, 2.5f};
    EXPECT_EQ(field.Track(negative, CTrack::kFACT, 0.05f, 45.0f, points), 0);
}

TEST(CTrackFact, EigenvectorsFlippingSignBetweenNeighboursDoNotReverseTheTrack) {
    // Directions close to +x whose small y and z parts alternate in sign, so that the eigenvector
    // sign convention returns them alternately near +x and near -x.
    Field field(12, 3, 3, 1.0f);
    for (int x = 0; x < 12; ++x) {
        const double s = (x % 2) ? 1.0 : -1.0;
        const double n = std::sqrt(1.0 + 2 * 0.05 * 0.05);
        const double e0[3] = {1.0 / n, 0.05 * s / n, -0.05 / n};
        for (int z = 0; z < 3; ++z) {
            for (int y = 0; y < 3; ++y) {
                field.SetDirection(x, y, z, e0);
            }
        }
    }
    // The fixture must really flip: check with the decomposition itself.
    float w[3];
    float even[3][3];
    float odd[3][3];
    CMyMath::ComputeEigens(&field.tensors[6 * field.Index(4, 1, 1)], w, even);
    CMyMath::ComputeEigens(&field.tensors[6 * field.Index(5, 1, 1)], w, odd);
    ASSERT_LT(even[0][0] * odd[0][0], 0.0f);

    const float seed[3] = {5.5f, 1.5f, 1.5f};
    std::vector<float> points;
    const int n = field.Track(seed, CTrack::kFACT, 0.05f, 30.0f, points);
    ASSERT_GE(n, 10);
    for (int p = 1; p < n; ++p) {
        EXPECT_GT(points[3 * p], points[3 * (p - 1)]) << p;
    }
    EXPECT_LT(points[0], 1.0f);
    EXPECT_GE(points[3 * (n - 1)], 11.0f);
}

// ---- angle limits ---------------------------------------------------------------------------

// Straight along +x up to x = 4, then turned by 60 degrees in the xy plane.
Field BentField() {
    Field field(10, 10, 3, 1.0f);
    for (int z = 0; z < 3; ++z) {
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 10; ++x) {
                field.SetInPlane(x, y, z, x < 5 ? 0.0 : 60.0 * kPi / 180.0);
            }
        }
    }
    return field;
}

TEST(CTrackAngle, TurnBeyondTheThresholdStopsBeforeStoringThatVoxel) {
    const Field field = BentField();
    const float seed[3] = {2.5f, 2.5f, 1.5f};
    std::vector<float> points;
    const int n = field.Track(seed, CTrack::kFACT, 0.05f, 45.0f, points);
    ASSERT_GE(n, 3);
    EXPECT_LT(points[3 * (n - 1)], 5.0f);  // last point still in voxel 4
    EXPECT_GE(points[3 * (n - 1)], 4.0f);

    const int wide = field.Track(seed, CTrack::kFACT, 0.05f, 70.0f, points);
    EXPECT_GT(wide, n);
    EXPECT_GE(points[3 * (wide - 1)], 5.0f);
}

TEST(CTrackAngle, WeightZeroAllowsOnlyAStraightContinuation) {
    Field field = BentField();
    field.weights.assign(field.mask.size(), 1.0f);
    for (int z = 0; z < 3; ++z) {
        for (int y = 0; y < 10; ++y) {
            field.weights[field.Index(5, y, z)] = 0.0f;
        }
    }
    const float seed[3] = {2.5f, 2.5f, 1.5f};
    std::vector<float> points;
    const int n = field.Track(seed, CTrack::kFACT, 0.05f, 70.0f, points);
    ASSERT_GE(n, 3);
    EXPECT_LT(points[3 * (n - 1)], 5.0f);

    // In a straight field a weight of 0 everywhere, or a threshold of 0 degrees, still lets the
    // track through every voxel, including the seed's own first direction. The direction is
    // oblique so that its float components do not make an exact unit vector.
    Field straight(20, 20, 3, 1.0f);
    straight.FillInPlane(0.3);
    const float straightSeed[3] = {3.5f, 3.5f, 1.5f};
    for (const int method : {CTrack::kFACT, CTrack::kFixedStep}) {
        SCOPED_TRACE(method);
        const float step = method == CTrack::kFACT ? 0.05f : 0.5f;
        for (const float angle : {70.0f, 0.0f}) {
            straight.weights.assign(angle == 0.0f ? 0 : straight.mask.size(), 0.0f);
            const int made = straight.Track(straightSeed, method, step, angle, points);
            ASSERT_GE(made, 3);
            EXPECT_LT(points[0], 1.0f);
            EXPECT_GE(points[3 * (made - 1)], 18.5f);
        }
    }
}

// ---- list assembly and point limits ---------------------------------------------------------

TEST(CTrackAssembly, BackwardHalfGoesInFrontOfWhatTheListHolds) {
    Field field(12, 3, 3, 1.0f);
    field.FillInPlane(0.0);
    const float seed[3] = {5.5f, 1.5f, 1.5f};
    for (const int method : {CTrack::kFACT, CTrack::kFixedStep}) {
        SCOPED_TRACE(method);
        std::vector<float> backward;
        std::vector<float> forward;
        std::vector<float> joined;
        const auto half = [&](std::vector<float>& list, int back) {
            if (method == CTrack::kFACT) {
                CTrack::GetTrackFACT(field.dims, field.voxelSize, field.tensors.data(),
                                     field.mask.data(), seed, 0.05f, 0.7f, nullptr, list, back, 0);
            } else {
                CTrack::GetTrackFixedStep(field.dims, field.voxelSize, field.tensors.data(),
                                          field.mask.data(), seed, 0.5f, 0.7f, nullptr, list, back,
                                          0);
            }
        };
        half(backward, 1);
        half(forward, 0);
        joined = forward;
        half(joined, 1);
        ASSERT_GE(backward.size(), 6u);
        std::vector<float> expected = backward;
        expected.insert(expected.end(), forward.begin(), forward.end());
        EXPECT_EQ(joined, expected);
        // Walked away from the seed, so stored nearest-last: x grows toward the seed.
        for (size_t p = 3; p < backward.size(); p += 3) {
            EXPECT_GT(backward[p], backward[p - 3]);
        }
        EXPECT_LT(backward[backward.size() - 3], seed[0]);
    }
}

TEST(CTrackAssembly, PointLimitCountsBothHalvesAndLeavesTheSeedLast) {
    Field field(4200, 1, 1, 1.0f);
    field.FillInPlane(0.0);
    const float seed[3] = {4150.5f, 0.5f, 0.5f};
    std::vector<float> points;
    ASSERT_EQ(field.Track(seed, CTrack::kFACT, 0.3f, 45.0f, points), 4002);
    EXPECT_FLOAT_EQ(points[3 * 4001], seed[0]);
    EXPECT_LT(points[3 * 4000], seed[0]);
    EXPECT_GT(points[0], 140.0f);  // 4001 voxels back from the seed voxel: voxel 149

    Field longer(5200, 2, 2, 1.0f);
    longer.FillInPlane(0.0);
    const float fixedSeed[3] = {5100.5f, 0.5f, 0.5f};
    ASSERT_EQ(longer.Track(fixedSeed, CTrack::kFixedStep, 1.0f, 45.0f, points), 5002);
    EXPECT_FLOAT_EQ(points[3 * 5001], fixedSeed[0]);
    EXPECT_FLOAT_EQ(points[0], fixedSeed[0] - 5001.0f);
}

TEST(CTrackAssembly, VoxelFormSeedsAtTheCentreAndUnknownMethodMakesNothing) {
    Field field(8, 8, 4, 1.5f);
    field.FillInPlane(0.3);
    const int voxel[3] = {3, 4, 2};
    const float centre[3] = {CentreOf(3, 1.5f), CentreOf(4, 1.5f), CentreOf(2, 1.5f)};
    std::vector<float> fromVoxel;
    std::vector<float> fromPoint;
    int countVoxel = 0;
    ASSERT_EQ(
        CTrack::GetTrack(field.dims, field.voxelSize, field.tensors.data(), field.mask.data(),
                         voxel, CTrack::kFACT, 0.1f, 45.0f, nullptr, fromVoxel, countVoxel, 0),
        1);
    field.Track(centre, CTrack::kFACT, 0.1f, 45.0f, fromPoint);
    EXPECT_EQ(fromVoxel, fromPoint);

    int count = -1;
    EXPECT_EQ(CTrack::GetTrack(field.dims, field.voxelSize, field.tensors.data(), field.mask.data(),
                               centre, 7, 0.1f, 45.0f, nullptr, fromPoint, count, 0),
              0);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(fromPoint.empty());
}

// ---- marches that cannot leave their voxel, values that are not numbers ---------------------

TEST(CTrackBounded, ZeroStepAndNonNumbersEndTheHalf) {
    Field field(10, 3, 3, 1.0f);
    field.FillInPlane(0.0);
    const float seed[3] = {4.5f, 1.5f, 1.5f};
    std::vector<float> points;
    for (const int method : {CTrack::kFACT, CTrack::kRungeKutta2, CTrack::kTensorLine}) {
        SCOPED_TRACE(method);
        EXPECT_EQ(field.Track(seed, method, 0.0f, 45.0f, points), -1);
        EXPECT_EQ(field.Track(seed, method, 1e-9f, 45.0f, points), -1);
    }

    // Tensor values that are not numbers: whatever direction they give, every half ends and no
    // point that is not a number is stored.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int c = 0; c < 6; ++c) {
        field.tensors[6 * field.Index(7, 1, 1) + c] = nan;
    }
    for (const int method : {CTrack::kFACT, CTrack::kRungeKutta2, CTrack::kTensorLine}) {
        SCOPED_TRACE(method);
        const int n = field.Track(seed, method, 0.05f, 45.0f, points);
        ASSERT_GE(n, 3);
        for (int p = 0; p < 3 * n; ++p) {
            EXPECT_TRUE(std::isfinite(points[p]));
        }
    }
}

// ---- Runge-Kutta 2, tensorline, fixed step ---------------------------------------------------

TEST(CTrackRungeKutta2, StraightFieldStaysOnTheLineAndStopsAtTheVolumeBorder) {
    Field field(12, 3, 3, 1.0f);
    field.FillInPlane(0.0);
    const float seed[3] = {5.5f, 1.5f, 1.5f};
    std::vector<float> points;
    const int n = field.Track(seed, CTrack::kRungeKutta2, 0.05f, 45.0f, points);
    ASSERT_GE(n, 9);
    // Forward half: each new position is the midpoint of the old one and the end of the second
    // stage, which is the first 0.05-voxel sub-step two voxels further on.
    int seedIndex = 0;
    while (points[3 * seedIndex] != seed[0]) {
        ASSERT_LT(++seedIndex, n);
    }
    ASSERT_LT(seedIndex, n - 3);
    for (int p = seedIndex + 1; p < n; ++p) {
        const float before = points[3 * (p - 1)];
        const float floorBefore = std::floor(before);
        EXPECT_GE(points[3 * p], 0.5f * (before + floorBefore + 2.0f) - 1e-4f) << p;
        EXPECT_LE(points[3 * p], 0.5f * (before + floorBefore + 2.05f) + 1e-4f) << p;
    }
    for (int p = 0; p < n; ++p) {
        EXPECT_FLOAT_EQ(points[3 * p + 1], 1.5f);
        EXPECT_FLOAT_EQ(points[3 * p + 2], 1.5f);
        EXPECT_GE(points[3 * p], 0.0f);
        EXPECT_LT(points[3 * p], 12.0f);
        if (p > 0) {
            EXPECT_GT(points[3 * p], points[3 * (p - 1)]);
        }
    }
}

TEST(CTrackRungeKutta2, FirstStageLeavingThroughAnXFaceEndsTheHalf) {
    // Mostly along +x: from the last column the first stage leaves through the x face, where
    // the linear index would continue in the next row.
    // The voxel there, (0, 1, 0), points along y: taken as the second stage's voxel it would
    // bend the step back inside the volume and store another point.
    Field field(4, 3, 1, 1.0f);
    field.FillInPlane(0.1);
    field.SetInPlane(0, 1, 0, kPi / 2.0);
    const float seed[3] = {3.5f, 0.5f, 0.5f};
    std::vector<float> points;
    const int n = field.Track(seed, CTrack::kRungeKutta2, 0.05f, 60.0f, points);
    ASSERT_GE(n, 3);
    EXPECT_FLOAT_EQ(points[3 * (n - 1)], seed[0]);
    EXPECT_FLOAT_EQ(points[3 * (n - 1) + 1], seed[1]);
    for (int p = 0; p < n; ++p) {
        EXPECT_LT(points[3 * p + 1], 1.0f);
    }
}

TEST(CTrackTensorLine, IgnoresTheEigenvectorIndex) {
    Field field = BentField();
    const float seed[3] = {2.5f, 2.5f, 1.5f};
    std::vector<float> principal;
    std::vector<float> other;
    ASSERT_GE(field.Track(seed, CTrack::kTensorLine, 0.05f, 80.0f, principal, 0), 3);
    for (const int k : {1, 2}) {
        field.Track(seed, CTrack::kTensorLine, 0.05f, 80.0f, other, k);
        EXPECT_EQ(other, principal);
    }
}

TEST(CTrackFixedStep, SeedInTheLastLayerMakesNoTrack) {
    Field field(6, 6, 6, 2.0f);
    field.FillInPlane(0.0);
    std::vector<float> points;
    const float inner[3] = {CentreOf(2, 2.0f), CentreOf(2, 2.0f), CentreOf(2, 2.0f)};
    EXPECT_GE(field.Track(inner, CTrack::kFixedStep, 0.5f, 45.0f, points), 3);
    for (int axis = 0; axis < 3; ++axis) {
        SCOPED_TRACE(axis);
        float seed[3] = {inner[0], inner[1], inner[2]};
        seed[axis] = CentreOf(5, 2.0f);
        EXPECT_EQ(field.Track(seed, CTrack::kFixedStep, 0.5f, 45.0f, points), 0);
    }
}

TEST(CTrackFixedStep, StepsEvenlyAndNeverGoesBelowZero) {
    Field field(6, 3, 3, 1.0f);
    field.FillInPlane(0.0);
    const float seed[3] = {2.5f, 1.5f, 1.5f};
    std::vector<float> points;
    const int n = field.Track(seed, CTrack::kFixedStep, 0.5f, 45.0f, points);
    // Backward 2.0 .. 0.0 (-0.5 is outside), forward 2.5 .. 4.5 (5.0 is in the last layer).
    ASSERT_EQ(n, 10);
    for (int p = 0; p < n; ++p) {
        EXPECT_FLOAT_EQ(points[3 * p], 0.5f * p);
        EXPECT_FLOAT_EQ(points[3 * p + 1], 1.5f);
    }
}

// GetTrack runs the two fixed-step halves side by side; the result must be exactly that of the
// two one-direction calls in turn, also where the shared point limit cuts the forward half.
TEST(CTrackFixedStep, BothHalvesTogetherEqualOneAfterTheOther) {
    Field field(300, 100, 3, 1.0f);
    field.FillInPlane(0.1);  // slightly off the x axis: the points are not round numbers
    const float cosThreshold = static_cast<float>(std::cos(45.0 * 3.1415926535 / 180.0));
    // Seeds whose backward half is short, near the limit, past it, and a seed outside the
    // interpolation range.
    for (const float x : {20.3f, 120.7f, 200.1f, 260.4f, 298.6f}) {
        SCOPED_TRACE(x);
        const float seed[3] = {x, 50.5f, 1.5f};
        std::vector<float> sequential;
        for (int backward = 1; backward >= 0; --backward) {
            CTrack::GetTrackFixedStep(field.dims, field.voxelSize, field.tensors.data(),
                                      field.mask.data(), seed, 0.05f, cosThreshold, nullptr,
                                      sequential, backward, 0);
        }
        std::vector<float> together;
        CTrack::GetTrackFixedStepBothHalves(field.dims, field.voxelSize, field.tensors.data(),
                                            field.mask.data(), seed, 0.05f, cosThreshold, nullptr,
                                            together, 0);
        ASSERT_EQ(together.size(), sequential.size());
        EXPECT_EQ(std::memcmp(together.data(), sequential.data(), 4 * together.size()), 0);
        EXPECT_LE(together.size() / 3, static_cast<size_t>(CTrack::kMaxPointsFixedStep) + 2);
    }
    // The limit is reached: 5002 points at most, and the far seed's backward half alone fills it.
    std::vector<float> points;
    const float far[3] = {280.0f, 50.5f, 1.5f};
    EXPECT_EQ(field.Track(far, CTrack::kFixedStep, 0.05f, 45.0f, points),
              CTrack::kMaxPointsFixedStep + 2);
}

TEST(CTrackInterpolate, CornersAndMidpointsAndBorders) {
    Field field(4, 4, 4, 2.0f);
    for (int z = 0; z < 4; ++z) {
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                field.SetInPlane(x, y, z, 0.2 * x + 0.1 * y);
            }
        }
    }
    float w[3];
    float e[3][3];
    float wRef[3];
    float eRef[3][3];
    const float corner[3] = {2.0f, 4.0f, 2.0f};  // lower corner of voxel (1, 2, 1)
    ASSERT_TRUE(
        CTrack::InterpolateVoxel(field.dims, field.voxelSize, field.tensors.data(), corner, w, e));
    CMyMath::ComputeEigens(&field.tensors[6 * field.Index(1, 2, 1)], wRef, eRef);
    EXPECT_EQ(0, std::memcmp(w, wRef, sizeof w));
    EXPECT_EQ(0, std::memcmp(e, eRef, sizeof e));

    const float between[3] = {3.0f, 4.0f, 2.0f};  // halfway from voxel (1, 2, 1) to (2, 2, 1)
    ASSERT_TRUE(
        CTrack::InterpolateVoxel(field.dims, field.voxelSize, field.tensors.data(), between, w, e));
    float mean[6];
    for (int c = 0; c < 6; ++c) {
        mean[c] = 0.5f * field.tensors[6 * field.Index(1, 2, 1) + c] +
                  0.5f * field.tensors[6 * field.Index(2, 2, 1) + c];
    }
    CMyMath::ComputeEigens(mean, wRef, eRef);
    for (int a = 0; a < 3; ++a) {
        EXPECT_FLOAT_EQ(w[a], wRef[a]);
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(e[a][j], eRef[a][j], 1e-6f);
        }
    }

    const float lastLayer[3] = {6.5f, 2.0f, 2.0f};
    EXPECT_FALSE(CTrack::InterpolateVoxel(field.dims, field.voxelSize, field.tensors.data(),
                                          lastLayer, w, e));
    const float negative[3] = {-0.5f, 2.0f, 2.0f};
    EXPECT_FALSE(CTrack::InterpolateVoxel(field.dims, field.voxelSize, field.tensors.data(),
                                          negative, w, e));
}

// ---- curved field ---------------------------------------------------------------------------

// Concentric circles about (cx, cy) in the xy plane: the tangent gets eigenvalue index
// `tangentRank`, the radial direction and z the others.
Field ArcField(double cx, double cy, double radius, int tangentRank) {
    Field field(48, 48, 3, 1.0f);
    for (int z = 0; z < 3; ++z) {
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 48; ++x) {
                const double rx = x + 0.5 - cx;
                const double ry = y + 0.5 - cy;
                const double r = std::sqrt(rx * rx + ry * ry);
                const double radial[3] = {rx / r, ry / r, 0.0};
                const double tangent[3] = {-ry / r, rx / r, 0.0};
                const double up[3] = {0.0, 0.0, 1.0};
                const double* order[3][3] = {
                    {tangent, radial, up}, {radial, tangent, up}, {radial, up, tangent}};
                field.Set(x, y, z, order[tangentRank][0], order[tangentRank][1],
                          order[tangentRank][2]);
                // A quarter annulus: first quadrant, within 4 voxels of the arc.
                const bool inside = rx > 0.0 && ry > 0.0 && std::fabs(r - radius) < 4.0;
                field.mask[field.Index(x, y, z)] = inside ? 1 : 0;
            }
        }
    }
    return field;
}

struct ArcCase {
    int method;
    float step;
    int eigenIndex;
};

TEST(CTrackCurved, TracksFollowTheArcForEveryMethodAndEigenvector) {
    const double cx = 4.0;
    const double cy = 4.0;
    const double radius = 36.0;
    const ArcCase cases[] = {{CTrack::kFACT, 0.05f, 0},       {CTrack::kRungeKutta2, 0.05f, 0},
                             {CTrack::kTensorLine, 0.05f, 0}, {CTrack::kFixedStep, 0.2f, 0},
                             {CTrack::kFACT, 0.05f, 1},       {CTrack::kFACT, 0.05f, 2},
                             {CTrack::kFixedStep, 0.2f, 1},   {CTrack::kRungeKutta2, 0.05f, 2}};
    for (const ArcCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "method " << c.method << " eigenvector " << c.eigenIndex);
        const Field field = ArcField(cx, cy, radius, c.eigenIndex);
        // The fixed-step method places each voxel's tensor at its lower corner, which shifts
        // the interpolated field by half a voxel: its circles are centred half a voxel lower.
        const double shift = c.method == CTrack::kFixedStep ? 0.5 : 0.0;
        const double ox = cx - shift;
        const double oy = cy - shift;
        for (const double seedAngle : {30.0, 45.0, 60.0}) {
            SCOPED_TRACE(seedAngle);
            const double a = seedAngle * kPi / 180.0;
            const float seed[3] = {static_cast<float>(ox + radius * std::cos(a)),
                                   static_cast<float>(oy + radius * std::sin(a)), 1.5f};
            std::vector<float> points;
            const int n = field.Track(seed, c.method, c.step, 45.0f, points, c.eigenIndex);
            ASSERT_GE(n, 3);
            double maxOff = 0.0;
            double minAngle = 90.0;
            double maxAngle = 0.0;
            for (int p = 0; p < n; ++p) {
                const double dx = points[3 * p] - ox;
                const double dy = points[3 * p + 1] - oy;
                maxOff = std::max(maxOff, std::fabs(std::sqrt(dx * dx + dy * dy) - radius));
                const double angle = std::atan2(dy, dx) * 180.0 / kPi;
                minAngle = std::min(minAngle, angle);
                maxAngle = std::max(maxAngle, angle);
                EXPECT_FLOAT_EQ(points[3 * p + 2], 1.5f);
            }
            // Each step leaves the circle by a small amount (straight pieces, chord midpoints,
            // the tensorline's inertia); over an eighth of a circle that stays below half a voxel.
            EXPECT_LT(maxOff, 0.5);
            // Both halves run along the arc to near the ends of the quarter annulus.
            EXPECT_LT(minAngle, 12.0);
            EXPECT_GT(maxAngle, 78.0);
        }
    }
}

// ---- per-run eigen cache -------------------------------------------------------------------

TEST(CTrackCache, TracksAreBitForBitTheSameWithTheCache) {
    Field field = ArcField(4.0, 4.0, 30.0, 0);
    std::fill(field.mask.begin(), field.mask.end(), 1);
    field.weights.assign(field.mask.size(), 0.0f);
    for (size_t v = 0; v < field.weights.size(); ++v) {
        field.weights[v] = 0.5f + 0.5f * static_cast<float>(v % 3);
    }
    for (const int method : {CTrack::kFACT, CTrack::kRungeKutta2, CTrack::kTensorLine}) {
        SCOPED_TRACE(method);
        std::vector<float> cache;
        long long totalPoints = 0;
        for (int pass = 0; pass < 2; ++pass) {  // the second pass reads a filled cache
            for (int y = 0; y < field.dims[1]; y += 3) {
                for (int x = 0; x < field.dims[0]; x += 3) {
                    const int voxel[3] = {x, y, 1};
                    std::vector<float> plain;
                    std::vector<float> cached;
                    int plainCount = 0;
                    int cachedCount = 0;
                    const int madePlain = CTrack::GetTrack(
                        field.dims, field.voxelSize, field.tensors.data(), field.mask.data(), voxel,
                        method, 0.05f, 35.0f, field.weights.data(), plain, plainCount, 0);
                    const int madeCached = CTrack::GetTrack(
                        field.dims, field.voxelSize, field.tensors.data(), field.mask.data(), voxel,
                        method, 0.05f, 35.0f, field.weights.data(), cached, cachedCount, 0, &cache);
                    ASSERT_EQ(madePlain, madeCached);
                    ASSERT_EQ(plainCount, cachedCount);
                    ASSERT_EQ(plain.size(), cached.size());
                    ASSERT_EQ(
                        0, std::memcmp(plain.data(), cached.data(), plain.size() * sizeof(float)))
                        << x << " " << y;
                    totalPoints += plainCount;
                }
            }
        }
        // Long tracks crossing many voxels, not a trivial comparison.
        EXPECT_GT(totalPoints, 20000);
    }
}

}  // namespace
