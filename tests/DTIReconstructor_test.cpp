// Gradient table reading and the per-voxel tensor fit, checked against signals of known tensors
// and an independent least-squares solve.

#include "DTIReconstructor.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

using Vec3 = std::array<double, 3>;

// Well-spread unit directions on a spiral over the sphere.
using testsupport::spiralDirections;

std::string tableText(const std::vector<Vec3>& dirs, int zeroRows) {
    std::string text;
    for (int i = 0; i < zeroRows; ++i) {
        text += "0 0 0\n";
    }
    char line[128];
    for (const auto& d : dirs) {
        std::snprintf(line, sizeof line, "%.9f, %.9f, %.9f\n", d[0], d[1], d[2]);
        text += line;
    }
    return text;
}

struct Loaded {
    bool ok = false;
    std::string err;
};

Loaded load(DTIReconstructor& rec, const std::string& text, int requestedB0 = 0, double b = 1000,
            bool tabled = false, bool oblique = false) {
    TempDir dir;
    writeFile(dir.file("grad.txt"), text);
    Loaded result;
    result.ok = rec.LoadGradientMatrix(dir.file("grad.txt"), requestedB0, b, tabled, oblique);
    // The reconstructor prints nothing: its reason is what the program prints, line end added.
    result.err = result.ok ? "" : rec.LastFailure() + "\n";
    return result;
}

const std::string kSixDirections = "1 0 0\n0 1 0\n0 0 1\n1 1 0\n1 0 1\n0 1 1\n";

TEST(GradientTable, RowSpellingsAllGiveTheSameDirection) {
    for (const std::string row : {"1,0,0", "1, 0, 0,", "1 0 0", "1\t0\t0", "1:0:0",
                                  " 1 : 0 : 0 :", "1 ,0, 0", "1  0   0"}) {
        DTIReconstructor rec;
        const auto r = load(rec, "0 0 0\n" + row + "\r\n" + kSixDirections.substr(6));
        ASSERT_TRUE(r.ok) << row << r.err;
        const GradientVec& g = rec.GetGradients()[1];
        // The default axial orientation turns (x, y, z) into (x, -y, -z).
        EXPECT_EQ(g.x, 1.0) << row;
        EXPECT_EQ(g.y, 0.0) << row;
        EXPECT_EQ(g.z, 0.0) << row;
        EXPECT_EQ(g.b, 1000.0) << row;
    }
}

TEST(GradientTable, BValueRules) {
    const std::string rest = "0 1 0\n0 0 1\n1 1 0\n1 0 1\n0 1 1\n";
    struct Case {
        std::string row;
        bool tabled;
        double b;
    };
    for (const auto& c : std::vector<Case>{{"0.5 0 0", true, 500},
                                           {"0.5 0 0", false, 1000},
                                           {"1 0 0 700", false, 1000},
                                           {"1 0 0 700", true, 700},
                                           {"1,0,0,700,3,abc", true, 700}}) {
        DTIReconstructor rec;
        const auto r = load(rec, "0 0 0\n" + c.row + "\n" + rest, 0, 1000, c.tabled);
        ASSERT_TRUE(r.ok) << c.row << r.err;
        EXPECT_DOUBLE_EQ(rec.GetGradients()[1].x, 1.0) << c.row;
        EXPECT_DOUBLE_EQ(rec.GetGradients()[1].b, c.b) << c.row;
    }
}

TEST(GradientTable, CommentsAreSkippedAndB0RowsCounted) {
    DTIReconstructor rec;
    const std::string text = "# header comment\n0 0 0\n; another\n1 0 0 ; trailing comment\n" +
                             kSixDirections + "\n\n0,0,0\n";
    ASSERT_TRUE(load(rec, text).ok);
    EXPECT_EQ(rec.GetNumberOfB0(), 2);
    EXPECT_EQ(rec.GetNumberOfDirections(), 6);
    EXPECT_EQ(rec.GetRowFlags(), (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 0}));
}

