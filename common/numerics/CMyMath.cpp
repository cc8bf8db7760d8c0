#include "CMyMath.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr int kMaxJacobiSweeps = 20;
constexpr int kMaxSvdIterations = 30;
constexpr int kFixedEigenSize = 4;
constexpr int kFixedInvertSize = 10;

// ---- eigen decomposition ---------------------------------------------------------------------

// True when adding g to |x| does not change it. Always decided in double precision, so the float
// form stops rotating only when an element is negligible at double resolution.
template <typename T>
bool negligibleAgainst(T x, T g) {
    const double ax = std::fabs(static_cast<double>(x));
    return ax + static_cast<double>(g) == ax;
}

template <typename T>
void rotatePair(T& x, T& y, T s, T tau) {
    const T g = x;
    const T h = y;
    x = g - s * (h + g * tau);
    y = h + s * (g - h * tau);
}

// The Jacobi rotation that zeroes apq, given h = w[q] - w[p] and g = 100 |apq|: its tangent t,
// sine s and tau = s / (1 + cos).
template <typename T>
struct Rotation {
    T t;
    T s;
    T tau;
};

template <typename T>
inline Rotation<T> rotationFor(T apq, T h, T g) {
    T t;
    if (negligibleAgainst(h, g)) {
        t = apq / h;
    } else {
        const T theta = static_cast<T>(0.5 * h / apq);
        t = static_cast<T>(1.0 / (std::fabs(theta) + std::sqrt(1.0 + theta * theta)));
        if (theta < T(0)) {
            t = -t;
        }
    }
    // Late rotations have tiny angles: when 1 + t^2 rounds to 1 the cosine is exactly 1 and tau
    // exactly s / 2, so the square root and divisions can be skipped.
    const T onePlusT2 = 1 + t * t;
    const bool unitCosine = onePlusT2 == T(1);
    const T c = unitCosine ? T(1) : static_cast<T>(1.0 / std::sqrt(static_cast<double>(onePlusT2)));
    const T s = t * c;
    const T tau =
        unitCosine ? static_cast<T>(static_cast<double>(s) * 0.5) : static_cast<T>(s / (1.0 + c));
    return {t, s, tau};
}

template <typename T>
void swapColumns(T** v, int n, int j, int k) {
    for (int i = 0; i < n; ++i) {
        std::swap(v[i][j], v[i][k]);
    }
}

// Selection sort by descending value; the >= lets a later equal value take the place. Keep it:
// equal eigenvalues then order their eigenvectors as stored eigenvector maps already have them.
template <typename T>
void eigsrt(T* w, T** v, int n) {
    for (int j = 0; j < n - 1; ++j) {
        int k = j;
        T largest = w[k];
        for (int i = j + 1; i < n; ++i) {
            if (w[i] >= largest) {
                k = i;
                largest = w[k];
            }
        }
        if (k != j) {
            w[k] = w[j];
            w[j] = largest;
            swapColumns(v, n, j, k);
        }
    }
}

// Cyclic Jacobi rotations on the upper triangle of a. In the float instance the sums and
// rotations stay single precision while the thresholds, square roots and negligibility tests
// run in double and are rounded back, so results match the established float behaviour bit for
// bit.
// FixedN > 0 fixes the size at compile time (the 3x3 tensors of every voxel and tracking step),
// which lets the compiler unroll the loops; the arithmetic is the same as for a run-time size.
template <typename T, int FixedN>
int jacobiRotations(T** a, int sizeAtRunTime, T* w, T** v) {
    const int n = FixedN > 0 ? FixedN : sizeAtRunTime;
    std::array<T, kFixedEigenSize> bFixed{};
    std::array<T, kFixedEigenSize> zFixed{};
    std::vector<T> bHeap;
    std::vector<T> zHeap;
    T* b = bFixed.data();
    T* z = zFixed.data();
    if (n > kFixedEigenSize) {
        bHeap.assign(n, T(0));
        zHeap.assign(n, T(0));
        b = bHeap.data();
        z = zHeap.data();
    }

    for (int p = 0; p < n; ++p) {
        for (int q = 0; q < n; ++q) {
            v[p][q] = T(0);
        }
        v[p][p] = T(1);
    }
    for (int p = 0; p < n; ++p) {
        b[p] = w[p] = a[p][p];
        z[p] = T(0);
    }

    for (int sweep = 0; sweep < kMaxJacobiSweeps; ++sweep) {
        T sm = T(0);
        for (int p = 0; p < n - 1; ++p) {
            for (int q = p + 1; q < n; ++q) {
                sm += std::fabs(a[p][q]);
            }
        }
        if (sm == T(0)) {
            break;
        }
        const T threshold = sweep < 3 ? static_cast<T>(0.2 * sm / (n * n)) : T(0);

        for (int p = 0; p < n - 1; ++p) {
            for (int q = p + 1; q < n; ++q) {
                const T apq = a[p][q];
                const T g = static_cast<T>(100.0 * std::fabs(apq));
                if (sweep > 3 && negligibleAgainst(w[p], g) && negligibleAgainst(w[q], g)) {
                    a[p][q] = T(0);
                    continue;
                }
                if (!(std::fabs(apq) > threshold)) {
                    continue;
                }
                const Rotation<T> r = rotationFor(apq, w[q] - w[p], g);
                const T t = r.t;
                const T s = r.s;
                const T tau = r.tau;
                const T h = t * apq;
                z[p] -= h;
                z[q] += h;
                w[p] -= h;
                w[q] += h;
                a[p][q] = T(0);

                for (int j = 0; j < p; ++j) {
                    rotatePair(a[j][p], a[j][q], s, tau);
                }
                for (int j = p + 1; j < q; ++j) {
                    rotatePair(a[p][j], a[j][q], s, tau);
                }
                for (int j = q + 1; j < n; ++j) {
                    rotatePair(a[p][j], a[q][j], s, tau);
                }
                for (int j = 0; j < n; ++j) {
                    rotatePair(v[j][p], v[j][q], s, tau);
                }
            }
        }

        for (int p = 0; p < n; ++p) {
            b[p] += z[p];
            w[p] = b[p];
            z[p] = T(0);
        }
    }

    eigsrt(w, v, n);

    // Jacobi may return v or -v for the same vector; downstream code (tracking directions, colour
    // maps) needs one consistent choice, so the more positive one is kept.
    const int halfUp = (n >> 1) + (n & 1);
    for (int k = 0; k < n; ++k) {
        int nonNegative = 0;
        for (int i = 0; i < n; ++i) {
            if (v[i][k] >= T(0)) {
                ++nonNegative;
            }
        }
        if (nonNegative < halfUp) {
            for (int i = 0; i < n; ++i) {
                v[i][k] = -v[i][k];
            }
        }
    }
    return 1;
}

