// Singular value decomposition, pseudo-inverse, the histogram / automatic threshold family and
// the small numeric helpers.

#include "CMyMath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "FloatingTypes.h"

namespace {

using floatingtypes::perType;
template <typename T>
using Mat = floatingtypes::Matrix<T>;

template <typename T>
Mat<T> randomMatrix(std::mt19937& rng, int m, int n) {
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Mat<T> a(m, n);
    for (T& x : a.data) {
        x = static_cast<T>(dist(rng));
    }
    return a;
}

template <typename T>
Mat<T> multiply(const Mat<T>& a, const Mat<T>& b) {
    Mat<T> c(a.rows, b.cols);
    for (int r = 0; r < a.rows; ++r) {
        for (int k = 0; k < b.cols; ++k) {
            double sum = 0.0;
            for (int j = 0; j < a.cols; ++j) {
                sum += static_cast<double>(a[r][j]) * b[j][k];
            }
            c[r][k] = static_cast<T>(sum);
        }
    }
    return c;
}

template <typename T>
Mat<T> transpose(const Mat<T>& a) {
    Mat<T> t(a.cols, a.rows);
    for (int r = 0; r < a.rows; ++r) {
        for (int c = 0; c < a.cols; ++c) {
            t[c][r] = a[r][c];
        }
    }
    return t;
}

template <typename T>
void expectNear(const Mat<T>& a, const Mat<T>& b, double tol, const char* what) {
    ASSERT_EQ(a.rows, b.rows);
    ASSERT_EQ(a.cols, b.cols);
    for (int r = 0; r < a.rows; ++r) {
        for (int c = 0; c < a.cols; ++c) {
            ASSERT_NEAR(a[r][c], b[r][c], tol) << what << " at " << r << "," << c;
        }
    }
}

// Runs the 1-based decomposition on a copy of a and returns U, w, V 0-based.
template <typename T>
void decompose(const Mat<T>& a, Mat<T>& u, std::vector<T>& w, Mat<T>& v) {
    const int m = a.rows;
    const int n = a.cols;
    Mat<T> work(m + 1, n + 1);
    Mat<T> vWork(n + 1, n + 1);
    std::vector<T> wWork(n + 1, T(0));
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < n; ++c) {
            work[r + 1][c + 1] = a[r][c];
        }
    }
    CMyMath::SingularValueDecomposition(work.get(), m, n, wWork.data(), vWork.get());
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < n; ++c) {
            u[r][c] = work[r + 1][c + 1];
        }
    }
    for (int r = 0; r < n; ++r) {
        w[r] = wWork[r + 1];
        for (int c = 0; c < n; ++c) {
            v[r][c] = vWork[r + 1][c + 1];
        }
    }
}

template <typename T>
void checkDecomposition(const Mat<T>& a, bool fullRank, double tol) {
    const int m = a.rows;
    const int n = a.cols;
    Mat<T> u(m, n);
    Mat<T> v(n, n);
    std::vector<T> w(n);
    decompose(a, u, w, v);
    Mat<T> uw(m, n);
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < n; ++c) {
            uw[r][c] = u[r][c] * w[c];
        }
    }
    expectNear(multiply(uw, transpose(v)), a, tol, "U diag(w) V^T");
    Mat<T> identity(n, n);
    for (int i = 0; i < n; ++i) {
        identity[i][i] = T(1);
        EXPECT_GE(w[i], T(0)) << "negative singular value " << i;
    }
    expectNear(multiply(transpose(v), v), identity, tol, "V^T V");
    if (fullRank && m >= n) {
        expectNear(multiply(transpose(u), u), identity, tol, "U^T U");
    }
}

template <typename T>
Mat<T> pseudoInverse(Mat<T>& a) {
    Mat<T> x(a.cols, a.rows);
    const std::vector<T> before = a.data;
    CMyMath::PseudoInverse(x.get(), a.get(), a.rows, a.cols);
    EXPECT_EQ(a.data, before) << "input changed";
    return x;
}

