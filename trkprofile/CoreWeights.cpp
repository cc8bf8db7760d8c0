#include "CoreWeights.h"

#include <cmath>
#include <cstddef>

namespace {

using Matrix = std::array<std::array<double, 3>, 3>;

double determinant(const Matrix& a) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
}

// The inverse by the adjugate; the caller has made sure the determinant is well away from 0.
Matrix inverse(const Matrix& a) {
    const double det = determinant(a);
    Matrix inv{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            // Cofactor of a[c][r], with the cyclic rows and columns that carry the sign.
            const int r1 = (c + 1) % 3;
            const int r2 = (c + 2) % 3;
            const int c1 = (r + 1) % 3;
            const int c2 = (r + 2) % 3;
            inv[r][c] = (a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1]) / det;
        }
    }
    return inv;
}

void uniform(std::size_t count, std::vector<double>& weights) {
    weights.assign(count, count > 0 ? 1.0 / static_cast<double>(count) : 0.0);
}

}  // namespace

void CoreWeights::Gaussian(const std::vector<std::array<double, 3>>& positions,
                           std::vector<double>& weights) {
    const std::size_t count = positions.size();
    if (count < 2) {
        uniform(count, weights);
        return;
    }
    std::array<double, 3> mean{};
    for (const auto& p : positions) {
        for (int a = 0; a < 3; ++a) {
            mean[a] += p[a];
        }
    }
    for (double& m : mean) {
        m /= static_cast<double>(count);
    }
    Matrix covariance{};
    for (const auto& p : positions) {
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                covariance[r][c] += (p[r] - mean[r]) * (p[c] - mean[c]);
            }
        }
    }
    for (auto& row : covariance) {
        for (double& value : row) {
            value /= static_cast<double>(count - 1);
        }
    }
    const double meanVariance = (covariance[0][0] + covariance[1][1] + covariance[2][2]) / 3.0;
    if (!(meanVariance > 0.0)) {
        uniform(count, weights);
        return;
    }
    // A determinant small beside the cube of the mean variance means a flat or thin cloud.
    if (!(determinant(covariance) > 1e-10 * meanVariance * meanVariance * meanVariance)) {
        for (int a = 0; a < 3; ++a) {
            covariance[a][a] += 1e-3 * meanVariance;
        }
    }
    const Matrix inv = inverse(covariance);
    weights.resize(count);
    double sum = 0.0;
    for (std::size_t t = 0; t < count; ++t) {
        const double d[3] = {positions[t][0] - mean[0], positions[t][1] - mean[1],
                             positions[t][2] - mean[2]};
        double squared = 0.0;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                squared += d[r] * inv[r][c] * d[c];
            }
        }
        weights[t] = std::exp(-0.5 * squared);
        sum += weights[t];
    }
    if (!(sum > 0.0)) {
        uniform(count, weights);
        return;
    }
    for (double& w : weights) {
        w /= sum;
    }
}
