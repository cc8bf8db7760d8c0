#include "ImageOrientation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

struct Orientation {
    float v[6];
};

constexpr double kPi = 3.14159265358979323846;

// --- classification --------------------------------------------------------------------------

TEST(OrientationType, ReferencePlanesAndTheirFlips) {
    const struct {
        Orientation o;
        int type;
        const char* name;
    } cases[] = {
        {{{1, 0, 0, 0, 1, 0}}, 1, "Axial"},           {{{1, 0, 0, 0, 0, -1}}, 2, "Coronal"},
        {{{0, 1, 0, 0, 0, -1}}, 3, "Sagital"},        {{{1, 0, 0, 0, -1, 0}}, -1, "Axial invert"},
        {{{1, 0, 0, 0, 0, 1}}, -2, "Coronal invert"}, {{{0, 1, 0, 0, 0, 1}}, -3, "Sagital invert"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ImageOrientation::GetOrientationType(c.o.v), c.type) << c.name;
        EXPECT_EQ(ImageOrientation::GetOrientationTypeString(c.o.v), c.name);
    }
}

TEST(OrientationType, ObliqueSliceKeepsItsClass) {
    const float s = static_cast<float>(std::sin(10 * kPi / 180));
    const float c = static_cast<float>(std::cos(10 * kPi / 180));
    const float tilted[6] = {1, 0, 0, 0, c, s};
    EXPECT_EQ(ImageOrientation::GetOrientationType(tilted), 1);
    const float tiltedCoronal[6] = {c, s, 0, 0, 0, -1};
    EXPECT_EQ(ImageOrientation::GetOrientationType(tiltedCoronal), 2);
}

