// Eigen decomposition, pair sorting, nearest axis matrix, LU factorisation and inversion.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "CMyMath.h"
#include "FloatingTypes.h"

namespace {

using floatingtypes::perType;
template <typename T>
using Mat = floatingtypes::Matrix<T>;

template <typename T>
Mat<T> randomSymmetric(std::mt19937& rng, int n) {
    std::uniform_real_distribution<double> dist(-2.0, 2.0);
    Mat<T> m(n);
    for (int r = 0; r < n; ++r) {
        for (int c = r; c < n; ++c) {
            m[r][c] = m[c][r] = static_cast<T>(dist(rng));
        }
    }
    return m;
}

// Checks everything the decomposition promises for the symmetric matrix a (kept intact).
template <typename T>
void expectEigenProperties(Mat<T>& a, const T* w, Mat<T>& v, double tol) {
    const int n = a.rows;
    double scale = 0.0;
    for (double x : a.data) {
        scale = std::max(scale, std::fabs(x));
    }
    for (int k = 0; k < n; ++k) {
        if (k + 1 < n) {
            EXPECT_GE(w[k], w[k + 1]) << "eigenvalues not descending at " << k;
        }
        for (int r = 0; r < n; ++r) {
            double av = 0.0;
            for (int c = 0; c < n; ++c) {
                av += static_cast<double>(a[r][c]) * v[c][k];
            }
            EXPECT_NEAR(av, static_cast<double>(w[k]) * v[r][k], tol * (1.0 + scale))
                << "A v != lambda v, column " << k << " row " << r;
        }
        for (int j = 0; j < n; ++j) {
            double dot = 0.0;
            for (int r = 0; r < n; ++r) {
                dot += static_cast<double>(v[r][k]) * v[r][j];
            }
            EXPECT_NEAR(dot, k == j ? 1.0 : 0.0, tol) << "columns " << k << ", " << j;
        }
        int nonNegative = 0;
        for (int r = 0; r < n; ++r) {
            nonNegative += v[r][k] >= T(0) ? 1 : 0;
        }
        EXPECT_GE(nonNegative, (n + 1) / 2) << "sign rule broken in column " << k;
    }
}

template <typename T>
void expectColumn(T v[3][3], int k, T x, T y, T z, double tol) {
    EXPECT_NEAR(v[0][k], x, tol) << "column " << k;
    EXPECT_NEAR(v[1][k], y, tol) << "column " << k;
    EXPECT_NEAR(v[2][k], z, tol) << "column " << k;
}

// ---- independent expectations ----------------------------------------------------------------
// Expected decompositions are worked out in long double by other means than Jacobi rotations: the
// trigonometric roots of the 3x3 characteristic polynomial, the 2x2 closed form, or a matrix
// built as Q diag(values) Q^T from a known orthogonal Q.

using Real = long double;

struct Expected {
    int n = 0;
    std::vector<Real> a;        // the input exactly as the routine sees it, row-major
    std::vector<Real> values;   // descending
    std::vector<Real> vectors;  // row-major; column k belongs to values[k]
};

// Index of the six-number tensor element (xx, xy, xz, yy, yz, zz) at row r, column c.
constexpr int kTensorIndex[3][3] = {{0, 1, 2}, {1, 3, 4}, {2, 4, 5}};

template <typename T>
std::vector<Real> fromTensor(const T* tensor) {
    std::vector<Real> a(9);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            a[r * 3 + c] = tensor[kTensorIndex[r][c]];
        }
    }
    return a;
}

void normalise(Real* x, int n) {
    Real norm = 0;
    for (int i = 0; i < n; ++i) {
        norm += x[i] * x[i];
    }
    norm = std::sqrt(norm);
    if (norm > 0) {
        for (int i = 0; i < n; ++i) {
            x[i] /= norm;
        }
    }
}

// Eigenvector of the symmetric 3x3 a for a simple eigenvalue: the rows of a - lambda I span the
// plane orthogonal to it, so the longest cross product of two rows points along it.
std::array<Real, 3> nullVector3(const std::vector<Real>& a, Real lambda) {
    Real m[3][3];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            m[r][c] = a[r * 3 + c] - (r == c ? lambda : Real(0));
        }
    }
    std::array<Real, 3> best{};
    Real bestNorm = -1;
    for (int i = 0; i < 3; ++i) {
        const Real* x = m[i];
        const Real* y = m[(i + 1) % 3];
        const std::array<Real, 3> cross = {x[1] * y[2] - x[2] * y[1], x[2] * y[0] - x[0] * y[2],
                                           x[0] * y[1] - x[1] * y[0]};
        const Real norm = cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2];
        if (norm > bestNorm) {
            best = cross;
            bestNorm = norm;
        }
    }
    normalise(best.data(), 3);
    return best;
}