TEST(GradientTable, B0RowsAreInsertedOnlyWhenTheTableHasNone) {
    const auto dirs = spiralDirections(30);
    {
        DTIReconstructor rec;
        ASSERT_TRUE(load(rec, tableText(dirs, 0), 2).ok);
        EXPECT_EQ(rec.GetGradients().size(), 32u);
        EXPECT_EQ(rec.GetNumberOfB0(), 2);
        EXPECT_EQ(rec.GetNumberOfDirections(), 30);
        EXPECT_EQ(rec.GetRowFlags()[0] + rec.GetRowFlags()[1], 0);
        EXPECT_EQ(rec.GetGradients()[0].b, 0.0);
    }
    {
        // Zero rows at positions 0 and 16: the requested count is ignored.
        std::string text = tableText({dirs.begin(), dirs.begin() + 15}, 1) + "0 0 0\n" +
                           tableText({dirs.begin() + 15, dirs.end()}, 0);
        DTIReconstructor rec;
        ASSERT_TRUE(load(rec, text, 5).ok);
        EXPECT_EQ(rec.GetNumberOfB0(), 2);
        EXPECT_EQ(rec.GetRowFlags()[16], 0);
        EXPECT_EQ(rec.GetRowFlags()[15], 1);
    }
    {
        DTIReconstructor rec;
        ASSERT_TRUE(load(rec, tableText(dirs, 0), 0).ok);
        EXPECT_EQ(rec.GetNumberOfB0(), 0);
    }
}

TEST(GradientTable, UnusableTablesAreRefusedWithAReason) {
    {
        DTIReconstructor rec;
        const auto r = load(rec, "0 0 0\n1 0 0\n0 1 0\n0 0 1\n1 1 0\n1 0 1\n");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.err, "\nNeed at least 6 gradient directions to reconstruct DTI data.\n");
    }
    for (const std::string bad : {"1 0", "1,0,0x", "1 0,0", "a b c", "1,,0"}) {
        DTIReconstructor rec;
        const auto r = load(rec, "0 0 0\n" + kSixDirections + bad + "\n");
        EXPECT_FALSE(r.ok) << bad;
        EXPECT_NE(r.err.find("grad.txt line 8"), std::string::npos) << r.err;
        EXPECT_TRUE(rec.GetGradients().empty());
    }
    {
        DTIReconstructor rec;
        const auto r = load(rec, "0 0 0\n" + kSixDirections + std::string(999, ' ') + "\n");
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.err.find("line 8: longer than 998 characters"), std::string::npos) << r.err;
    }
    {
        // A zero direction with a tabled b value is a b0 row; a direction with b 0 is one too.
        DTIReconstructor rec;
        ASSERT_TRUE(load(rec, "0 0 0 800\n1 0 0 0\n" + kSixDirections, 0, 1000, true).ok);
        EXPECT_EQ(rec.GetNumberOfB0(), 2);
        EXPECT_EQ(rec.GetNumberOfDirections(), 6);
    }
    {
        DTIReconstructor rec;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(rec.LoadGradientMatrix("/nonexistent/grad.txt", 0, 1000, false, false));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(rec.LastFailure(), "Can not open /nonexistent/grad.txt");
    }
    {
        const float parallel[6] = {1, 0, 0, 1, 0, 0};
        DTIReconstructor rec;
        rec.SetImageOrientation(parallel);
        const auto r = load(rec, "0 0 0\n" + kSixDirections);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.err.find("degenerate"), std::string::npos);
    }
}

// Tensor (xx, xy, xz, yy, yz, zz) applied to a direction: g^T D g.
double quadratic(const double* t, const Vec3& g) {
    return t[0] * g[0] * g[0] + 2 * t[1] * g[0] * g[1] + 2 * t[2] * g[0] * g[2] +
           t[3] * g[1] * g[1] + 2 * t[4] * g[1] * g[2] + t[5] * g[2] * g[2];
}