template <typename T>
int vtkJacobiN(T** a, int n, T* w, T** v) {
    return n == 3 ? jacobiRotations<T, 3>(a, n, w, v) : jacobiRotations<T, 0>(a, n, w, v);
}

// The Jacobi routine above for one 3x3 tensor, statement for statement, written on named local
// values so that the compiler keeps the whole matrix in registers. It runs once per tracking
// step; the tests hold it to the general routine bit for bit.
template <typename T>
class Jacobi3x3 {
  public:
    explicit Jacobi3x3(const T* tensor)
        : a01_(tensor[1]),
          a02_(tensor[2]),
          a12_(tensor[4]),
          b_{tensor[0], tensor[3], tensor[5]},
          d_{tensor[0], tensor[3], tensor[5]} {}

    bool Active() const { return active_; }

    // Starts sweep number `sweep`; false (and the lane ends) when the matrix is diagonal.
    bool BeginSweep(int sweep) {
        T sm = T(0);
        sm += std::fabs(a01_);
        sm += std::fabs(a02_);
        sm += std::fabs(a12_);
        if (sm == T(0)) {
            active_ = false;
            return false;
        }
        sweep_ = sweep;
        threshold_ = sweep < 3 ? static_cast<T>(0.2 * sm / (3 * 3)) : T(0);
        return true;
    }
    void Rotate01() { Rotate(0, 1, a01_, a02_, a12_); }
    void Rotate02() { Rotate(0, 2, a02_, a01_, a12_); }
    void Rotate12() { Rotate(1, 2, a12_, a01_, a02_); }
    void EndSweep() {
        for (int p = 0; p < 3; ++p) {
            b_[p] += z_[p];
            d_[p] = b_[p];
            z_[p] = T(0);
        }
    }

    template <typename Mat>
    void Finish(T* w, Mat&& v) const {
        for (int r = 0; r < 3; ++r) {
            w[r] = d_[r];
            for (int c = 0; c < 3; ++c) {
                v[r][c] = v_[r][c];
            }
        }
        eigsrt(w, v, 3);
        for (int k = 0; k < 3; ++k) {
            int nonNegative = 0;
            for (int i = 0; i < 3; ++i) {
                nonNegative += v[i][k] >= T(0) ? 1 : 0;
            }
            if (nonNegative < 2) {
                for (int i = 0; i < 3; ++i) {
                    v[i][k] = -v[i][k];
                }
            }
        }
    }

  private:
    // Rotates pair (p, q) whose element is apq; x and y are the two other elements it mixes.
    void Rotate(int p, int q, T& apq, T& x, T& y) {
        const T g = static_cast<T>(100.0 * std::fabs(apq));
        if (sweep_ > 3 && negligibleAgainst(d_[p], g) && negligibleAgainst(d_[q], g)) {
            apq = T(0);
            return;
        }
        if (!(std::fabs(apq) > threshold_)) {
            return;
        }
        const Rotation<T> r = rotationFor(apq, d_[q] - d_[p], g);
        const T t = r.t;
        const T s = r.s;
        const T tau = r.tau;
        const T h = t * apq;
        z_[p] -= h;
        z_[q] += h;
        d_[p] -= h;
        d_[q] += h;
        apq = T(0);
        rotatePair(x, y, s, tau);
        for (int j = 0; j < 3; ++j) {
            rotatePair(v_[j][p], v_[j][q], s, tau);
        }
    }