// Roots of det(a - lambda I) = 0 as q + 2 p cos(phi + 2 pi k / 3), with q the mean of the
// diagonal and p the spread of a - q I.
Expected closedForm3(const std::vector<Real>& a) {
    Expected e;
    e.n = 3;
    e.a = a;
    const auto at = [&a](int r, int c) { return a[r * 3 + c]; };
    const Real q = (at(0, 0) + at(1, 1) + at(2, 2)) / 3;
    const Real offDiagonal = at(0, 1) * at(0, 1) + at(0, 2) * at(0, 2) + at(1, 2) * at(1, 2);
    const Real spread = (at(0, 0) - q) * (at(0, 0) - q) + (at(1, 1) - q) * (at(1, 1) - q) +
                        (at(2, 2) - q) * (at(2, 2) - q) + 2 * offDiagonal;
    const Real p = std::sqrt(spread / 6);
    Real b[3][3];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            b[r][c] = (at(r, c) - (r == c ? q : Real(0))) / p;
        }
    }
    const Real det = b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) -
                     b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0]) +
                     b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0]);
    const Real phi = std::acos(std::clamp(det / 2, Real(-1), Real(1))) / 3;
    const Real twoPiThirds = 2 * std::acos(Real(-1)) / 3;
    const Real largest = q + 2 * p * std::cos(phi);
    const Real smallest = q + 2 * p * std::cos(phi + twoPiThirds);
    e.values = {largest, 3 * q - largest - smallest, smallest};
    e.vectors.assign(9, 0);
    for (int k = 0; k < 3; ++k) {
        const std::array<Real, 3> x = nullVector3(a, e.values[k]);
        for (int r = 0; r < 3; ++r) {
            e.vectors[r * 3 + k] = x[r];
        }
    }
    return e;
}

// [[a b] [b d]]: values m +- r around the mean m = (a + d) / 2 with r = hypot((a - d) / 2, b).
Expected closedForm2(Real a, Real b, Real d) {
    Expected e;
    e.n = 2;
    e.a = {a, b, b, d};
    const Real half = (a - d) / 2;
    const Real r = std::hypot(half, b);
    e.values = {(a + d) / 2 + r, (a + d) / 2 - r};
    // Both (r + half, b) and (b, r - half) solve for the larger value; the longer one is exact
    // to rounding.
    Real x[2] = {r + half, b};
    if (half < 0) {
        x[0] = b;
        x[1] = r - half;
    }
    normalise(x, 2);
    e.vectors = {x[0], -x[1], x[1], x[0]};
    return e;
}

// A product of plane rotations, one for every pair of axes, with angles derived from `angle`
// so that no two are alike; angle 0 gives the identity.
std::vector<Real> rotationProduct(int n, Real angle) {
    std::vector<Real> q(static_cast<size_t>(n * n), 0);
    for (int i = 0; i < n; ++i) {
        q[i * n + i] = 1;
    }
    for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) {
            const Real theta = angle * (1 + i + Real(0.7) * j);
            const Real c = std::cos(theta);
            const Real s = std::sin(theta);
            for (int r = 0; r < n; ++r) {
                const Real x = q[r * n + i];
                const Real y = q[r * n + j];
                q[r * n + i] = c * x - s * y;
                q[r * n + j] = s * x + c * y;
            }
        }
    }
    return q;
}

// Q diag(values) Q^T rounded to T, and the decomposition it was built from. The rounding moves
// the true decomposition by a few units of T's precision, well inside the tolerances.
template <typename T>
Expected rotatedDiagonal(const std::vector<double>& values, Real angle, std::vector<T>& rounded) {
    const int n = static_cast<int>(values.size());
    const std::vector<Real> q = rotationProduct(n, angle);
    std::vector<int> order(n);
    for (int k = 0; k < n; ++k) {
        order[k] = k;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&values](int x, int y) { return values[x] > values[y]; });
    Expected e;
    e.n = n;
    e.a.assign(static_cast<size_t>(n * n), 0);
    rounded.assign(static_cast<size_t>(n * n), T(0));
    e.values.resize(n);
    e.vectors.assign(static_cast<size_t>(n * n), 0);
    for (int r = 0; r < n; ++r) {
        for (int c = r; c < n; ++c) {
            Real sum = 0;
            for (int k = 0; k < n; ++k) {
                sum += q[r * n + k] * Real(values[k]) * q[c * n + k];
            }
            rounded[r * n + c] = rounded[c * n + r] = static_cast<T>(sum);
            e.a[r * n + c] = e.a[c * n + r] = rounded[r * n + c];
        }
    }
    for (int k = 0; k < n; ++k) {
        e.values[k] = values[order[k]];
        for (int r = 0; r < n; ++r) {
            e.vectors[r * n + k] = q[r * n + order[k]];
        }
    }
    return e;
}

// Error bounds in units of T's precision times the largest matrix element: Jacobi is accurate to
// a small multiple of that in the values and in A v - lambda v, and an eigenvector moves by
// that amount divided by the distance to the nearest other eigenvalue.
constexpr Real kUnits = 16;