// Independent least squares of the log-linear model by normal equations in long double.
std::array<long double, 7> referenceFit(const std::vector<Vec3>& frameDirs, const double* b,
                                        double b0Mean, const std::vector<double>& dw) {
    std::vector<std::array<long double, 8>> rows;
    rows.push_back({0, 0, 0, 0, 0, 0, 1, b0Mean >= 1 ? -std::log((long double)b0Mean) : 0});
    for (size_t i = 0; i < frameDirs.size(); ++i) {
        const Vec3& g = frameDirs[i];
        const long double s = dw[i] >= 1 ? -std::log((long double)dw[i]) : 0;
        rows.push_back({b[i] * g[0] * g[0], 2 * b[i] * g[0] * g[1], 2 * b[i] * g[0] * g[2],
                        b[i] * g[1] * g[1], 2 * b[i] * g[1] * g[2], b[i] * g[2] * g[2], 1, s});
    }
    long double n[7][8] = {};
    for (const auto& r : rows) {
        for (int i = 0; i < 7; ++i) {
            for (int j = 0; j < 8; ++j) {
                n[i][j] += r[i] * r[j];
            }
        }
    }
    for (int c = 0; c < 7; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 7; ++r) {
            if (std::fabs(n[r][c]) > std::fabs(n[pivot][c])) {
                pivot = r;
            }
        }
        std::swap(n[c], n[pivot]);
        for (int r = 0; r < 7; ++r) {
            if (r != c) {
                const long double f = n[r][c] / n[c][c];
                for (int j = c; j < 8; ++j) {
                    n[r][j] -= f * n[c][j];
                }
            }
        }
    }
    std::array<long double, 7> x{};
    for (int i = 0; i < 7; ++i) {
        x[i] = n[i][7] / n[i][i];
    }
    return x;
}

struct FitCase {
    const char* name;
    double tensor[6];
    bool oblique;
};