template <typename T>
void checkMoorePenrose(Mat<T>& a, double tol) {
    const Mat<T> x = pseudoInverse(a);
    expectNear(multiply(multiply(a, x), a), a, tol, "A X A = A");
    expectNear(multiply(multiply(x, a), x), x, tol, "X A X = X");
    const Mat<T> ax = multiply(a, x);
    expectNear(transpose(ax), ax, tol, "(A X)^T = A X");
    const Mat<T> xa = multiply(x, a);
    expectNear(transpose(xa), xa, tol, "(X A)^T = X A");
}

template <typename T>
class SingularValueDecomposition : public ::testing::Test {};
TYPED_TEST_SUITE(SingularValueDecomposition, floatingtypes::Types, floatingtypes::Names);

TYPED_TEST(SingularValueDecomposition, ReconstructsRandomMatrices) {
    using T = TypeParam;
    std::mt19937 rng(2024);
    const int shapes[][2] = {{65, 7}, {7, 7}, {30, 1}, {1, 1}, {12, 6}, {4, 9}, {20, 4}};
    for (const auto& shape : shapes) {
        for (int trial = 0; trial < 10; ++trial) {
            const Mat<T> a = randomMatrix<T>(rng, shape[0], shape[1]);
            checkDecomposition(a, true, perType<T>(2e-5, 1e-12));
        }
    }
}

TEST(SingularValueDecomposition, RankDeficientMatrixGivesZeroValue) {
    std::mt19937 rng(11);
    Mat<double> a = randomMatrix<double>(rng, 65, 7);
    for (int r = 0; r < 65; ++r) {
        a[r][2] = 2.0 * a[r][1] - a[r][0];  // a dependent column: tiny value
        a[r][6] = 0.0;                      // an all-zero last column: exactly zero
    }
    checkDecomposition(a, false, 1e-12);
    Mat<double> u(65, 7);
    Mat<double> v(7, 7);
    std::vector<double> w(7);
    decompose(a, u, w, v);
    int exactZeros = 0;
    int tiny = 0;
    for (double s : w) {
        exactZeros += s == 0.0 ? 1 : 0;
        tiny += s < 1e-12 ? 1 : 0;
    }
    EXPECT_EQ(exactZeros, 1);
    EXPECT_EQ(tiny, 2);
}

template <typename T>
class PseudoInverse : public ::testing::Test {};
TYPED_TEST_SUITE(PseudoInverse, floatingtypes::Types, floatingtypes::Names);

TYPED_TEST(PseudoInverse, SatisfiesMoorePenroseConditions) {
    using T = TypeParam;
    std::mt19937 rng(42);
    Mat<T> identity(7, 7);
    for (int i = 0; i < 7; ++i) {
        identity[i][i] = T(1);
    }
    for (int trial = 0; trial < 10; ++trial) {
        Mat<T> tall = randomMatrix<T>(rng, 65, 7);
        checkMoorePenrose(tall, perType<T>(1e-4, 1e-11));
        // Full column rank: the pseudo-inverse is a left inverse.
        expectNear(multiply(pseudoInverse(tall), tall), identity, perType<T>(1e-5, 1e-13),
                   "X A = I");
        Mat<T> square = randomMatrix<T>(rng, 7, 7);
        checkMoorePenrose(square, perType<T>(2e-3, 1e-9));
    }
    // Rank deficient through all-zero trailing columns: their singular values come out exactly 0
    // and are dropped. (A dependency elsewhere leaves a tiny non-zero value, which is inverted.)
    Mat<T> deficient = randomMatrix<T>(rng, 65, 7);
    for (int r = 0; r < 65; ++r) {
        deficient[r][5] = T(0);
        deficient[r][6] = T(0);
    }
    checkMoorePenrose(deficient, perType<T>(1e-4, 1e-11));
    const Mat<T> x = pseudoInverse(deficient);
    for (int c = 0; c < 65; ++c) {
        EXPECT_EQ(x[5][c], T(0));
        EXPECT_EQ(x[6][c], T(0));
    }
}