// Compares a decomposition (values w, eigenvectors as the columns of the row-major v) with the
// expected one. Returns how many eigenvectors had their sign fixed by the convention alone, so
// callers can make sure the convention was put to the test.
template <typename T>
int expectAsExpected(const Expected& e, const T* w, const std::vector<T>& v,
                     const std::string& what) {
    SCOPED_TRACE(what);
    const int n = e.n;
    const Real unit = std::numeric_limits<T>::epsilon();
    Real scale = 0;
    for (const Real x : e.a) {
        scale = std::max(scale, std::fabs(x));
    }
    const Real valueTol = kUnits * unit * scale;
    const int halfUp = (n + 1) / 2;
    int signFixedByConvention = 0;
    for (int k = 0; k < n; ++k) {
        if (k + 1 < n) {
            EXPECT_GE(w[k], w[k + 1]) << "eigenvalues not descending at " << k;
        }
        EXPECT_NEAR(static_cast<double>(w[k]), static_cast<double>(e.values[k]),
                    static_cast<double>(valueTol))
            << "eigenvalue " << k;

        int nonNegative = 0;
        for (int r = 0; r < n; ++r) {
            Real av = 0;
            for (int c = 0; c < n; ++c) {
                av += e.a[r * n + c] * v[c * n + k];
            }
            const Real lv = Real(w[k]) * v[r * n + k];
            EXPECT_NEAR(static_cast<double>(av), static_cast<double>(lv),
                        static_cast<double>(valueTol))
                << "A v != lambda v, column " << k << " row " << r;
            nonNegative += v[r * n + k] >= T(0) ? 1 : 0;
        }
        EXPECT_GE(nonNegative, halfUp) << "fewer than half the components >= 0 in column " << k;
        for (int j = 0; j <= k; ++j) {
            Real dot = 0;
            for (int r = 0; r < n; ++r) {
                dot += Real(v[r * n + k]) * v[r * n + j];
            }
            EXPECT_NEAR(static_cast<double>(dot), j == k ? 1.0 : 0.0,
                        static_cast<double>(kUnits * unit * n))
                << "columns " << k << ", " << j;
        }

        Real gap = std::numeric_limits<Real>::infinity();
        for (int j = 0; j < n; ++j) {
            if (j != k) {
                gap = std::min(gap, std::fabs(e.values[k] - e.values[j]));
            }
        }
        if (gap == 0) {
            continue;  // a repeated value fixes only its eigenspace, which the checks above cover
        }
        const Real vectorTol = kUnits * unit * scale / gap;
        // The convention decides the sign when every component's sign is certain and the two
        // candidates differ in how many components are >= 0; otherwise either sign may come out.
        bool decided = true;
        int expectedNonNegative = 0;
        Real dot = 0;
        for (int r = 0; r < n; ++r) {
            const Real x = e.vectors[r * n + k];
            decided = decided && std::fabs(x) > vectorTol;
            expectedNonNegative += x >= 0 ? 1 : 0;
            dot += x * v[r * n + k];
        }
        decided = decided && 2 * expectedNonNegative != n;
        Real sign = dot < 0 ? -1 : 1;
        if (decided) {
            sign = expectedNonNegative >= halfUp ? 1 : -1;
            ++signFixedByConvention;
        }
        for (int r = 0; r < n; ++r) {
            EXPECT_NEAR(static_cast<double>(v[r * n + k]),
                        static_cast<double>(sign * e.vectors[r * n + k]),
                        static_cast<double>(vectorTol))
                << "eigenvector " << k << " component " << r;
        }
    }
    return signFixedByConvention;
}

// The general routine on a full copy of the n x n matrix.
template <typename T>
void decomposeGeneral(const std::vector<T>& a, int n, std::vector<T>& w, std::vector<T>& v) {
    Mat<T> work(n);
    work.data = a;
    Mat<T> vectors(n);
    w.assign(n, T(0));
    EXPECT_EQ(CMyMath::MyJacobi(work.get(), n, w.data(), vectors.get()), 1);
    v = vectors.data;
}

template <typename T>
std::vector<T> flatten(const T (&v)[3][3]) {
    std::vector<T> flat(9);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            flat[r * 3 + c] = v[r][c];
        }
    }
    return flat;
}

// Runs every entry point that decomposes a 3x3 tensor and compares each with the expectation.
template <typename T>
int expectTensorAsExpected(const T* tensor, const Expected& e, const std::string& what) {
    std::vector<T> full(9);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            full[r * 3 + c] = tensor[kTensorIndex[r][c]];
        }
    }
    std::vector<T> w;
    std::vector<T> v;
    decomposeGeneral(full, 3, w, v);
    const int decided = expectAsExpected(e, w.data(), v, what + ", MyJacobi");

    T wFixed[3];
    T vFixed[3][3];
    CMyMath::ComputeEigens(tensor, wFixed, vFixed);
    expectAsExpected(e, wFixed, flatten(vFixed), what + ", ComputeEigens into T[3][3]");

    T wRows[3];
    Mat<T> vRows(3);
    CMyMath::ComputeEigens(tensor, wRows, vRows.get());
    expectAsExpected(e, wRows, vRows.data, what + ", ComputeEigens into rows");
    return decided;
}

// The paired form exists for float only; each lane must come out as a decomposition on its own.
void expectPairAsExpected(const float* tensorA, const Expected& a, const float* tensorB,
                          const Expected& b, const std::string& what) {
    float wA[3];
    float vA[3][3];
    float wB[3];
    float vB[3][3];
    CMyMath::ComputeEigensPair(tensorA, wA, vA, tensorB, wB, vB);
    expectAsExpected(a, wA, flatten(vA), what + ", first of a pair");
    expectAsExpected(b, wB, flatten(vB), what + ", second of a pair");
}