TEST(OrientationType, DegenerateAndUnnormalisedVectors) {
    const float same[6] = {1, 0, 0, 1, 0, 0};
    EXPECT_EQ(ImageOrientation::GetOrientationType(same), 1);
    const float zero[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ImageOrientation::GetOrientationType(zero), 1);
    const float huge[6] = {1000, 0, 0, 0, 1000, 0};
    EXPECT_EQ(ImageOrientation::GetOrientationType(huge), 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float withNan[6] = {nan, 0, 0, 0, 1, 0};
    EXPECT_EQ(ImageOrientation::GetOrientationType(withNan), 0);
    EXPECT_EQ(ImageOrientation::GetOrientationTypeString(withNan), "Not Applicable");
}

TEST(OrientationType, NamesOfAllCodes) {
    EXPECT_EQ(ImageOrientation::GetOrientationTypeString(0), "Not Applicable");
    EXPECT_EQ(ImageOrientation::GetOrientationTypeString(4), "Heart Axial");
    EXPECT_EQ(ImageOrientation::GetOrientationTypeString(6), "Heart Sagital");
    EXPECT_EQ(ImageOrientation::GetOrientationTypeString(-4), "Heart Axial invert");
    EXPECT_EQ(ImageOrientation::GetOrientationTypeString(-6), "Heart Sagital invert");
    EXPECT_EQ(ImageOrientation::GetOrientationTypeString(7), "Not Applicable");
    EXPECT_EQ(ImageOrientation::GetOrientationTypeString(-7), "Not Applicable");
}

TEST(OrientationType, CriterionNeedsStrictlySmallerDistance) {
    const std::pair<double, double> best(2.0, 0.5);
    EXPECT_EQ(ImageOrientation::VerfCriterion(3, 0.5, best), best);
    EXPECT_EQ(ImageOrientation::VerfCriterion(3, std::nan(""), best), best);
    EXPECT_EQ(ImageOrientation::VerfCriterion(-3, 0.25, best), std::make_pair(-3.0, 0.25));
}

// --- letters ---------------------------------------------------------------------------------

TEST(OrientationLetters, SingleVector) {
    const struct {
        float v[3];
        const char* letters;
    } cases[] = {
        {{1, 0, 0}, "L"},          {{-1, 0, 0}, "R"},          {{0, -1, 0}, "A"},
        {{0, 0, -1}, "I"},         {{0.8f, -0.6f, 0}, "LA"},   {{-0.3f, 0.5f, -0.9f}, "IPR"},
        {{0.6f, 0.6f, 0.5f}, ""},  {{0.00005f, 0, 0}, ""},     {{-0.7f, 0.7f, 0.1f}, ""},
        {{0.6f, 0.3f, 0.3f}, "L"}, {{0, 0.9f, 0.00009f}, "P"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ImageOrientation::GetSingleOrientation(c.v), c.letters)
            << c.v[0] << " " << c.v[1] << " " << c.v[2];
    }
}

TEST(OrientationLetters, RowColumnStrings) {
    const float axial[6] = {1, 0, 0, 0, 1, 0};
    EXPECT_EQ(ImageOrientation::GetOrientationString(axial), "L\\P");
    EXPECT_EQ(ImageOrientation::GetOrientationStringShort(axial), "LP");
    const float oblique[6] = {0.8f, -0.6f, 0, 0.6f, 0.6f, 0.5f};
    EXPECT_EQ(ImageOrientation::GetOrientationString(oblique), "LA\\");
    EXPECT_EQ(ImageOrientation::GetOrientationStringShort(oblique), std::string("L\0", 2));
}

// --- voxel order and slice order -------------------------------------------------------------

TEST(VoxelOrder, AxialWithBothIndicators) {
    const float axial[6] = {1, 0, 0, 0, 1, 0};
    EXPECT_EQ(ImageOrientation::GetVoxelOrder(axial, 1), "LPS");
    EXPECT_EQ(ImageOrientation::GetVoxelOrder(axial, -1), "LPI");
    EXPECT_EQ(ImageOrientation::GetSliceOrder(axial, "LPS"), 1);
    EXPECT_EQ(ImageOrientation::GetSliceOrder(axial, "LPI"), -1);
}

// For every axis-aligned orientation the letters must name where each voxel axis points: the
// third one along indicator x (row x column), and GetSliceOrder must recover the indicator.
TEST(VoxelOrder, RoundTripOverAxisAlignedOrientations) {
    const float axes[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    int checked = 0;
    for (const auto& r : axes) {
        for (const auto& c : axes) {
            if (r[0] * c[0] + r[1] * c[1] + r[2] * c[2] != 0) {
                continue;
            }
            const float o[6] = {r[0], r[1], r[2], c[0], c[1], c[2]};
            const float normal[3] = {r[1] * c[2] - r[2] * c[1], r[2] * c[0] - r[0] * c[2],
                                     r[0] * c[1] - r[1] * c[0]};
            for (const int s : {1, -1}) {
                const float slice[3] = {s * normal[0], s * normal[1], s * normal[2]};
                const std::string expected = ImageOrientation::GetSingleOrientation(r) +
                                             ImageOrientation::GetSingleOrientation(c) +
                                             ImageOrientation::GetSingleOrientation(slice);
                const std::string order = ImageOrientation::GetVoxelOrder(o, s);
                EXPECT_EQ(order, expected) << checked;
                EXPECT_EQ(ImageOrientation::GetSliceOrder(o, order), s) << order;
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 48);
}

TEST(VoxelOrder, ShortOrderStringNeverMatches) {
    const float axial[6] = {1, 0, 0, 0, 1, 0};
    EXPECT_EQ(ImageOrientation::GetSliceOrder(axial, "LP"), -1);
}

// --- gradient rotation -----------------------------------------------------------------------

void expectMatrix(const double m[3][3], const double expected[3][3], double tolerance) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(m[i][j], expected[i][j], tolerance) << i << "," << j;
        }
    }
}

TEST(GradientRotation, IdentityOrientationGivesFlip) {
    const float axial[6] = {1, 0, 0, 0, 1, 0};
    const double flip[3][3] = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
    for (const bool oblique : {false, true}) {
        double m[3][3];
        ASSERT_TRUE(ImageOrientation::GetImageOrientationTransformationMatrix(axial, m, oblique));
        expectMatrix(m, flip, 0.0);
    }
}

TEST(GradientRotation, CoronalRowsWithNegatedYZ) {
    const float coronal[6] = {1, 0, 0, 0, 0, -1};
    const double expected[3][3] = {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}};
    double m[3][3];
    ASSERT_TRUE(ImageOrientation::GetImageOrientationTransformationMatrix(coronal, m, false));
    expectMatrix(m, expected, 0.0);
}