TEST(PseudoInverse, OnlyExactlyZeroSingularValuesAreDropped) {
    Mat<double> a(3, 2);
    a[0][0] = 1.0;
    a[1][1] = 1e-200;  // tiny, inverted as it is
    Mat<double> x = pseudoInverse(a);
    EXPECT_DOUBLE_EQ(x[0][0], 1.0);
    EXPECT_DOUBLE_EQ(x[1][1], 1e200);
    EXPECT_EQ(x[0][1], 0.0);
    EXPECT_EQ(x[1][0], 0.0);
    EXPECT_EQ(x[0][2], 0.0);

    a[1][1] = 0.0;
    const Mat<double> y = pseudoInverse(a);
    EXPECT_DOUBLE_EQ(y[0][0], 1.0);
    EXPECT_EQ(y[1][1], 0.0);
}

TYPED_TEST(PseudoInverse, FixedFormsMatchGeneralForm) {
    using T = TypeParam;
    std::mt19937 rng(9);
    Mat<T> a3 = randomMatrix<T>(rng, 3, 3);
    Mat<T> a4 = randomMatrix<T>(rng, 4, 4);
    const Mat<T> g3 = pseudoInverse(a3);
    const Mat<T> g4 = pseudoInverse(a4);
    T in3[3][3], out3[3][3], in4[4][4], out4[4][4];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            in4[r][c] = a4[r][c];
            if (r < 3 && c < 3) {
                in3[r][c] = a3[r][c];
            }
        }
    }
    CMyMath::PseudoInverse(out3, in3);
    CMyMath::PseudoInverse4x4(out4, in4);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(out4[r][c], g4[r][c]);
            if (r < 3 && c < 3) {
                EXPECT_EQ(out3[r][c], g3[r][c]);
            }
        }
    }
}

// ---- histogram -------------------------------------------------------------------------------

TEST(Histogram, BinsFromMinimumWithMaximumInLastBin) {
    const double data[] = {2.0, 3.0, 4.9, 5.0, 11.0};
    std::vector<int64_t> bins(4, -1);
    double range[2] = {0, 0};
    const double width = CMyMath::Histogram(data, 5, bins.data(), 4, range);
    EXPECT_DOUBLE_EQ(width, 3.0);
    EXPECT_EQ(range[0], 2.0);
    EXPECT_EQ(range[1], 11.0);
    // [2,5) [5,8) [8,11) [11,14)
    EXPECT_EQ(bins, (std::vector<int64_t>{3, 1, 0, 1}));
}

TEST(Histogram, AllElementTypesAgree) {
    const unsigned char bytes[] = {0, 200, 17, 99, 255, 3};
    const short shorts[] = {0, 200, 17, 99, 255, 3};
    const int ints[] = {0, 200, 17, 99, 255, 3};
    const float floats[] = {0, 200, 17, 99, 255, 3};
    const double doubles[] = {0, 200, 17, 99, 255, 3};
    std::vector<int64_t> reference(10);
    const double w = CMyMath::Histogram(doubles, 6, reference.data(), 10, nullptr);
    std::vector<int64_t> bins(10);
    EXPECT_EQ(CMyMath::Histogram(bytes, 6, bins.data(), 10, nullptr), w);
    EXPECT_EQ(bins, reference);
    EXPECT_EQ(CMyMath::Histogram(shorts, 6, bins.data(), 10, nullptr), w);
    EXPECT_EQ(bins, reference);
    EXPECT_EQ(CMyMath::Histogram(ints, 6, bins.data(), 10, nullptr), w);
    EXPECT_EQ(bins, reference);
    EXPECT_EQ(CMyMath::Histogram(floats, 6, bins.data(), 10, nullptr), w);
    EXPECT_EQ(bins, reference);
    EXPECT_EQ(std::accumulate(reference.begin(), reference.end(), int64_t{0}), 6);
    EXPECT_EQ(reference[0], 3);  // 0, 3 and 17 below 255 / 9
    EXPECT_EQ(reference[9], 1);
}

