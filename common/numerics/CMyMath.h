#pragma once
// Numerical toolbox: Jacobi eigen decomposition, singular value decomposition, pseudo-inverse,
// LU factorisation and inversion, and the histogram / automatic threshold family.
//
// Matrices are arrays of row pointers (T**), element [r][c]; eigenvectors are returned as the
// columns of V (V[r][k] is component r of eigenvector k). A tensor given as six numbers is in the
// order (xx, xy, xz, yy, yz, zz).

#include <cstdint>

class CMyMath {
  public:
    CMyMath() = default;
    virtual ~CMyMath() = default;

    // ---- eigen decomposition -------------------------------------------------------------
    // Symmetric n x n matrix a (upper triangle read, destroyed); eigenvalues w descending,
    // eigenvectors as columns of v, each with at least ceil(n/2) components >= 0. Returns 1.
    static int MyJacobi(float** a, int n, float* w, float** v);
    static int MyJacobi(double** a, int n, double* w, double** v);
    // Selection sort of eigen pairs, largest first; a later equal value wins.
    static void Eigsrt(float* w, float** v, int n);
    static void Eigsrt(double* w, double** v, int n);
    // Eigen decomposition of a tensor given as six numbers (not changed). No heap allocation.
    static void ComputeEigens(const float* tensor, float* w, float** v);
    static void ComputeEigens(const double* tensor, double* w, double** v);
    static void ComputeEigens(const float* tensor, float* w, float v[3][3]);
    static void ComputeEigens(const double* tensor, double* w, double v[3][3]);
    // Two independent tensors at once, each with exactly ComputeEigens' result; faster than one
    // after the other.
    static void ComputeEigensPair(const float* tensorA, float* wA, float vA[3][3],
                                  const float* tensorB, float* wB, float vB[3][3]);
    // Each row becomes 0 except +-1 at its largest absolute element (first on ties).
    static void ClosestOrth(float in[3][3], float out[3][3]);
    static void ClosestOrth(double in[3][3], double out[3][3]);

    // ---- SVD, pseudo-inverse, LU, inversion ----------------------------------------------
    // 1-based: a occupies rows 1..m, columns 1..n and is replaced by U; w[1..n]; v[1..n][1..n].
    // False when some singular value still had not converged after 30 QR steps (the
    // decomposition goes on with the others all the same).
    static bool SingularValueDecomposition(float** a, int m, int n, float* w, float** v);
    static bool SingularValueDecomposition(double** a, int m, int n, double* w, double** v);
    // out (n x m) = Moore-Penrose pseudo-inverse of in (m x n); only exactly zero singular
    // values are dropped.
    static void PseudoInverse(float** out, float** in, int m, int n);
    static void PseudoInverse(double** out, double** in, int m, int n);
    static void PseudoInverse(float out[3][3], float in[3][3]);
    static void PseudoInverse(double out[3][3], double in[3][3]);
    static void PseudoInverse4x4(float out[4][4], float in[4][4]);
    static void PseudoInverse4x4(double out[4][4], double in[4][4]);
    // out = in^-1; false (output untouched) when the matrix cannot be factored. in and out may
    // be the same matrix.
    static bool InvertMatrix(double** out, double** in, int n);
    static bool InvertMatrix(double out[3][3], const double in[3][3]);
    static bool InvertMatrix4x4(double out[4][4], const double in[4][4]);

    // ---- small helpers --------------------------------------------------------------------
    static void GaussianKernel(float* kernel, int size, float sigma);
    static void GaussianKernel(double* kernel, int size, double sigma);
    static float GaussianSmoothing(const float* a, const float* b, int size);
    static double GaussianSmoothing(const double* a, const double* b, int size);
    static float TrapezoidalIntegrate(const float* a, int n, float h);
    static double TrapezoidalIntegrate(const double* a, int n, double h);
    // (x, y, z) -> (r, polar angle, azimuth)
    static void Cart2Sphere(const double* xyz, double* sphere);
    static double RoundToGrid(double value);
    static int GetPower(double value);

    // ---- histogram, automatic threshold, smoothing ----------------------------------------
    // Bin counts over [min, max] with nb bins; range (min, max) written when not null.
    // Returns the bin width.
    static double Histogram(const double* data, int64_t n, int64_t* bins, int nb, double* range);
    static double Histogram(const float* data, int64_t n, int64_t* bins, int nb, double* range);
    static double Histogram(const int* data, int64_t n, int64_t* bins, int nb, double* range);
    static double Histogram(const short* data, int64_t n, int64_t* bins, int nb, double* range);
    static double Histogram(const unsigned char* data, int64_t n, int64_t* bins, int nb,
                            double* range);
    // Foreground threshold: first valley of the smoothed histogram above the darkest 5 %.
    // range receives (min, max) and upper the bright-end level, each when not null.
    static double GetAutoThreshold(const double* data, int64_t n, int nb, double* range,
                                   double* upper = nullptr);
    static double GetAutoThreshold(const float* data, int64_t n, int nb, double* range,
                                   double* upper = nullptr);
    static double GetAutoThreshold(const int* data, int64_t n, int nb, double* range,
                                   double* upper = nullptr);
    static double GetAutoThreshold(const short* data, int64_t n, int nb, double* range,
                                   double* upper = nullptr);
    // Normalised convolution with a kernel of K weights (null: all 1), truncated at the ends.
    static void LinearSmooth(double* data, int64_t count, int K, const double* kernel);
    static void LinearSmooth(float* data, int64_t count, int K, const double* kernel);
    static void LinearSmooth(int* data, int64_t count, int K, const double* kernel);
    static void LinearSmooth(short* data, int64_t count, int K, const double* kernel);
    // out = (window, level) for display.
    static void AutoWindowLevel(const short* data, int64_t n, double* out);
    static void AutoWindowLevel(const int* data, int64_t n, double* out);
    static void AutoWindowLevel(const float* data, int64_t n, double* out);
    static void AutoWindowLevel(const double* data, int64_t n, double* out);
};

// LU factorisation with scaled partial pivoting (Crout). a is replaced by its factors.
// Returns 1 on success, 0 when the matrix is singular ("Unable to factor linear system").
int LUFactorLinearSystem(double** a, int* index, int n, double* scratch);
// Solves with the factors of LUFactorLinearSystem; x is replaced by the solution.
void LUSolveLinearSystem(double** a, const int* index, double* x, int n);
// As CMyMath::InvertMatrix, but factors a in place and uses the caller's pivot (n ints) and
// scratch (n doubles) arrays; false when a cannot be factored (inverse untouched).
bool invertMatrix(double** a, double** inverse, int n, int* index, double* column);