    T a01_, a02_, a12_;
    T v_[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    T b_[3];
    T d_[3];
    T z_[3] = {0, 0, 0};
    T threshold_ = T(0);
    int sweep_ = 0;
    bool active_ = true;
};

template <typename T>
void jacobi3x3(const T* tensor, T* w, T** v) {
    Jacobi3x3<T> lane(tensor);
    for (int sweep = 0; sweep < kMaxJacobiSweeps && lane.BeginSweep(sweep); ++sweep) {
        lane.Rotate01();
        lane.Rotate02();
        lane.Rotate12();
        lane.EndSweep();
    }
    lane.Finish(w, v);
}

// Two decompositions side by side: their long chains of divisions and square roots overlap in
// the processor, while each lane does exactly what jacobi3x3 would.
template <typename T>
void jacobi3x3Pair(const T* tensorA, T* wA, T** vA, const T* tensorB, T* wB, T** vB) {
    Jacobi3x3<T> a(tensorA);
    Jacobi3x3<T> b(tensorB);
    for (int sweep = 0; sweep < kMaxJacobiSweeps; ++sweep) {
        const bool runA = a.Active() && a.BeginSweep(sweep);
        const bool runB = b.Active() && b.BeginSweep(sweep);
        if (!runA && !runB) {
            break;
        }
        if (runA) {
            a.Rotate01();
        }
        if (runB) {
            b.Rotate01();
        }
        if (runA) {
            a.Rotate02();
        }
        if (runB) {
            b.Rotate02();
        }
        if (runA) {
            a.Rotate12();
        }
        if (runB) {
            b.Rotate12();
        }
        if (runA) {
            a.EndSweep();
        }
        if (runB) {
            b.EndSweep();
        }
    }
    a.Finish(wA, vA);
    b.Finish(wB, vB);
}

template <typename T>
void computeEigens(const T* tensor, T* w, T** v) {
    jacobi3x3(tensor, w, v);
}

template <typename T>
void closestOrth(T in[3][3], T out[3][3]) {
    for (int r = 0; r < 3; ++r) {
        int best = 0;
        T largest = std::fabs(in[r][0]);
        for (int c = 1; c < 3; ++c) {
            if (std::fabs(in[r][c]) > largest) {
                largest = std::fabs(in[r][c]);
                best = c;
            }
        }
        for (int c = 0; c < 3; ++c) {
            out[r][c] = T(0);
        }
        out[r][best] = in[r][best] > T(0) ? T(1) : T(-1);
    }
}

// ---- SVD and pseudo-inverse ------------------------------------------------------------------

template <typename T>
T pythag(T x, T y) {
    const T ax = std::fabs(x);
    const T ay = std::fabs(y);
    if (ax > ay) {
        const T r = ay / ax;
        return static_cast<T>(ax * std::sqrt(1.0 + r * r));
    }
    if (ay == T(0)) {
        return T(0);
    }
    const T r = ax / ay;
    return static_cast<T>(ay * std::sqrt(1.0 + r * r));
}

template <typename T>
T signOf(T magnitude, T sign) {
    return sign >= T(0) ? std::fabs(magnitude) : -std::fabs(magnitude);
}

// Golub-Reinsch in the classic 1-based dsvdcmp arrangement: Householder bidiagonalisation,
// accumulation of both transformations, then implicit shifted QR on the bidiagonal form.
template <typename T>
bool singularValueDecomposition(T** a, int m, int n, T* w, T** v) {
    bool converged = true;
    std::vector<T> rv1(static_cast<size_t>(n) + 1, T(0));
    T g = T(0);
    T scale = T(0);
    T anorm = T(0);
    int l = 0;

    for (int i = 1; i <= n; ++i) {
        l = i + 1;
        rv1[i] = scale * g;
        g = T(0);
        T s = T(0);
        scale = T(0);
        if (i <= m) {
            for (int k = i; k <= m; ++k) {
                scale += std::fabs(a[k][i]);
            }
            if (scale != T(0)) {
                for (int k = i; k <= m; ++k) {
                    a[k][i] /= scale;
                    s += a[k][i] * a[k][i];
                }
                T f = a[i][i];
                g = -signOf(static_cast<T>(std::sqrt(s)), f);
                const T h = f * g - s;
                a[i][i] = f - g;
                for (int j = l; j <= n; ++j) {
                    s = T(0);
                    for (int k = i; k <= m; ++k) {
                        s += a[k][i] * a[k][j];
                    }
                    f = s / h;
                    for (int k = i; k <= m; ++k) {
                        a[k][j] += f * a[k][i];
                    }
                }
                for (int k = i; k <= m; ++k) {
                    a[k][i] *= scale;
                }
            }
        }
        w[i] = scale * g;
        g = T(0);
        s = T(0);
        scale = T(0);
        if (i <= m && i != n) {
            for (int k = l; k <= n; ++k) {
                scale += std::fabs(a[i][k]);
            }
            if (scale != T(0)) {
                for (int k = l; k <= n; ++k) {
                    a[i][k] /= scale;
                    s += a[i][k] * a[i][k];
                }
                const T f = a[i][l];
                g = -signOf(static_cast<T>(std::sqrt(s)), f);
                const T h = f * g - s;
                a[i][l] = f - g;
                for (int k = l; k <= n; ++k) {
                    rv1[k] = a[i][k] / h;
                }
                for (int j = l; j <= m; ++j) {
                    s = T(0);
                    for (int k = l; k <= n; ++k) {
                        s += a[j][k] * a[i][k];
                    }
                    for (int k = l; k <= n; ++k) {
                        a[j][k] += s * rv1[k];
                    }
                }
                for (int k = l; k <= n; ++k) {
                    a[i][k] *= scale;
                }
            }
        }
        const T bound = std::fabs(w[i]) + std::fabs(rv1[i]);
        if (bound > anorm) {
            anorm = bound;
        }
    }

    for (int i = n; i >= 1; --i) {
        if (i < n) {
            if (g != T(0)) {
                for (int j = l; j <= n; ++j) {
                    // Double division avoids a possible underflow.
                    v[j][i] = (a[i][j] / a[i][l]) / g;
                }
                for (int j = l; j <= n; ++j) {
                    T s = T(0);
                    for (int k = l; k <= n; ++k) {
                        s += a[i][k] * v[k][j];
                    }
                    for (int k = l; k <= n; ++k) {
                        v[k][j] += s * v[k][i];
                    }
                }
            }
            for (int j = l; j <= n; ++j) {
                v[i][j] = v[j][i] = T(0);
            }
        }
        v[i][i] = T(1);
        g = rv1[i];
        l = i;
    }

    for (int i = m < n ? m : n; i >= 1; --i) {
        l = i + 1;
        g = w[i];
        for (int j = l; j <= n; ++j) {
            a[i][j] = T(0);
        }
        if (g != T(0)) {
            g = static_cast<T>(1.0 / g);
            for (int j = l; j <= n; ++j) {
                T s = T(0);
                for (int k = l; k <= m; ++k) {
                    s += a[k][i] * a[k][j];
                }
                const T f = (s / a[i][i]) * g;
                for (int k = i; k <= m; ++k) {
                    a[k][j] += f * a[k][i];
                }
            }
            for (int j = i; j <= m; ++j) {
                a[j][i] *= g;
            }
        } else {
            for (int j = i; j <= m; ++j) {
                a[j][i] = T(0);
            }
        }
        ++a[i][i];
    }

    for (int k = n; k >= 1; --k) {
        for (int its = 1; its <= kMaxSvdIterations; ++its) {
            bool cancel = true;
            int nm = 0;
            for (l = k; l >= 1; --l) {
                nm = l - 1;
                // rv1[1] is always zero, so the scan stops at l = 1 at the latest.
                if (static_cast<T>(std::fabs(rv1[l]) + anorm) == anorm) {
                    cancel = false;
                    break;
                }
                if (static_cast<T>(std::fabs(w[nm]) + anorm) == anorm) {
                    break;
                }
            }
            if (cancel) {
                T c = T(0);
                T s = T(1);
                for (int i = l; i <= k; ++i) {
                    const T f = s * rv1[i];
                    rv1[i] = c * rv1[i];
                    if (static_cast<T>(std::fabs(f) + anorm) == anorm) {
                        break;
                    }
                    g = w[i];
                    T h = pythag(f, g);
                    w[i] = h;
                    h = static_cast<T>(1.0 / h);
                    c = g * h;
                    s = -f * h;
                    for (int j = 1; j <= m; ++j) {
                        const T y = a[j][nm];
                        const T z = a[j][i];
                        a[j][nm] = y * c + z * s;
                        a[j][i] = z * c - y * s;
                    }
                }
            }
            T z = w[k];
            if (l == k) {
                if (z < T(0)) {
                    w[k] = -z;
                    for (int j = 1; j <= n; ++j) {
                        v[j][k] = -v[j][k];
                    }
                }
                break;
            }
            if (its == kMaxSvdIterations) {
                converged = false;  // the 30th step is still taken, as the method has it
            }
            T x = w[l];
            nm = k - 1;
            T y = w[nm];
            g = rv1[nm];
            T h = rv1[k];
            T f = static_cast<T>(((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y));
            g = pythag(f, T(1));
            f = static_cast<T>(((x - z) * (x + z) + h * ((y / (f + signOf(g, f))) - h)) / x);
            T c = T(1);
            T s = T(1);
            for (int j = l; j <= nm; ++j) {
                const int i = j + 1;
                g = rv1[i];
                y = w[i];
                h = s * g;
                g = c * g;
                z = pythag(f, h);
                rv1[j] = z;
                c = f / z;
                s = h / z;
                f = x * c + g * s;
                g = g * c - x * s;
                h = y * s;
                y *= c;
                for (int jj = 1; jj <= n; ++jj) {
                    x = v[jj][j];
                    z = v[jj][i];
                    v[jj][j] = x * c + z * s;
                    v[jj][i] = z * c - x * s;
                }
                z = pythag(f, h);
                w[j] = z;
                if (z != T(0)) {
                    z = static_cast<T>(1.0 / z);
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                x = c * y - s * g;
                for (int jj = 1; jj <= m; ++jj) {
                    y = a[jj][j];
                    z = a[jj][i];
                    a[jj][j] = y * c + z * s;
                    a[jj][i] = z * c - y * s;
                }
            }
            rv1[l] = T(0);
            rv1[k] = f;
            w[k] = x;
        }
    }
    return converged;
}

// Row-pointer view over one contiguous block, so work matrices are freed with their owner.
template <typename T>
class RowMatrix {
  public:
    RowMatrix(int rows, int cols)
        : data_(static_cast<size_t>(rows) * static_cast<size_t>(cols), T(0)),
          rows_(static_cast<size_t>(rows)) {
        for (int r = 0; r < rows; ++r) {
            rows_[r] = data_.data() + static_cast<size_t>(r) * static_cast<size_t>(cols);
        }
    }
    T** get() { return rows_.data(); }

  private:
    std::vector<T> data_;
    std::vector<T*> rows_;
};

template <typename T>
void pseudoInverse(T** out, T** in, int m, int n) {
    RowMatrix<T> u(m + 1, n + 1);
    RowMatrix<T> v(n + 1, n + 1);
    std::vector<T> w(static_cast<size_t>(n) + 1, T(0));
    T** const ua = u.get();
    T** const va = v.get();
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < n; ++c) {
            ua[r + 1][c + 1] = in[r][c];
        }
    }
    singularValueDecomposition(ua, m, n, w.data(), va);

    // No relative cut-off: callers rely on tiny singular values being inverted as they are.
    for (int k = 1; k <= n; ++k) {
        w[k] = w[k] != T(0) ? static_cast<T>(1.0 / w[k]) : T(0);
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < m; ++j) {
            T sum = T(0);
            for (int k = 1; k <= n; ++k) {
                sum += va[i + 1][k] * w[k] * ua[j + 1][k];
            }
            out[i][j] = sum;
        }
    }
}