template <typename T>
class EigenTyped : public ::testing::Test {};
TYPED_TEST_SUITE(EigenTyped, floatingtypes::Types, floatingtypes::Names);

TYPED_TEST(EigenTyped, DiagonalMatrixSortsValuesAndMovesColumns) {
    using T = TypeParam;
    Mat<T> a(3);
    a[0][0] = 1;
    a[1][1] = 3;
    a[2][2] = 2;
    Mat<T> v(3);
    T w[3];
    EXPECT_EQ(CMyMath::MyJacobi(a.get(), 3, w, v.get()), 1);
    EXPECT_EQ(w[0], T(3));
    EXPECT_EQ(w[1], T(2));
    EXPECT_EQ(w[2], T(1));
    const T expected[3][3] = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(v[r][c], expected[r][c]) << r << "," << c;
        }
    }
}

TYPED_TEST(EigenTyped, SixNumberTensorDecomposesAndStaysUnchanged) {
    using T = TypeParam;
    const T tensor[6] = {1, 0, 0, 2, 0, 3};
    T w[3];
    T v[3][3];
    CMyMath::ComputeEigens(tensor, w, v);
    EXPECT_EQ(w[0], T(3));
    EXPECT_EQ(w[1], T(2));
    EXPECT_EQ(w[2], T(1));
    expectColumn<T>(v, 0, 0, 0, 1, 0.0);
    expectColumn<T>(v, 1, 0, 1, 0, 0.0);
    expectColumn<T>(v, 2, 1, 0, 0, 0.0);
    EXPECT_EQ(tensor[1], T(0));
    EXPECT_EQ(tensor[3], T(2));
}

TYPED_TEST(EigenTyped, EqualEigenvaluesPutTheLaterColumnFirst) {
    using T = TypeParam;
    const T tensor[6] = {2, 0, 0, 2, 0, 1};
    T w[3];
    T v[3][3];
    CMyMath::ComputeEigens(tensor, w, v);
    EXPECT_EQ(w[0], T(2));
    EXPECT_EQ(w[1], T(2));
    EXPECT_EQ(w[2], T(1));
    expectColumn<T>(v, 0, 0, 1, 0, 0.0);
    expectColumn<T>(v, 1, 1, 0, 0, 0.0);
    expectColumn<T>(v, 2, 0, 0, 1, 0.0);
}

TYPED_TEST(EigenTyped, EigsrtLetsALaterEqualValueWin) {
    using T = TypeParam;
    T w[4] = {1, 5, 5, 2};
    Mat<T> v(4);
    for (int i = 0; i < 4; ++i) {
        v[i][i] = 1;
    }
    CMyMath::Eigsrt(w, v.get(), 4);
    EXPECT_EQ(w[0], T(5));
    EXPECT_EQ(w[1], T(5));
    EXPECT_EQ(w[2], T(2));
    EXPECT_EQ(w[3], T(1));
    // Column k holds the unit vector of the original index that ended up at k.
    const int origin[4] = {2, 1, 3, 0};
    for (int k = 0; k < 4; ++k) {
        for (int r = 0; r < 4; ++r) {
            EXPECT_EQ(v[r][k], r == origin[k] ? T(1) : T(0)) << "row " << r << " column " << k;
        }
    }
}

TYPED_TEST(EigenTyped, SignRuleKeepsMostlyPositiveVectors) {
    using T = TypeParam;
    // Eigenvector (0.6, 0.8, 0) for 5, (-0.8, 0.6, 0) for 2, z for 1.
    const T tensor[6] = {static_cast<T>(0.36 * 5 + 0.64 * 2),
                         static_cast<T>(0.48 * 5 - 0.48 * 2),
                         0,
                         static_cast<T>(0.64 * 5 + 0.36 * 2),
                         0,
                         1};
    T w[3];
    T v[3][3];
    CMyMath::ComputeEigens(tensor, w, v);
    const double tol = perType<T>(1e-5, 1e-12);
    EXPECT_NEAR(w[0], 5.0, tol * 5);
    EXPECT_NEAR(w[1], 2.0, tol * 5);
    EXPECT_NEAR(w[2], 1.0, tol * 5);
    expectColumn<T>(v, 0, T(0.6), T(0.8), 0, tol);
    // Both signs of the second vector have two components >= 0; only the direction is fixed.
    EXPECT_NEAR(std::fabs(v[0][1]), 0.8, tol);
    EXPECT_NEAR(std::fabs(v[1][1]), 0.6, tol);
    EXPECT_LT(v[0][1] * v[1][1], T(0));
}

