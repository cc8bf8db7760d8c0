#include "TensorDeterminacy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "CMyMath.h"

TensorDeterminacy TensorDeterminacy::Of(const EncodingScheme& scheme) {
    // The normal matrix D^T D (6 x 6): its eigenvalues are the squared singular values of D.
    std::array<std::array<double, 6>, 6> normal{};
    const double root2 = std::sqrt(2.0);
    for (const GradientVec& g : scheme.rows) {
        if (!EncodingScheme::IsDiffusionWeighted(g)) {
            continue;
        }
        const double length = std::sqrt(g.x * g.x + g.y * g.y + g.z * g.z);
        const double x = g.x / length;
        const double y = g.y / length;
        const double z = g.z / length;
        const double row[6] = {x * x, y * y, z * z, root2 * x * y, root2 * x * z, root2 * y * z};
        for (int i = 0; i < 6; ++i) {
            for (int j = 0; j < 6; ++j) {
                normal[i][j] += row[i] * row[j];
            }
        }
    }
    std::array<std::array<double, 6>, 6> vectors{};
    std::array<double*, 6> a{};
    std::array<double*, 6> v{};
    for (int i = 0; i < 6; ++i) {
        a[i] = normal[i].data();
        v[i] = vectors[i].data();
    }
    std::array<double, 6> eigen{};
    CMyMath::MyJacobi(a.data(), 6, eigen.data(), v.data());
    const double largest = *std::max_element(eigen.begin(), eigen.end());
    TensorDeterminacy result;
    // Eigenvalues below rounding of the largest are zero: a direction count times 1e-12.
    const double zero = std::max(largest, 1.0) * 1e-12;
    result.rank_ = static_cast<int>(
        std::count_if(eigen.begin(), eigen.end(), [zero](double e) { return e > zero; }));
    const double smallest = *std::min_element(eigen.begin(), eigen.end());
    result.condition_ = result.rank_ < 6 ? std::numeric_limits<double>::infinity()
                                         : std::sqrt(largest / smallest);
    return result;
}

std::string TensorDeterminacy::Describe(int directions) const {
    const std::string weighted = "the " + std::to_string(directions) + " weighted directions";
    if (rank_ < 6) {
        return weighted + " span " + std::to_string(rank_) +
               " of the 6 tensor components (repeated directions, or all in one plane)";
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  " are too close to too few directions (condition number %.3g, at most %.0f)",
                  condition_, kMostCondition);
    return weighted + text;
}