template <typename T, int N>
void pseudoInverseFixed(T out[N][N], T in[N][N]) {
    T inCopy[N][N];
    T outCopy[N][N];
    T* inRows[N];
    T* outRows[N];
    for (int r = 0; r < N; ++r) {
        for (int c = 0; c < N; ++c) {
            inCopy[r][c] = in[r][c];
        }
        inRows[r] = inCopy[r];
        outRows[r] = outCopy[r];
    }
    pseudoInverse(outRows, inRows, N, N);
    for (int r = 0; r < N; ++r) {
        for (int c = 0; c < N; ++c) {
            out[r][c] = outCopy[r][c];
        }
    }
}

template <typename T>
void pseudoInverse2(T out[3][3], T in[3][3]) {
    pseudoInverseFixed<T, 3>(out, in);
}

template <typename T>
void pseudoInverse4x4(T out[4][4], T in[4][4]) {
    pseudoInverseFixed<T, 4>(out, in);
}

template <int N>
bool invertFixed(double out[N][N], const double in[N][N]) {
    double inCopy[N][N];
    double outCopy[N][N];
    double* inRows[N];
    double* outRows[N];
    for (int r = 0; r < N; ++r) {
        for (int c = 0; c < N; ++c) {
            inCopy[r][c] = in[r][c];
        }
        inRows[r] = inCopy[r];
        outRows[r] = outCopy[r];
    }
    if (!CMyMath::InvertMatrix(outRows, inRows, N)) {
        return false;
    }
    for (int r = 0; r < N; ++r) {
        for (int c = 0; c < N; ++c) {
            out[r][c] = outCopy[r][c];
        }
    }
    return true;
}