TYPED_TEST(EigenTyped, ZeroComponentsCountAsNonNegative) {
    using T = TypeParam;
    // One rotation of the (y, z) pair; the vector for -1 comes out as (0, 0.707, -0.707), which
    // has two components >= 0 and must not be flipped.
    const T tensor[6] = {0, 0, 0, 0, 1, 0};
    T w[3];
    T v[3][3];
    CMyMath::ComputeEigens(tensor, w, v);
    const double tol = perType<T>(1e-6, 1e-14);
    EXPECT_NEAR(w[0], 1.0, tol);
    EXPECT_NEAR(w[1], 0.0, tol);
    EXPECT_NEAR(w[2], -1.0, tol);
    const T r = static_cast<T>(std::sqrt(0.5));
    expectColumn<T>(v, 0, 0, r, r, tol);
    expectColumn<T>(v, 1, 1, 0, 0, 0.0);
    expectColumn<T>(v, 2, 0, r, -r, tol);
}

TYPED_TEST(EigenTyped, RandomSymmetricMatricesDecomposeCorrectly) {
    using T = TypeParam;
    std::mt19937 rng(12345);
    const double tol = perType<T>(2e-5, 1e-12);
    for (int n = 1; n <= 7; ++n) {  // n > 4 takes the allocating path
        for (int trial = 0; trial < 60; ++trial) {
            Mat<T> a = randomSymmetric<T>(rng, n);
            Mat<T> work = a;
            Mat<T> v(n);
            std::vector<T> w(n);
            CMyMath::MyJacobi(work.get(), n, w.data(), v.get());
            expectEigenProperties(a, w.data(), v, tol);
            // Sorting again changes nothing.
            std::vector<T> w2 = w;
            Mat<T> v2 = v;
            CMyMath::Eigsrt(w2.data(), v2.get(), n);
            EXPECT_EQ(w2, w);
            EXPECT_EQ(v2.data, v.data);
        }
    }
}

TYPED_TEST(EigenTyped, ComputeEigensFormsAgreeWithJacobiBitForBit) {
    using T = TypeParam;
    std::mt19937 rng(777);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (int trial = 0; trial < 500; ++trial) {
        T tensor[6];
        for (T& x : tensor) {
            x = static_cast<T>(dist(rng));
        }
        T wFixed[3];
        T vFixed[3][3];
        CMyMath::ComputeEigens(tensor, wFixed, vFixed);

        T wRows[3];
        Mat<T> vRows(3);
        CMyMath::ComputeEigens(tensor, wRows, vRows.get());

        Mat<T> a(3);
        const int map[3][3] = {{0, 1, 2}, {1, 3, 4}, {2, 4, 5}};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                a[r][c] = tensor[map[r][c]];
            }
        }
        Mat<T> keep = a;
        T wJac[3];
        Mat<T> vJac(3);
        CMyMath::MyJacobi(a.get(), 3, wJac, vJac.get());
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(wFixed[k], wJac[k]);
            EXPECT_EQ(wRows[k], wJac[k]);
            for (int r = 0; r < 3; ++r) {
                EXPECT_EQ(vFixed[r][k], vJac[r][k]);
                EXPECT_EQ(vRows[r][k], vJac[r][k]);
            }
        }
        const double tol = perType<T>(1e-5, 1e-13);
        expectEigenProperties(keep, wJac, vJac, tol);
    }
}

// The tensor path has its own 3x3 code for speed, alone and in pairs; it must stay the general
// routine bit for bit on what tracking meets: tissue-like tensors at diffusion scale,
// near-isotropic ones, exact ties, zeros and interpolations with tiny off-diagonal terms.
TYPED_TEST(EigenTyped, TensorPathMatchesGeneralRoutineOnTissueLikeTensors) {
    using T = TypeParam;
    std::mt19937 rng(4242);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    int compared = 0;
    // The paired form (float only) runs with the previous tensor as its second lane; starting
    // from zero, which ends after one sweep, lets the lanes finish apart.
    T previous[6] = {};
    T previousW[3];
    T previousV[3][3];
    CMyMath::ComputeEigens(previous, previousW, previousV);
    for (int trial = 0; trial < 20000; ++trial) {
        double e[3] = {unit(rng), unit(rng), unit(rng)};
        const double norm = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]) + 1e-12;
        const int kind = trial % 5;
        const double along = kind == 3 ? 0.8e-3 : 1.2e-3 + 0.6e-3 * unit(rng);
        const double across = kind == 3 ? 0.8e-3 : 0.3e-3 + 0.1e-3 * unit(rng);
        T tensor[6];
        const int map[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
        for (int i = 0; i < 6; ++i) {
            const int r = map[i][0], c = map[i][1];
            const double value =
                (r == c ? across : 0.0) + (along - across) * e[r] * e[c] / (norm * norm);
            tensor[i] = static_cast<T>(kind == 4 ? value * 1e-6 * unit(rng) : value);
        }
        if (kind == 2) {
            tensor[1] = tensor[2] = tensor[4] = T(0);  // axis-aligned, often with ties
            tensor[3] = tensor[0];
        }
        T wFast[3];
        T vFast[3][3];
        CMyMath::ComputeEigens(tensor, wFast, vFast);
        Mat<T> a(3);
        const int full[3][3] = {{0, 1, 2}, {1, 3, 4}, {2, 4, 5}};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                a[r][c] = tensor[full[r][c]];
            }
        }
        T w[3];
        Mat<T> v(3);
        CMyMath::MyJacobi(a.get(), 3, w, v.get());
        bool same = true;
        for (int k = 0; k < 3; ++k) {
            same = same && std::memcmp(&wFast[k], &w[k], sizeof(T)) == 0;
            for (int r = 0; r < 3; ++r) {
                same = same && std::memcmp(&vFast[r][k], &v[r][k], sizeof(T)) == 0;
            }
        }
        if constexpr (std::is_same_v<T, float>) {
            float wA[3];
            float vA[3][3];
            float wB[3];
            float vB[3][3];
            CMyMath::ComputeEigensPair(tensor, wA, vA, previous, wB, vB);
            same = same && std::memcmp(wA, wFast, sizeof wA) == 0 &&
                   std::memcmp(vA, vFast, sizeof vA) == 0 &&
                   std::memcmp(wB, previousW, sizeof wB) == 0 &&
                   std::memcmp(vB, previousV, sizeof vB) == 0;
            std::memcpy(previous, tensor, sizeof previous);
            std::memcpy(previousW, wFast, sizeof previousW);
            std::memcpy(previousV, vFast, sizeof previousV);
        }
        EXPECT_TRUE(same) << "trial " << trial;
        compared += same ? 1 : 0;
    }
    EXPECT_EQ(compared, 20000);
}