TEST(TensorFit, RecoversKnownTensorsToFloatPrecision) {
    const auto dirs = spiralDirections(30);
    const std::vector<FitCase> cases = {
        {"prolate along x", {1.7e-3, 0, 0, 0.3e-3, 0, 0.3e-3}, false},
        {"oblate", {1.2e-3, 0, 0, 1.2e-3, 0, 0.2e-3}, false},
        {"isotropic", {0.8e-3, 0, 0, 0.8e-3, 0, 0.8e-3}, false},
        {"rotated", {1.0e-3, 0.4e-3, 0.1e-3, 0.9e-3, -0.2e-3, 0.6e-3}, false},
        {"rotated, oblique frame", {1.0e-3, 0.4e-3, 0.1e-3, 0.9e-3, -0.2e-3, 0.6e-3}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DTIReconstructor rec;
        // An oblique frame: rotation by 20 degrees about z, then 10 about x.
        const double a = 20 * M_PI / 180, e = 10 * M_PI / 180;
        const Vec3 row = {std::cos(a), std::sin(a), 0};
        const Vec3 col = {-std::sin(a) * std::cos(e), std::cos(a) * std::cos(e), std::sin(e)};
        const Vec3 normal = {row[1] * col[2] - row[2] * col[1], row[2] * col[0] - row[0] * col[2],
                             row[0] * col[1] - row[1] * col[0]};
        if (c.oblique) {
            const float orientation[6] = {(float)row[0], (float)row[1], (float)row[2],
                                          (float)col[0], (float)col[1], (float)col[2]};
            rec.SetImageOrientation(orientation);
        }
        // b values from the fourth column: half the rows at b = 1000, half at 2000.
        std::string text = "0 0 0\n0 0 0\n";
        std::vector<double> bs;
        char line[160];
        for (size_t i = 0; i < dirs.size(); ++i) {
            bs.push_back(i % 2 ? 2000.0 : 1000.0);
            std::snprintf(line, sizeof line, "%.12f %.12f %.12f %.1f\n", dirs[i][0], dirs[i][1],
                          dirs[i][2], bs.back());
            text += line;
        }
        ASSERT_TRUE(load(rec, text, 0, 1000, true, c.oblique).ok);
        ASSERT_EQ(rec.GetNumberOfB0(), 2);

        // The fit sees each direction in the image frame: rows (r, c, n) with y and z negated.
        std::vector<Vec3> frame;
        for (const auto& d : dirs) {
            if (c.oblique) {
                const Vec3* m[3] = {&row, &col, &normal};
                Vec3 g;
                for (int k = 0; k < 3; ++k) {
                    g[k] = (*m[k])[0] * d[0] - (*m[k])[1] * d[1] - (*m[k])[2] * d[2];
                }
                frame.push_back(g);
            } else {
                frame.push_back({d[0], -d[1], -d[2]});
            }
        }
        std::vector<short> signals = {20000, 20001};
        std::vector<double> dw;
        for (size_t i = 0; i < frame.size(); ++i) {
            const double s = std::round(20000 * std::exp(-bs[i] * quadratic(c.tensor, frame[i])));
            signals.push_back(static_cast<short>(s));
            dw.push_back(s);
        }
        float tensor[6], eigenvalues[3], eigenvectors[3][3], fa, adc, exp;
        short b0, dwiMean;
        ASSERT_TRUE(rec.Reconstruct(signals.data(), tensor, eigenvalues, eigenvectors, fa, b0,
                                    dwiMean, adc, exp));
        const auto ref = referenceFit(frame, bs.data(), 20000.5, dw);
        for (int j = 0; j < 6; ++j) {
            EXPECT_NEAR(tensor[j], (double)ref[j], 2e-9) << j;
            // Rounding the signals to integers moves the fit only slightly off the truth.
            EXPECT_NEAR(tensor[j], c.tensor[j], 2e-6) << j;
        }
        EXPECT_EQ(b0, 20000);
        double dwSum = 0;
        for (double s : dw) {
            dwSum += s;
        }
        EXPECT_EQ(dwiMean, static_cast<short>(dwSum / dw.size()));
        EXPECT_FLOAT_EQ(exp, static_cast<float>(dwSum / dw.size() / 20000.5));

        // Eigen pairs: D v = lambda v, descending, FA and ADC from the eigenvalues.
        const double t[3][3] = {{tensor[0], tensor[1], tensor[2]},
                                {tensor[1], tensor[3], tensor[4]},
                                {tensor[2], tensor[4], tensor[5]}};
        for (int k = 0; k < 3; ++k) {
            for (int r = 0; r < 3; ++r) {
                double dv = 0;
                for (int q = 0; q < 3; ++q) {
                    dv += t[r][q] * eigenvectors[q][k];
                }
                EXPECT_NEAR(dv, eigenvalues[k] * eigenvectors[r][k], 1e-9);
            }
            int nonNegative = 0;
            for (int r = 0; r < 3; ++r) {
                nonNegative += eigenvectors[r][k] >= 0;
            }
            EXPECT_GE(nonNegative, 2);
        }
        EXPECT_GE(eigenvalues[0], eigenvalues[1]);
        EXPECT_GE(eigenvalues[1], eigenvalues[2]);
        const double mean = (eigenvalues[0] + eigenvalues[1] + eigenvalues[2]) / 3.0;
        double dev = 0, ss = 0;
        for (float l : eigenvalues) {
            dev += (l - mean) * (l - mean);
            ss += l * l;
        }
        EXPECT_NEAR(adc, mean, 1e-10);
        EXPECT_NEAR(fa, std::sqrt(1.5 * dev / ss), 1e-5);
        EXPECT_NEAR(adc, (c.tensor[0] + c.tensor[3] + c.tensor[5]) / 3, 1e-6);
    }
}

TEST(TensorFit, SignalEdgeCases) {
    DTIReconstructor rec;
    float tensor[6], ev[3], evec[3][3], fa, adc, exp;
    short b0, dwi;
    std::vector<short> signals(8, 0);
    EXPECT_FALSE(rec.Reconstruct(signals.data(), tensor, ev, evec, fa, b0, dwi, adc, exp));

    ASSERT_TRUE(load(rec, "0 0 0\n0 0 0\n" + kSixDirections).ok);
    ASSERT_TRUE(rec.Reconstruct(signals.data(), tensor, ev, evec, fa, b0, dwi, adc, exp));
    for (float v : tensor) {
        EXPECT_EQ(v, 0.0f);
    }
    EXPECT_EQ(ev[0], 0.0f);
    EXPECT_EQ(fa, 0.0f);
    EXPECT_EQ(adc, 0.0f);
    EXPECT_EQ(exp, 0.0f);
    EXPECT_EQ(b0, 0);
    EXPECT_EQ(dwi, 0);

    // b0 values 100 and 101, every DW signal 50: an isotropic tensor of ln(100.5 / 50) / b,
    // solved exactly with six directions.
    signals = {100, 101, 50, 50, 50, 50, 50, 50};
    ASSERT_TRUE(rec.Reconstruct(signals.data(), tensor, ev, evec, fa, b0, dwi, adc, exp));
    EXPECT_EQ(b0, 100);
    EXPECT_EQ(dwi, 50);
    const double d = std::log(100.5 / 50) / 1000;
    EXPECT_NEAR(tensor[0], d, 1e-9);
    EXPECT_NEAR(tensor[3], d, 1e-9);
    EXPECT_NEAR(tensor[5], d, 1e-9);
    EXPECT_NEAR(tensor[1], 0, 1e-9);
    EXPECT_NEAR(adc, d, 1e-9);
    EXPECT_FLOAT_EQ(exp, static_cast<float>(50 / 100.5));

    // A b0 mean below 1 contributes log 0 and EXP is the DW mean itself.
    signals = {0, 1, 40, 40, 40, 40, 40, 40};
    ASSERT_TRUE(rec.Reconstruct(signals.data(), tensor, ev, evec, fa, b0, dwi, adc, exp));
    EXPECT_EQ(exp, 40.0f);
    EXPECT_NEAR(tensor[0], -std::log(40.0) / 1000, 1e-9);

    // A DW signal of 0 or below counts as 1.
    float t1[6], t2[6];
    signals = {500, 500, 300, 0, 200, 250, 150, 100};
    ASSERT_TRUE(rec.Reconstruct(signals.data(), t1, ev, evec, fa, b0, dwi, adc, exp));
    signals = {500, 500, 300, 1, 200, 250, 150, 100};
    ASSERT_TRUE(rec.Reconstruct(signals.data(), t2, ev, evec, fa, b0, dwi, adc, exp));
    signals[3] = -7;
    float t3[6];
    ASSERT_TRUE(rec.Reconstruct(signals.data(), t3, ev, evec, fa, b0, dwi, adc, exp));
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(t1[j], t2[j]);
        EXPECT_EQ(t3[j], t2[j]);
    }
}