// ---- small helpers ---------------------------------------------------------------------------

template <typename T>
void gaussianKernel(T* kernel, int size, T sigma) {
    const int half = size / 2;
    const T twoSigmaSq = T(2) * sigma * sigma;
    T sum = T(0);
    size_t idx = 0;
    for (int k = 0; k < size; ++k) {
        for (int j = 0; j < size; ++j) {
            for (int i = 0; i < size; ++i) {
                const int di = i - half;
                const int dj = j - half;
                const int dk = k - half;
                const T value = static_cast<T>(
                    std::exp(-static_cast<T>(di * di + dj * dj + dk * dk) / twoSigmaSq));
                kernel[idx++] = value;
                sum += value;
            }
        }
    }
    for (size_t i = 0; i < idx; ++i) {
        kernel[i] /= sum;
    }
}

template <typename T>
T gaussianSmoothing(const T* a, const T* b, int size) {
    const int count = size * size * size;
    T sum = T(0);
    for (int i = 0; i < count; ++i) {
        sum += a[i] * b[i];
    }
    return sum;
}

template <typename T>
T trapezoidalIntegrate(const T* a, int n, T h) {
    T sum = T(0);
    for (int i = 1; i < n; ++i) {
        sum += (a[i - 1] + a[i]) * h / T(2);
    }
    return sum;
}

// ---- histogram, automatic threshold, smoothing -----------------------------------------------

template <typename T>
double histogram(const T* data, int64_t n, int64_t* bins, int nb, double* range) {
    for (int b = 0; b < nb; ++b) {
        bins[b] = 0;
    }
    if (n <= 0) {
        if (range != nullptr) {
            range[0] = 0.0;
            range[1] = 1.0;
        }
        return 1.0 / (nb - 1);
    }
    double lo = static_cast<double>(data[0]);
    double hi = lo;
    for (int64_t i = 1; i < n; ++i) {
        const double value = static_cast<double>(data[i]);
        if (value < lo) {
            lo = value;
        }
        if (value > hi) {
            hi = value;
        }
    }
    double width = (hi - lo) / (nb - 1);
    if (width == 0.0) {
        width = 1.0 / (nb - 1);
    }
    const double lastBin = nb - 1;
    for (int64_t i = 0; i < n; ++i) {
        const double q = (static_cast<double>(data[i]) - lo) / width;
        // The guards only matter for rounding at the top and for NaN; in range they never bite.
        int64_t b = 0;
        if (q >= lastBin) {
            b = nb - 1;
        } else if (q > 0.0) {
            b = static_cast<int64_t>(q);
        }
        ++bins[b];
    }
    if (range != nullptr) {
        range[0] = lo;
        range[1] = hi;
    }
    return width;
}