// ---- against independent expectations ---------------------------------------------------------

TYPED_TEST(EigenTyped, TensorsMatchTheCharacteristicPolynomialRoots) {
    using T = TypeParam;
    struct Case {
        std::array<T, 6> tensor;
        Expected expected;
    };
    std::mt19937 rng(2718);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<Case> cases;
    for (int trial = 0; cases.size() < 600; ++trial) {
        const int kind = trial % 3;
        std::array<T, 6> tensor{};
        for (int i = 0; i < 6; ++i) {
            const bool diagonal = i == 0 || i == 3 || i == 5;
            double x = unit(rng);
            if (kind == 1) {  // tissue at diffusion scale
                x = diagonal ? 1.0e-3 + 0.5e-3 * x : 0.3e-3 * x;
            } else if (kind == 2) {  // nearly isotropic: a large common diagonal term
                x = diagonal ? 1.0 + 0.05 * x : 0.05 * x;
            }
            tensor[i] = static_cast<T>(x);
        }
        Expected e = closedForm3(fromTensor(tensor.data()));
        // Eigenvectors of nearly equal values are barely determined in T; the property tests
        // cover those.
        Real scale = 0;
        for (const Real x : e.a) {
            scale = std::max(scale, std::fabs(x));
        }
        const Real gap = std::min(e.values[0] - e.values[1], e.values[1] - e.values[2]);
        if (gap >= Real(0.02) * scale) {
            cases.push_back({tensor, std::move(e)});
        }
    }
    int decided = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string what = "tensor " + std::to_string(i);
        decided += expectTensorAsExpected(cases[i].tensor.data(), cases[i].expected, what);
        if constexpr (std::is_same_v<T, float>) {
            const Case& next = cases[(i + 1) % cases.size()];
            expectPairAsExpected(cases[i].tensor.data(), cases[i].expected, next.tensor.data(),
                                 next.expected, what);
        }
    }
    EXPECT_GT(decided, static_cast<int>(cases.size())) << "the sign convention was rarely tested";
}

TYPED_TEST(EigenTyped, RotatedDiagonalMatricesGiveBackTheirEigenpairs) {
    using T = TypeParam;
    struct Case {
        std::vector<double> values;  // in no particular order
        double angle;
    };
    const Case cases[] = {
        {{1, 3, 2}, 0.3},
        {{0.2e-3, 1.7e-3, 0.4e-3}, 0.7},         // tissue at diffusion scale
        {{-0.5, 2, -3}, -1.1},                   // indefinite
        {{3e3, 1, 1e4}, 0.9},                    // widely spread
        {{2, 1, 2}, 0.5},                        // a repeated value
        {{1, 3, 2}, 0.0},                        // already diagonal
        {{3, 1}, 0.4},                           // the smallest matrix that rotates
        {{-1, 4, 2.5, -2}, 0.35},                // the general routine's fixed-size storage
        {{0.5, -1.5, 3, 2, -0.25, 1, 4}, 0.25},  // beyond it, work arrays on the heap
    };
    struct Tensor {
        std::array<T, 6> values;
        Expected expected;
    };
    std::vector<Tensor> tensors;
    int decided = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const int n = static_cast<int>(cases[i].values.size());
        std::vector<T> a;
        Expected e = rotatedDiagonal<T>(cases[i].values, cases[i].angle, a);
        const std::string what = "case " + std::to_string(i);
        if (n == 3) {
            std::array<T, 6> tensor{};
            for (int r = 0; r < 3; ++r) {
                for (int c = r; c < 3; ++c) {
                    tensor[kTensorIndex[r][c]] = a[r * 3 + c];
                }
            }
            decided += expectTensorAsExpected(tensor.data(), e, what);
            tensors.push_back({tensor, std::move(e)});
        } else {
            std::vector<T> w;
            std::vector<T> v;
            decomposeGeneral(a, n, w, v);
            decided += expectAsExpected(e, w.data(), v, what);
        }
    }
    if constexpr (std::is_same_v<T, float>) {
        // Neighbouring tensors need different numbers of sweeps, so the lanes finish apart.
        for (size_t i = 0; i < tensors.size(); ++i) {
            const Tensor& next = tensors[(i + 1) % tensors.size()];
            expectPairAsExpected(tensors[i].values.data(), tensors[i].expected, next.values.data(),
                                 next.expected, "tensor " + std::to_string(i));
        }
    }
    EXPECT_GT(decided, 0) << "the sign convention was never tested";
}