TEST(Histogram, ConstantAndEmptyInputsFallBack) {
    const short sevens[] = {7, 7, 7};
    std::vector<int64_t> bins(5, 9);
    double range[2] = {-1, -1};
    EXPECT_DOUBLE_EQ(CMyMath::Histogram(sevens, 3, bins.data(), 5, range), 0.25);
    EXPECT_EQ(bins, (std::vector<int64_t>{3, 0, 0, 0, 0}));
    EXPECT_EQ(range[0], 7.0);
    EXPECT_EQ(range[1], 7.0);

    std::fill(bins.begin(), bins.end(), 9);
    EXPECT_DOUBLE_EQ(CMyMath::Histogram(sevens, 0, bins.data(), 5, range), 0.25);
    EXPECT_EQ(bins, (std::vector<int64_t>(5, 0)));
    EXPECT_EQ(range[0], 0.0);
    EXPECT_EQ(range[1], 1.0);
}

// ---- automatic threshold -----------------------------------------------------------------------

TEST(GetAutoThreshold, OneToTenFindsFirstValley) {
    // i = 98 after the bright scan, 50 bins of width 9/49, first strict valley at bin 13.
    const double expected = 1.0 + 13.5 * (9.0 / 49.0);
    const double expectedUpper = 99.5 * (9.0 / 99.0);
    const short s[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const int i[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const float f[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const double d[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    double range[2] = {0, 0};
    double upper = 0;
    EXPECT_DOUBLE_EQ(CMyMath::GetAutoThreshold(s, 10, 50, range, &upper), expected);
    EXPECT_NEAR(expected, 3.4796, 1e-4);
    EXPECT_EQ(range[0], 1.0);
    EXPECT_EQ(range[1], 10.0);
    EXPECT_DOUBLE_EQ(upper, expectedUpper);
    EXPECT_DOUBLE_EQ(CMyMath::GetAutoThreshold(i, 10, 50, nullptr), expected);
    EXPECT_DOUBLE_EQ(CMyMath::GetAutoThreshold(f, 10, 50, nullptr), expected);
    EXPECT_DOUBLE_EQ(CMyMath::GetAutoThreshold(d, 10, 50, nullptr, nullptr), expected);
}

TEST(GetAutoThreshold, FlatGapBetweenPeaksIsNoValley) {
    std::vector<short> data(900, 0);
    data.insert(data.end(), 100, 100);
    double range[2] = {0, 0};
    // B = 50: falls back to the centre of bin 0.
    EXPECT_DOUBLE_EQ(CMyMath::GetAutoThreshold(data.data(), 1000, 50, range), 0.5 * (100.0 / 49.0));
    EXPECT_EQ(range[1], 100.0);
}

TEST(GetAutoThreshold, SmallBrightTailSplitsRangeInTwo) {
    std::vector<int> data(990, 0);
    data.insert(data.end(), 10, 100);
    double upper = 1;
    EXPECT_DOUBLE_EQ(CMyMath::GetAutoThreshold(data.data(), 1000, 50, nullptr, &upper), 50.0);
    EXPECT_DOUBLE_EQ(upper, 0.5 * (100.0 / 99.0));  // i = -1, measured from the minimum
}

TEST(GetAutoThreshold, ConstantDataGivesHalfAboveValue) {
    const std::vector<float> data(10, 7.0f);
    double range[2] = {0, 0};
    double upper = 0;
    EXPECT_DOUBLE_EQ(CMyMath::GetAutoThreshold(data.data(), 10, 50, range, &upper), 7.5);
    EXPECT_EQ(range[0], 7.0);
    EXPECT_EQ(range[1], 7.0);
    EXPECT_DOUBLE_EQ(upper, 0.5 / 99.0);
}

TEST(GetAutoThreshold, EmptyInputUsesUnitRange) {
    const double dummy = 3.0;
    double range[2] = {-1, -1};
    // Nothing to skip: i stays 99, B = trunc(1 / (99.5 / 99 / 50)) = 49, width 1/48.
    EXPECT_DOUBLE_EQ(CMyMath::GetAutoThreshold(&dummy, 0, 50, range), 0.5 / 48.0);
    EXPECT_EQ(range[0], 0.0);
    EXPECT_EQ(range[1], 1.0);
}

TEST(GetAutoThreshold, SeparatesBackgroundFromForeground) {
    // A noisy dark background, a bright object and partial-volume values spread between them
    // (without those the gap is a flat run and no valley exists): the threshold falls between.
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> between(0.0, 700.0);
    std::normal_distribution<double> dark(40.0, 8.0);
    std::normal_distribution<double> bright(600.0, 60.0);
    std::vector<short> data;
    for (int k = 0; k < 60000; ++k) {
        data.push_back(static_cast<short>(std::max(0.0, dark(rng))));
    }
    for (int k = 0; k < 40000; ++k) {
        data.push_back(static_cast<short>(bright(rng)));
    }
    for (int k = 0; k < 5000; ++k) {
        data.push_back(static_cast<short>(between(rng)));
    }
    const double t = CMyMath::GetAutoThreshold(data.data(), data.size(), 50, nullptr);
    EXPECT_GT(t, 80.0);
    EXPECT_LT(t, 400.0);
}

TEST(AutoWindowLevel, CombinesThresholdAndUpperLevel) {
    const short s[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const double t = 1.0 + 13.5 * (9.0 / 49.0);
    const double upper = 99.5 * (9.0 / 99.0);
    double out[2] = {0, 0};
    CMyMath::AutoWindowLevel(s, 10, out);
    EXPECT_DOUBLE_EQ(out[0], 1.7 * (upper - t));
    EXPECT_DOUBLE_EQ(out[1], 0.5 * (upper + t) + 0.125 * (upper - t));
    const double d[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    double outD[2] = {0, 0};
    CMyMath::AutoWindowLevel(d, 10, outD);
    EXPECT_EQ(outD[0], out[0]);
    EXPECT_EQ(outD[1], out[1]);

    // Window falls back to the range / 2.5 when upper lies below the threshold.
    const int sevens[] = {7, 7, 7, 7};
    CMyMath::AutoWindowLevel(sevens, 4, out);
    const double u7 = 0.5 / 99.0;
    EXPECT_EQ(out[0], 0.0);
    EXPECT_DOUBLE_EQ(out[1], 0.5 * (u7 + 7.5) + 0.125 * (u7 - 7.5));
    const float spread[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    CMyMath::AutoWindowLevel(spread, 21, out);
    EXPECT_GT(out[0], 0.0);
}

// ---- smoothing ---------------------------------------------------------------------------------

const double kKernel[5] = {1, 3, 5, 3, 1};

TEST(LinearSmooth, IntegerTypesTruncate) {
    short s[5] = {0, 0, 10, 0, 0};
    CMyMath::LinearSmooth(s, 5, 5, kKernel);
    EXPECT_EQ(std::vector<short>(s, s + 5), (std::vector<short>{1, 2, 3, 2, 1}));
    int i[5] = {0, 0, -10, 0, 0};
    CMyMath::LinearSmooth(i, 5, 5, kKernel);
    EXPECT_EQ(std::vector<int>(i, i + 5), (std::vector<int>{-1, -2, -3, -2, -1}));
}

template <typename T>
class LinearSmooth : public ::testing::Test {};
TYPED_TEST_SUITE(LinearSmooth, floatingtypes::Types, floatingtypes::Names);

TYPED_TEST(LinearSmooth, FloatingTypesKeepFractions) {
    using T = TypeParam;
    T d[5] = {0, 0, 10, 0, 0};
    CMyMath::LinearSmooth(d, 5, 5, kKernel);
    // Weighted in double and rounded once into the element type.
    EXPECT_EQ(d[0], static_cast<T>(10.0 / 9.0));
    EXPECT_EQ(d[1], static_cast<T>(30.0 / 12.0));
    EXPECT_EQ(d[2], static_cast<T>(50.0 / 13.0));
    EXPECT_EQ(d[3], static_cast<T>(30.0 / 12.0));
    EXPECT_EQ(d[4], static_cast<T>(10.0 / 9.0));
}

TEST(LinearSmooth, InteriorAndEdgesWeighNeighbours) {
    double d[7] = {1, 2, 4, 8, 16, 32, 64};
    CMyMath::LinearSmooth(d, 7, 5, kKernel);
    EXPECT_DOUBLE_EQ(d[0], (5 * 1 + 3 * 2 + 4) / 9.0);
    EXPECT_DOUBLE_EQ(d[1], (3 * 1 + 5 * 2 + 3 * 4 + 8) / 12.0);
    EXPECT_DOUBLE_EQ(d[3], (2 + 3 * 4 + 5 * 8 + 3 * 16 + 32) / 13.0);
    EXPECT_DOUBLE_EQ(d[5], (8 + 3 * 16 + 5 * 32 + 3 * 64) / 12.0);
    EXPECT_DOUBLE_EQ(d[6], (16 + 3 * 32 + 5 * 64) / 9.0);
}

TEST(LinearSmooth, ConstantDataAndNullKernel) {
    std::vector<double> c(9, 2.5);
    CMyMath::LinearSmooth(c.data(), 9, 5, kKernel);
    EXPECT_EQ(c, std::vector<double>(9, 2.5));
    std::vector<short> cs(6, 300);
    CMyMath::LinearSmooth(cs.data(), 6, 5, kKernel);
    EXPECT_EQ(cs, std::vector<short>(6, 300));

    double box[4] = {3, 6, 9, 12};
    CMyMath::LinearSmooth(box, 4, 3, nullptr);
    EXPECT_DOUBLE_EQ(box[0], 4.5);
    EXPECT_DOUBLE_EQ(box[1], 6.0);
    EXPECT_DOUBLE_EQ(box[2], 9.0);
    EXPECT_DOUBLE_EQ(box[3], 10.5);
}

TEST(LinearSmooth, ShortDataStaysInsideItsBounds) {
    // Sentinels around the data catch any read or write beyond it.
    std::vector<double> buffer = {1e6, 1e6, 0, 10, 0, 1e6, 1e6};
    CMyMath::LinearSmooth(buffer.data() + 2, 3, 5, kKernel);
    EXPECT_EQ(buffer[0], 1e6);
    EXPECT_EQ(buffer[1], 1e6);
    EXPECT_EQ(buffer[5], 1e6);
    EXPECT_EQ(buffer[6], 1e6);
    // Each window is clipped to the data and normalised by the weights it kept.
    EXPECT_DOUBLE_EQ(buffer[2], 30.0 / 9.0);
    EXPECT_DOUBLE_EQ(buffer[3], 50.0 / 11.0);
    EXPECT_DOUBLE_EQ(buffer[4], 30.0 / 9.0);

    std::vector<short> one = {-1, 77, -1};
    CMyMath::LinearSmooth(one.data() + 1, 1, 5, kKernel);
    EXPECT_EQ(one, (std::vector<short>{-1, 77, -1}));
}

// ---- small helpers -----------------------------------------------------------------------------

template <typename T>
class GaussianKernel : public ::testing::Test {};
TYPED_TEST_SUITE(GaussianKernel, floatingtypes::Types, floatingtypes::Names);

TYPED_TEST(GaussianKernel, NormalisedSymmetricCube) {
    using T = TypeParam;
    struct Case {
        int size;
        double sigma;
    };
    for (const Case c : {Case{3, 1.0}, Case{5, 2.0}}) {
        SCOPED_TRACE(c.size);
        const int half = c.size / 2;
        const int count = c.size * c.size * c.size;
        const int centre = count / 2;
        std::vector<T> k(count);
        CMyMath::GaussianKernel(k.data(), c.size, static_cast<T>(c.sigma));
        const double tol = perType<T>(2e-6, 4e-15);
        EXPECT_NEAR(std::accumulate(k.begin(), k.end(), 0.0), 1.0, tol);
        EXPECT_EQ(*std::max_element(k.begin(), k.end()), k[centre]);
        int index = 0;
        for (int z = -half; z <= half; ++z) {
            for (int y = -half; y <= half; ++y) {
                for (int x = -half; x <= half; ++x, ++index) {
                    const double falloff =
                        std::exp(-(x * x + y * y + z * z) / (2.0 * c.sigma * c.sigma));
                    EXPECT_NEAR(k[index], k[centre] * falloff, tol * k[centre])
                        << x << "," << y << "," << z;
                    EXPECT_EQ(k[index], k[count - 1 - index]) << x << "," << y << "," << z;
                }
            }
        }
        const std::vector<T> twos(count, T(2));
        EXPECT_NEAR(CMyMath::GaussianSmoothing(k.data(), twos.data(), c.size), 2.0, 2 * tol);
    }
}

template <typename T>
class TrapezoidalIntegrate : public ::testing::Test {};
TYPED_TEST_SUITE(TrapezoidalIntegrate, floatingtypes::Types, floatingtypes::Names);

TYPED_TEST(TrapezoidalIntegrate, SumsTrapezoids) {
    using T = TypeParam;
    // Halves and small integers, so the sums are exact in either type.
    const T d[] = {1, 2, 3};
    EXPECT_EQ(CMyMath::TrapezoidalIntegrate(d, 3, T(0.5)), T((1.5 + 2.5) * 0.5));
    const T f[] = {0, 4};
    EXPECT_EQ(CMyMath::TrapezoidalIntegrate(f, 2, T(2)), T(4));
    EXPECT_EQ(CMyMath::TrapezoidalIntegrate(d, 1, T(1)), T(0));
}

TEST(Cart2Sphere, AnglesAndDegenerateCases) {
    double s[3];
    const double x[3] = {1, 0, 0};
    CMyMath::Cart2Sphere(x, s);
    EXPECT_DOUBLE_EQ(s[0], 1.0);
    EXPECT_DOUBLE_EQ(s[1], std::acos(0.0));
    EXPECT_EQ(s[2], 0.0);
    const double negX[3] = {-3, 4, 0};
    CMyMath::Cart2Sphere(negX, s);
    EXPECT_DOUBLE_EQ(s[0], 5.0);
    EXPECT_DOUBLE_EQ(s[2], 3.1415926535 - std::asin(0.8));
    const double up[3] = {0, 0, 2};
    CMyMath::Cart2Sphere(up, s);
    EXPECT_EQ(s[0], 2.0);
    EXPECT_EQ(s[1], 0.0);
    EXPECT_EQ(s[2], 0.0);
    const double origin[3] = {0, 0, 0};
    CMyMath::Cart2Sphere(origin, s);
    EXPECT_EQ(s[0], 0.0);
    EXPECT_EQ(s[1], 0.0);
    EXPECT_EQ(s[2], 0.0);
}

TEST(RoundToGrid, SnapsToOneTwoFive) {
    EXPECT_DOUBLE_EQ(CMyMath::RoundToGrid(1.0), 1.0);
    EXPECT_DOUBLE_EQ(CMyMath::RoundToGrid(1.3), 2.0);
    EXPECT_DOUBLE_EQ(CMyMath::RoundToGrid(3.0), 5.0);
    EXPECT_DOUBLE_EQ(CMyMath::RoundToGrid(7.0), 10.0);
    EXPECT_DOUBLE_EQ(CMyMath::RoundToGrid(150.0), 200.0);
    EXPECT_DOUBLE_EQ(CMyMath::RoundToGrid(0.037), 0.05);
    EXPECT_DOUBLE_EQ(CMyMath::RoundToGrid(1000.0), 1000.0);
}

TEST(GetPower, DecimalExponentOfLeadingDigit) {
    EXPECT_EQ(CMyMath::GetPower(1000.0), 3);
    EXPECT_EQ(CMyMath::GetPower(999.9), 2);
    EXPECT_EQ(CMyMath::GetPower(1.0), 0);
    EXPECT_EQ(CMyMath::GetPower(0.05), -2);
    EXPECT_EQ(CMyMath::GetPower(1e-3), -3);
    EXPECT_EQ(CMyMath::GetPower(0.0), 0);
    EXPECT_EQ(CMyMath::GetPower(-50.0), 0);
}

}  // namespace