template <typename T>
void linearSmooth(T* data, int64_t count, int K, const double* kernel) {
    if (count <= 0 || K <= 0) {
        return;
    }
    std::vector<double> ones;
    if (kernel == nullptr) {
        ones.assign(static_cast<size_t>(K), 1.0);
        kernel = ones.data();
    }
    const std::vector<double> d(data, data + count);
    const int64_t h = K / 2;
    const auto store = [&](int64_t j, double value) { data[j] = static_cast<T>(value); };

    if (count < K) {
        // The edge windows would overlap and leave the data; clip each window to the data instead.
        for (int64_t j = 0; j < count; ++j) {
            const int64_t first = j - h < 0 ? 0 : j - h;
            int64_t last = j + h;
            if (last > count - 1) {
                last = count - 1;
            }
            if (last - j + h > K - 1) {
                last = K - 1 + j - h;
            }
            double value = 0.0;
            double norm = 0.0;
            for (int64_t i = first; i <= last; ++i) {
                value += kernel[i - j + h] * d[i];
                norm += kernel[i - j + h];
            }
            if (norm > 0.0) {
                store(j, value / norm);
            }
        }
        return;
    }

    for (int64_t j = 0; j < h; ++j) {
        double value = 0.0;
        for (int64_t i = 0; i <= j + h; ++i) {
            value += kernel[i + h - j] * d[i];
        }
        double norm = 0.0;
        for (int64_t i = h - j; i <= K - 1; ++i) {
            norm += kernel[i];
        }
        if (norm > 0.0) {
            store(j, value / norm);
        }
    }
    double total = 0.0;
    for (int i = 0; i < K; ++i) {
        total += kernel[i];
    }
    for (int64_t j = h; j <= count - h - 1; ++j) {
        double value = 0.0;
        for (int64_t i = j - h; i <= j + h; ++i) {
            value += kernel[i - j + h] * d[i];
        }
        store(j, value / total);
    }
    for (int64_t j = count - h; j <= count - 1; ++j) {
        double value = 0.0;
        for (int64_t i = j - h; i <= count - 1; ++i) {
            value += kernel[i - j + h] * d[i];
        }
        double norm = 0.0;
        for (int64_t i = 0; i <= count + h - j - 1; ++i) {
            norm += kernel[i];
        }
        if (norm > 0.0) {
            store(j, value / norm);
        }
    }
}

template <typename T>
double getAutoThreshold(const T* data, int64_t n, int nb, double* range, double* upper) {
    constexpr int kCoarseBins = 100;
    const double fivePercent = static_cast<double>(n) * 0.05;

    std::vector<int64_t> coarse(kCoarseBins);
    double coarseRange[2] = {0.0, 1.0};
    const double width = histogram(data, n, coarse.data(), kCoarseBins, coarseRange);

    double sum = 0.0;
    int i = kCoarseBins - 1;
    while (i >= 0 && fivePercent > sum) {
        sum += static_cast<double>(coarse[i]);
        --i;
    }
    if (upper != nullptr) {
        *upper = (i + 1.5) * width;
    }

    // Resolve the part of the range below the bright 5 % into about nb bins.
    const double rescaled = (coarseRange[1] - coarseRange[0]) / ((i + 0.5) * width / nb);
    const int64_t m = static_cast<int64_t>(rescaled);
    const int64_t binCount = m > 1 ? m : 2;

    std::vector<int64_t> fine(static_cast<size_t>(binCount));
    double fineRange[2] = {0.0, 1.0};
    const double fineWidth = histogram(data, n, fine.data(), static_cast<int>(binCount), fineRange);

    std::vector<double> smooth(fine.begin(), fine.end());
    const double kernel[5] = {1.0, 3.0, 5.0, 3.0, 1.0};
    linearSmooth(smooth.data(), binCount, 5, kernel);

    sum = 0.0;
    int64_t j = 0;
    while (j < binCount && fivePercent > sum) {
        sum += static_cast<double>(fine[j]);
        ++j;
    }
    // Only an empty input skips nothing; bin 0 has no left neighbour to compare with.
    if (j < 1) {
        j = 1;
    }
    int64_t valley = 0;
    for (; j <= binCount - 2; ++j) {
        if (smooth[j] < smooth[j + 1] && smooth[j] < smooth[j - 1]) {
            valley = j;
            break;
        }
    }

    if (range != nullptr) {
        range[0] = fineRange[0];
        range[1] = fineRange[1];
    }
    return fineRange[0] + (valley + 0.5) * fineWidth;
}

template <typename T>
void autoWindowLevel(const T* data, int64_t n, double* out) {
    double range[2] = {0.0, 1.0};
    double upper = 0.0;
    const double threshold = getAutoThreshold(data, n, 50, range, &upper);
    double window = 1.7 * (upper - threshold);
    if (window <= 0.0) {
        window = (range[1] - range[0]) / 2.5;
    }
    out[0] = window;
    out[1] = 0.5 * (upper + threshold) + 0.125 * (upper - threshold);
}

}  // namespace

// ---- eigen decomposition
// -------------------------------------------------------------------------

int CMyMath::MyJacobi(float** a, int n, float* w, float** v) {
    return vtkJacobiN(a, n, w, v);
}
int CMyMath::MyJacobi(double** a, int n, double* w, double** v) {
    return vtkJacobiN(a, n, w, v);
}
void CMyMath::Eigsrt(float* w, float** v, int n) {
    eigsrt(w, v, n);
}
void CMyMath::Eigsrt(double* w, double** v, int n) {
    eigsrt(w, v, n);
}

void CMyMath::ComputeEigens(const float* tensor, float* w, float** v) {
    computeEigens(tensor, w, v);
}
void CMyMath::ComputeEigens(const double* tensor, double* w, double** v) {
    computeEigens(tensor, w, v);
}
void CMyMath::ComputeEigensPair(const float* tensorA, float* wA, float vA[3][3],
                                const float* tensorB, float* wB, float vB[3][3]) {
    float* rowsA[3] = {vA[0], vA[1], vA[2]};
    float* rowsB[3] = {vB[0], vB[1], vB[2]};
    jacobi3x3Pair(tensorA, wA, rowsA, tensorB, wB, rowsB);
}