TYPED_TEST(EigenTyped, TwoByTwoMatricesMatchTheClosedForm) {
    using T = TypeParam;
    // (a, b, d) of [[a b] [b d]]: either diagonal element the larger, equal diagonals (a turn by
    // 45 degrees), negative coupling, and values at diffusion scale.
    const double cases[][3] = {
        {1.09, 0.73, 1.49}, {0.73, 2.23, 1.8}, {1.91, 1.94, 2.03},      {2, 0.5, 2},
        {5, -1e-3, -3},     {-1, 2, 4},        {1e-3, -0.4e-3, 0.2e-3},
    };
    int decided = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const T a = static_cast<T>(cases[i][0]);
        const T b = static_cast<T>(cases[i][1]);
        const T d = static_cast<T>(cases[i][2]);
        std::vector<T> w;
        std::vector<T> v;
        decomposeGeneral({a, b, b, d}, 2, w, v);
        decided += expectAsExpected(closedForm2(a, b, d), w.data(), v, "case " + std::to_string(i));
    }
    // One eigenvector of each has components of equal sign, which only the convention orients;
    // the other has one of each sign, so both orientations keep half of them >= 0.
    EXPECT_EQ(decided, static_cast<int>(std::size(cases)));
}

template <typename T>
class ClosestOrth : public ::testing::Test {};
TYPED_TEST_SUITE(ClosestOrth, floatingtypes::Types, floatingtypes::Names);

TYPED_TEST(ClosestOrth, PicksSignedLargestElementPerRow) {
    using T = TypeParam;
    struct Case {
        double in[3][3];
        double out[3][3];
    };
    const Case cases[] = {
        {{{0.2, -0.9, 0.1}, {0.5, 0.5, -0.5}, {0, 0, 0}}, {{0, -1, 0}, {1, 0, 0}, {-1, 0, 0}}},
        {{{0, 0, -3}, {-0.5, 0.5, 0}, {0, 2, 1}}, {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}}},
    };
    for (const Case& c : cases) {
        T in[3][3];
        T out[3][3];
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 3; ++k) {
                in[r][k] = static_cast<T>(c.in[r][k]);
            }
        }
        CMyMath::ClosestOrth(in, out);
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(out[r][k], static_cast<T>(c.out[r][k])) << r << "," << k;
            }
        }
    }
}

// ---- LU and inversion ------------------------------------------------------------------------

Mat<double> randomWellConditioned(std::mt19937& rng, int n) {
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Mat<double> m(n);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            m[r][c] = dist(rng);
        }
        m[r][r] += (r % 2 == 0 ? 1.0 : -1.0) * (n + 1.0);  // diagonally dominant
    }
    return m;
}

void expectInverse(Mat<double>& a, Mat<double>& inv, double tol) {
    const int n = a.rows;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            double sum = 0.0;
            for (int k = 0; k < n; ++k) {
                sum += a[r][k] * inv[k][c];
            }
            EXPECT_NEAR(sum, r == c ? 1.0 : 0.0, tol) << r << "," << c;
        }
    }
}

TEST(InvertMatrix, RandomWellConditionedMatricesInvert) {
    std::mt19937 rng(99);
    for (int n : {1, 2, 3, 4, 7, 10, 11, 16}) {  // above 10 the scratch space is allocated
        for (int trial = 0; trial < 20; ++trial) {
            Mat<double> a = randomWellConditioned(rng, n);
            const std::vector<double> before = a.data;
            Mat<double> inv(n);
            ASSERT_TRUE(CMyMath::InvertMatrix(inv.get(), a.get(), n));
            EXPECT_EQ(a.data, before) << "input changed";
            expectInverse(a, inv, 1e-12);
        }
    }
}

TEST(InvertMatrix, PivotingHandlesZeroLeadingElement) {
    Mat<double> a(3);
    const double values[3][3] = {{0, 2, 1}, {1, 0, 0}, {3, 1, 4}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            a[r][c] = values[r][c];
        }
    }
    Mat<double> inv(3);
    ASSERT_TRUE(CMyMath::InvertMatrix(inv.get(), a.get(), 3));
    expectInverse(a, inv, 1e-14);
}

TEST(InvertMatrix, InputAndOutputMayBeTheSameMatrix) {
    std::mt19937 rng(5);
    Mat<double> a = randomWellConditioned(rng, 5);
    Mat<double> keep = a;
    ASSERT_TRUE(CMyMath::InvertMatrix(a.get(), a.get(), 5));
    expectInverse(keep, a, 1e-12);

    double m3[3][3] = {{4, 1, 0}, {1, 3, 1}, {0, 1, 2}};
    Mat<double> k3(3);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            k3[r][c] = m3[r][c];
        }
    }
    ASSERT_TRUE(CMyMath::InvertMatrix(m3, m3));
    Mat<double> i3(3);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            i3[r][c] = m3[r][c];
        }
    }
    expectInverse(k3, i3, 1e-14);
}