TEST(TensorFit, AnisotropyOfGivenEigenvalues) {
    float tensor[3][3] = {{1, 0, 0}, {0, 0, 0}, {0, 0, -1}};
    float ev[3], evec[3][3], fa, adc;
    ASSERT_TRUE(DTIReconstructor::CalculateMaps(tensor, ev, evec, fa, adc));
    EXPECT_NEAR(fa, std::sqrt(1.5), 1e-6);
    EXPECT_EQ(adc, 0.0f);
    EXPECT_EQ(ev[0], 1.0f);
    EXPECT_EQ(ev[2], -1.0f);

    float iso[3][3] = {{2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
    ASSERT_TRUE(DTIReconstructor::CalculateMaps(iso, ev, evec, fa, adc));
    EXPECT_EQ(fa, 0.0f);
    EXPECT_FLOAT_EQ(adc, 2.0f);
}

TEST(TensorFit, OrientationIsNormalisedAndReadFromFile) {
    DTIReconstructor rec;
    const float raw[6] = {2, 0, 0, 0, 0, -3};
    rec.SetImageOrientation(raw);
    float out[6];
    rec.GetImageOrientation(out);
    EXPECT_EQ(std::vector<float>(out, out + 6), (std::vector<float>{1, 0, 0, 0, 0, -1}));

    TempDir dir;
    writeFile(dir.file("iop.txt"), "# sagittal\n0, 1, 0\n0, 0, -1\n");
    ASSERT_TRUE(rec.LoadImageOrientationMatrix(dir.file("iop.txt")));
    rec.GetImageOrientation(out);
    EXPECT_EQ(std::vector<float>(out, out + 6), (std::vector<float>{0, 1, 0, 0, 0, -1}));
    EXPECT_FALSE(rec.LoadImageOrientationMatrix(dir.file("missing.txt")));
    rec.GetImageOrientation(out);
    EXPECT_EQ(out[1], 1.0f);
}

}  // namespace