void CMyMath::ComputeEigens(const float* tensor, float* w, float v[3][3]) {
    float* rows[3] = {v[0], v[1], v[2]};
    computeEigens(tensor, w, rows);
}
void CMyMath::ComputeEigens(const double* tensor, double* w, double v[3][3]) {
    double* rows[3] = {v[0], v[1], v[2]};
    computeEigens(tensor, w, rows);
}

void CMyMath::ClosestOrth(float in[3][3], float out[3][3]) {
    closestOrth(in, out);
}
void CMyMath::ClosestOrth(double in[3][3], double out[3][3]) {
    closestOrth(in, out);
}

// ---- SVD, pseudo-inverse, LU, inversion
// ----------------------------------------------------------

bool CMyMath::SingularValueDecomposition(float** a, int m, int n, float* w, float** v) {
    return singularValueDecomposition(a, m, n, w, v);
}
bool CMyMath::SingularValueDecomposition(double** a, int m, int n, double* w, double** v) {
    return singularValueDecomposition(a, m, n, w, v);
}

void CMyMath::PseudoInverse(float** out, float** in, int m, int n) {
    pseudoInverse(out, in, m, n);
}
void CMyMath::PseudoInverse(double** out, double** in, int m, int n) {
    pseudoInverse(out, in, m, n);
}
void CMyMath::PseudoInverse(float out[3][3], float in[3][3]) {
    pseudoInverse2(out, in);
}
void CMyMath::PseudoInverse(double out[3][3], double in[3][3]) {
    pseudoInverse2(out, in);
}
void CMyMath::PseudoInverse4x4(float out[4][4], float in[4][4]) {
    pseudoInverse4x4(out, in);
}
void CMyMath::PseudoInverse4x4(double out[4][4], double in[4][4]) {
    pseudoInverse4x4(out, in);
}

int LUFactorLinearSystem(double** a, int* index, int n, double* scratch) {
    double* const scale = scratch;
    for (int i = 0; i < n; ++i) {
        double largest = 0.0;
        for (int j = 0; j < n; ++j) {
            const double value = std::fabs(a[i][j]);
            if (value > largest) {
                largest = value;
            }
        }
        if (largest == 0.0) {
            return 0;
        }
        scale[i] = 1.0 / largest;
    }

    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < j; ++i) {
            double sum = a[i][j];
            for (int k = 0; k < i; ++k) {
                sum -= a[i][k] * a[k][j];
            }
            a[i][j] = sum;
        }
        double largest = 0.0;
        int pivot = j;
        for (int i = j; i < n; ++i) {
            double sum = a[i][j];
            for (int k = 0; k < j; ++k) {
                sum -= a[i][k] * a[k][j];
            }
            a[i][j] = sum;
            const double merit = scale[i] * std::fabs(sum);
            if (merit >= largest) {
                largest = merit;
                pivot = i;
            }
        }
        if (pivot != j) {
            for (int k = 0; k < n; ++k) {
                std::swap(a[pivot][k], a[j][k]);
            }
            scale[pivot] = scale[j];
        }
        index[j] = pivot;
        if (std::fabs(a[j][j]) <= 1e-12) {
            return 0;
        }
        for (int i = j + 1; i < n; ++i) {
            a[i][j] /= a[j][j];
        }
    }
    return 1;
}

void LUSolveLinearSystem(double** a, const int* index, double* x, int n) {
    int firstNonZero = -1;
    for (int i = 0; i < n; ++i) {
        const int row = index[i];
        double sum = x[row];
        x[row] = x[i];
        if (firstNonZero >= 0) {
            for (int j = firstNonZero; j < i; ++j) {
                sum -= a[i][j] * x[j];
            }
        } else if (sum != 0.0) {
            firstNonZero = i;
        }
        x[i] = sum;
    }
    for (int i = n - 1; i >= 0; --i) {
        double sum = x[i];
        for (int j = i + 1; j < n; ++j) {
            sum -= a[i][j] * x[j];
        }
        x[i] = sum / a[i][i];
    }
}

bool invertMatrix(double** a, double** inverse, int n, int* index, double* column) {
    if (LUFactorLinearSystem(a, index, n, column) == 0) {
        return false;
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            column[i] = 0.0;
        }
        column[j] = 1.0;
        LUSolveLinearSystem(a, index, column, n);
        for (int i = 0; i < n; ++i) {
            inverse[i][j] = column[i];
        }
    }
    return true;
}

bool CMyMath::InvertMatrix(double** out, double** in, int n) {
    if (n <= 0) {
        return true;
    }
    // Small systems (the 3x3 and 4x4 forms) run without touching the heap.
    std::array<double, kFixedInvertSize * kFixedInvertSize> fixedCopy{};
    std::array<double*, kFixedInvertSize> fixedRows{};
    std::array<int, kFixedInvertSize> fixedIndex{};
    std::array<double, kFixedInvertSize> fixedColumn{};
    std::vector<double> heapCopy;
    std::vector<double*> heapRows;
    std::vector<int> heapIndex;
    std::vector<double> heapColumn;
    double* copy = fixedCopy.data();
    double** rows = fixedRows.data();
    int* index = fixedIndex.data();
    double* column = fixedColumn.data();
    const size_t size = static_cast<size_t>(n);
    if (n > kFixedInvertSize) {
        heapCopy.assign(size * size, 0.0);
        heapRows.assign(size, nullptr);
        heapIndex.assign(size, 0);
        heapColumn.assign(size, 0.0);
        copy = heapCopy.data();
        rows = heapRows.data();
        index = heapIndex.data();
        column = heapColumn.data();
    }
    for (int r = 0; r < n; ++r) {
        rows[r] = copy + static_cast<size_t>(r) * size;
        for (int c = 0; c < n; ++c) {
            rows[r][c] = in[r][c];
        }
    }
    return invertMatrix(rows, out, n, index, column);
}