TEST(InvertMatrix, FixedSizeFormsInvert) {
    std::mt19937 rng(17);
    for (int trial = 0; trial < 50; ++trial) {
        Mat<double> a3 = randomWellConditioned(rng, 3);
        double in3[3][3];
        double out3[3][3];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                in3[r][c] = a3[r][c];
            }
        }
        ASSERT_TRUE(CMyMath::InvertMatrix(out3, in3));
        Mat<double> i3(3);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                i3[r][c] = out3[r][c];
            }
        }
        expectInverse(a3, i3, 1e-13);

        Mat<double> a4 = randomWellConditioned(rng, 4);
        double in4[4][4];
        double out4[4][4];
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                in4[r][c] = a4[r][c];
            }
        }
        ASSERT_TRUE(CMyMath::InvertMatrix4x4(out4, in4));
        Mat<double> i4(4);
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                i4[r][c] = out4[r][c];
            }
        }
        expectInverse(a4, i4, 1e-13);
    }
}

// The library says nothing: the program that inverts decides what to print.
constexpr const char* kFactorMessage = "";

TEST(InvertMatrix, SingularMatricesFailAndLeaveOutputAlone) {
    // A zero row, and a row that is a multiple of another (pivot collapses to 0).
    const double singular[2][3][3] = {{{1, 2, 3}, {0, 0, 0}, {4, 5, 6}},
                                      {{1, 2, 3}, {2, 4, 6}, {1, 0, 1}}};
    for (const auto& values : singular) {
        Mat<double> a(3);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                a[r][c] = values[r][c];
            }
        }
        Mat<double> out(3);
        for (double& x : out.data) {
            x = 42.0;
        }
        testing::internal::CaptureStdout();
        const bool ok = CMyMath::InvertMatrix(out.get(), a.get(), 3);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), kFactorMessage);
        EXPECT_FALSE(ok);
        for (double x : out.data) {
            EXPECT_EQ(x, 42.0);
        }

        double out3[3][3];
        for (auto& row : out3) {
            for (double& x : row) {
                x = -7.0;
            }
        }
        testing::internal::CaptureStdout();
        EXPECT_FALSE(CMyMath::InvertMatrix(out3, values));
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), kFactorMessage);
        for (auto& row : out3) {
            for (double x : row) {
                EXPECT_EQ(x, -7.0);
            }
        }
    }

    double zero4[4][4] = {};
    double out4[4][4] = {{1, 2, 3, 4}};
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CMyMath::InvertMatrix4x4(out4, zero4));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kFactorMessage);
    EXPECT_EQ(out4[0][3], 4.0);
    EXPECT_EQ(out4[1][0], 0.0);
}

TEST(LUFactorLinearSystem, SolvesAndRecordsPivots) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (int n : {1, 3, 6, 12}) {
        Mat<double> a = randomWellConditioned(rng, n);
        std::vector<double> x(n);
        for (double& v : x) {
            v = dist(rng);
        }
        x[0] = 0.0;  // a leading zero in the right-hand side is skipped, not mishandled
        std::vector<double> b(n, 0.0);
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) {
                b[r] += a[r][c] * x[c];
            }
        }
        Mat<double> lu = a;
        std::vector<int> index(n, -1);
        std::vector<double> scratch(n);
        ASSERT_EQ(LUFactorLinearSystem(lu.get(), index.data(), n, scratch.data()), 1);
        for (int j = 0; j < n; ++j) {
            EXPECT_GE(index[j], j);
            EXPECT_LT(index[j], n);
        }
        LUSolveLinearSystem(lu.get(), index.data(), b.data(), n);
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(b[i], x[i], 1e-12);
        }
    }
}

TEST(LUFactorLinearSystem, ScaledPivotChoosesRelativelyLargestRow) {
    // Row 0 has the larger absolute first element but row 1 is larger relative to its own scale.
    Mat<double> a(2);
    a[0][0] = 2;
    a[0][1] = 100;
    a[1][0] = 1;
    a[1][1] = 1;
    int index[2];
    double scratch[2];
    ASSERT_EQ(LUFactorLinearSystem(a.get(), index, 2, scratch), 1);
    EXPECT_EQ(index[0], 1);
    double rhs[2] = {102, 2};  // solution (1, 1)
    LUSolveLinearSystem(a.get(), index, rhs, 2);
    EXPECT_NEAR(rhs[0], 1.0, 1e-14);
    EXPECT_NEAR(rhs[1], 1.0, 1e-14);
}

TEST(LUFactorLinearSystem, TinyPivotIsRejected) {
    Mat<double> a(2);
    a[0][0] = 1;
    a[0][1] = 1;
    a[1][0] = 1;
    a[1][1] = 1 + 1e-13;
    int index[2];
    double scratch[2];
    testing::internal::CaptureStdout();
    EXPECT_EQ(LUFactorLinearSystem(a.get(), index, 2, scratch), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kFactorMessage);
}

}  // namespace
