#include "WeightedFit.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kUnknowns = 7;
constexpr int kTriangle = 28;  // entries of the lower triangle of a 7 x 7 matrix

// Index of (i, j), j <= i, in a packed lower triangle.
constexpr int packed(int i, int j) {
    return i * (i + 1) / 2 + j;
}

// Solves M x = v for the symmetric M (packed lower triangle) by Cholesky factorisation. False
// when M is not positive definite to working precision.
bool solveSymmetric(const double m[kTriangle], const double v[kUnknowns], double x[kUnknowns]) {
    double l[kTriangle];
    double largest = 0.0;
    for (int i = 0; i < kUnknowns; ++i) {
        largest = std::fmax(largest, std::fabs(m[packed(i, i)]));
    }
    if (!(largest > 0.0) || !std::isfinite(largest)) {
        return false;
    }
    for (int i = 0; i < kUnknowns; ++i) {
        for (int j = 0; j <= i; ++j) {
            double sum = m[packed(i, j)];
            for (int k = 0; k < j; ++k) {
                sum -= l[packed(i, k)] * l[packed(j, k)];
            }
            if (i == j) {
                // A pivot lost to cancellation means the directions do not determine the tensor.
                if (!(sum > largest * 1e-13)) {
                    return false;
                }
                l[packed(i, i)] = std::sqrt(sum);
            } else {
                l[packed(i, j)] = sum / l[packed(j, j)];
            }
        }
    }
    double z[kUnknowns];
    for (int i = 0; i < kUnknowns; ++i) {
        double sum = v[i];
        for (int k = 0; k < i; ++k) {
            sum -= l[packed(i, k)] * z[k];
        }
        z[i] = sum / l[packed(i, i)];
    }
    for (int i = kUnknowns - 1; i >= 0; --i) {
        double sum = z[i];
        for (int k = i + 1; k < kUnknowns; ++k) {
            sum -= l[packed(k, i)] * x[k];
        }
        x[i] = sum / l[packed(i, i)];
    }
    for (int i = 0; i < kUnknowns; ++i) {
        if (!std::isfinite(x[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

void WeightedFit::SetDesign(const std::vector<double>& rows, int b0Count) {
    design_ = rows;
    const size_t count = rows.size() / kUnknowns;
    products_.assign(count * kTriangle, 0.0);
    rowFactor_.assign(count, 1.0);
    if (count > 0 && b0Count > 1) {
        rowFactor_[0] = b0Count;
    }
    for (size_t r = 0; r < count; ++r) {
        const double* a = &design_[r * kUnknowns];
        double* p = &products_[r * kTriangle];
        for (int i = 0; i < kUnknowns; ++i) {
            for (int j = 0; j <= i; ++j) {
                p[packed(i, j)] = a[i] * a[j];
            }
        }
    }
}

void WeightedFit::SetMethod(Method method, int extraRounds) {
    switch (method) {
        case Method::kOrdinary:
            rounds_ = 0;
            break;
        case Method::kWeighted:
            rounds_ = 1;
            break;
        case Method::kIterative:
            rounds_ = 1 + (extraRounds > 0 ? extraRounds : 0);
            break;
    }
}

bool WeightedFit::Refine(const double* y, double x[7]) const {
    const int rows = RowCount();
    double current[kUnknowns];
    for (int i = 0; i < kUnknowns; ++i) {
        current[i] = x[i];
    }
    for (int round = 0; round < rounds_; ++round) {
        double m[kTriangle] = {};
        double v[kUnknowns] = {};
        // Rows are taken in blocks: first every weight of the block, then the sums, so that the
        // sums stay in registers instead of being saved around each call of exp.
        constexpr int kRowBlock = 64;
        double weights[kRowBlock];
        for (int first = 0; first < rows; first += kRowBlock) {
            const int count = rows - first < kRowBlock ? rows - first : kRowBlock;
            for (int j = 0; j < count; ++j) {
                const int r = first + j;
                const double* a = &design_[static_cast<size_t>(r) * kUnknowns];
                // -ln of the predicted signal relative to S0: every row shares the factor S0^2
                // of the squared signal, which scales the system and leaves its solution as it is.
                double attenuation = 0.0;
                for (int i = 0; i < kUnknowns - 1; ++i) {
                    attenuation += a[i] * current[i];
                }
                // The squared predicted signal (over S0^2). Single precision is plenty for a
                // weight and takes a fraction of the time.
                const double w =
                    static_cast<double>(std::exp(static_cast<float>(-2.0 * attenuation))) *
                    rowFactor_[static_cast<size_t>(r)];
                if (!std::isfinite(w)) {
                    return false;
                }
                weights[j] = w;
            }
            for (int j = 0; j < count; ++j) {
                const int r = first + j;
                const double w = weights[j];
                const double* p = &products_[static_cast<size_t>(r) * kTriangle];
                for (int k = 0; k < kTriangle; ++k) {
                    m[k] += w * p[k];
                }
                const double wy = w * y[r];
                const double* a = &design_[static_cast<size_t>(r) * kUnknowns];
                for (int i = 0; i < kUnknowns; ++i) {
                    v[i] += wy * a[i];
                }
            }
        }
        double previous[kUnknowns];
        std::copy(current, current + kUnknowns, previous);
        if (!solveSymmetric(m, v, current)) {
            return false;
        }
        // A round that moves nothing beyond double rounding gives the next the same weights:
        // the rounds left would repeat it (and a large round count would only cost time).
        bool settled = true;
        for (int i = 0; i < kUnknowns && settled; ++i) {
            settled = std::fabs(current[i] - previous[i]) <= 1e-13 * (1.0 + std::fabs(current[i]));
        }
        if (settled) {
            break;
        }
    }
    for (int i = 0; i < kUnknowns; ++i) {
        x[i] = current[i];
    }
    return true;
}