bool CMyMath::InvertMatrix(double out[3][3], const double in[3][3]) {
    return invertFixed<3>(out, in);
}
bool CMyMath::InvertMatrix4x4(double out[4][4], const double in[4][4]) {
    return invertFixed<4>(out, in);
}

// ---- small helpers
// -------------------------------------------------------------------------------

void CMyMath::GaussianKernel(float* kernel, int size, float sigma) {
    gaussianKernel(kernel, size, sigma);
}
void CMyMath::GaussianKernel(double* kernel, int size, double sigma) {
    gaussianKernel(kernel, size, sigma);
}
float CMyMath::GaussianSmoothing(const float* a, const float* b, int size) {
    return gaussianSmoothing(a, b, size);
}
double CMyMath::GaussianSmoothing(const double* a, const double* b, int size) {
    return gaussianSmoothing(a, b, size);
}
float CMyMath::TrapezoidalIntegrate(const float* a, int n, float h) {
    return trapezoidalIntegrate(a, n, h);
}
double CMyMath::TrapezoidalIntegrate(const double* a, int n, double h) {
    return trapezoidalIntegrate(a, n, h);
}

void CMyMath::Cart2Sphere(const double* xyz, double* sphere) {
    const double x = xyz[0];
    const double y = xyz[1];
    const double z = xyz[2];
    const double r = std::sqrt(x * x + y * y + z * z);
    const double rho = std::sqrt(x * x + y * y);
    sphere[0] = r;
    sphere[1] = r == 0.0 ? 0.0 : std::acos(z / r);
    double azimuth = 0.0;
    if (r != 0.0 && rho != 0.0) {
        azimuth = std::asin(y / rho);
        if (x < 0.0) {
            azimuth = 3.1415926535 - azimuth;
        }
    }
    sphere[2] = azimuth;
}

int CMyMath::GetPower(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    int power = static_cast<int>(std::floor(std::log10(value)));
    // log10 may land a hair off for exact powers of ten.
    if (std::pow(10.0, power) > value) {
        --power;
    } else if (std::pow(10.0, power + 1) <= value) {
        ++power;
    }
    return power;
}

double CMyMath::RoundToGrid(double value) {
    if (!(value > 0.0)) {
        return value;
    }
    const double scale = std::pow(10.0, GetPower(value));
    const double mantissa = value / scale;
    double grid = 1.0;
    if (mantissa > 5.0) {
        grid = 10.0;
    } else if (mantissa > 2.0) {
        grid = 5.0;
    } else if (mantissa > 1.0) {
        grid = 2.0;
    }
    return grid * scale;
}

// ---- histogram, automatic threshold, smoothing
// ---------------------------------------------------

double CMyMath::Histogram(const double* data, int64_t n, int64_t* bins, int nb, double* range) {
    return histogram(data, n, bins, nb, range);
}
double CMyMath::Histogram(const float* data, int64_t n, int64_t* bins, int nb, double* range) {
    return histogram(data, n, bins, nb, range);
}
double CMyMath::Histogram(const int* data, int64_t n, int64_t* bins, int nb, double* range) {
    return histogram(data, n, bins, nb, range);
}
double CMyMath::Histogram(const short* data, int64_t n, int64_t* bins, int nb, double* range) {
    return histogram(data, n, bins, nb, range);
}
double CMyMath::Histogram(const unsigned char* data, int64_t n, int64_t* bins, int nb,
                          double* range) {
    return histogram(data, n, bins, nb, range);
}

double CMyMath::GetAutoThreshold(const double* data, int64_t n, int nb, double* range,
                                 double* upper) {
    return getAutoThreshold(data, n, nb, range, upper);
}
double CMyMath::GetAutoThreshold(const float* data, int64_t n, int nb, double* range,
                                 double* upper) {
    return getAutoThreshold(data, n, nb, range, upper);
}
double CMyMath::GetAutoThreshold(const int* data, int64_t n, int nb, double* range, double* upper) {
    return getAutoThreshold(data, n, nb, range, upper);
}
double CMyMath::GetAutoThreshold(const short* data, int64_t n, int nb, double* range,
                                 double* upper) {
    return getAutoThreshold(data, n, nb, range, upper);
}

void CMyMath::LinearSmooth(double* data, int64_t count, int K, const double* kernel) {
    linearSmooth(data, count, K, kernel);
}
void CMyMath::LinearSmooth(float* data, int64_t count, int K, const double* kernel) {
    linearSmooth(data, count, K, kernel);
}
void CMyMath::LinearSmooth(int* data, int64_t count, int K, const double* kernel) {
    linearSmooth(data, count, K, kernel);
}
void CMyMath::LinearSmooth(short* data, int64_t count, int K, const double* kernel) {
    linearSmooth(data, count, K, kernel);
}

void CMyMath::AutoWindowLevel(const short* data, int64_t n, double* out) {
    autoWindowLevel(data, n, out);
}
void CMyMath::AutoWindowLevel(const int* data, int64_t n, double* out) {
    autoWindowLevel(data, n, out);
}
void CMyMath::AutoWindowLevel(const float* data, int64_t n, double* out) {
    autoWindowLevel(data, n, out);
}
void CMyMath::AutoWindowLevel(const double* data, int64_t n, double* out) {
    autoWindowLevel(data, n, out);
}