TEST(GradientRotation, ObliqueSnapsUnlessCorrected) {
    const double t = 8 * kPi / 180;
    const float c = static_cast<float>(std::cos(t));
    const float s = static_cast<float>(std::sin(t));
    const float oblique[6] = {1, 0, 0, 0, c, s};
    const float snapped[6] = {1, 0, 0, 0, 1, 0};
    double m[3][3];
    double reference[3][3];
    ASSERT_TRUE(ImageOrientation::GetImageOrientationTransformationMatrix(oblique, m, false));
    ASSERT_TRUE(
        ImageOrientation::GetImageOrientationTransformationMatrix(snapped, reference, false));
    expectMatrix(m, reference, 0.0);

    // Rows r, c and r x c, each with y and z negated.
    const double exact[3][3] = {{1, 0, 0}, {0, -c, -s}, {0, static_cast<double>(s), -c}};
    ASSERT_TRUE(ImageOrientation::GetImageOrientationTransformationMatrix(oblique, m, true));
    expectMatrix(m, exact, 1e-6);
}

TEST(GradientRotation, DegenerateOrientationIsRefused) {
    const float same[6] = {0, 1, 0, 0, 1, 0};
    const float zero[6] = {0, 0, 0, 0, 1, 0};
    double m[3][3];
    for (const bool oblique : {false, true}) {
        EXPECT_FALSE(ImageOrientation::GetImageOrientationTransformationMatrix(same, m, oblique));
        EXPECT_FALSE(ImageOrientation::GetImageOrientationTransformationMatrix(zero, m, oblique));
    }
}

// --- orientation file ------------------------------------------------------------------------

class OrientationFile : public ::testing::Test {
  protected:
    bool load(const std::string& content) {
        const std::string path = dir.file("orientation.txt");
        testsupport::writeFile(path, content);
        for (float& v : values) {
            v = -99;
        }
        return ImageOrientation::LoadImageOrientation(path, values);
    }
    void expectValues(const std::vector<float>& expected) const {
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(values[i], expected[i]) << i;
        }
    }

    testsupport::TempDir dir;
    float values[6];
};

TEST_F(OrientationFile, CommaLinesWithComments) {
    ASSERT_TRUE(load("# scanner export\n1, 0, 0\n\n; other comment 5,5,5\n0, 1, 0\n"));
    expectValues({1, 0, 0, 0, 1, 0});
    ASSERT_TRUE(load("  0.5,0.25 ,-1,2,3,4,5  \r\n"));
    expectValues({0.5f, 0.25f, -1, 2, 3, 4});
}

TEST_F(OrientationFile, NumbersSplitOverLines) {
    ASSERT_TRUE(load("1, 0, 0,\n0, 0, -1\n"));
    expectValues({1, 0, 0, 0, 0, -1});
    ASSERT_TRUE(load("1\n0\n0\n0\n1\n0\n"));
    expectValues({1, 0, 0, 0, 1, 0});
    ASSERT_TRUE(load("2,,3\n4,x,6"));
    expectValues({2, 0, 3, 4, 0, 6});
}

TEST_F(OrientationFile, BlankSeparatedLinesGiveAllNumbers) {
    ASSERT_TRUE(load("1 0  0\n0\t-1 \t 0\n"));
    expectValues({1, 0, 0, 0, -1, 0});
}

TEST_F(OrientationFile, TooFewNumbers) {
    EXPECT_FALSE(load("1, 0, 0\n0, 1\n"));
    expectValues({1, 0, 0, 0, 1, -99});
    EXPECT_FALSE(load(""));
    EXPECT_FALSE(ImageOrientation::LoadImageOrientation(dir.file("missing.txt"), values));
}

TEST_F(OrientationFile, OverlongLineEndsReading) {
    EXPECT_FALSE(load("1, 0, 0\n# " + std::string(1200, 'x') + "\n0, 1, 0\n"));
    ASSERT_TRUE(load("1, 0, 0\n# " + std::string(990, 'x') + "\n0, 1, 0\n"));
    expectValues({1, 0, 0, 0, 1, 0});
}

}  // namespace
