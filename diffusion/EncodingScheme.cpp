#include "EncodingScheme.h"

#include <cmath>

namespace {
constexpr double kZeroLength = 1e-8;
}

bool EncodingScheme::IsDiffusionWeighted(const GradientVec& g) {
    return std::sqrt(g.x * g.x + g.y * g.y + g.z * g.z) > kZeroLength && g.b > 0.0;
}
