#include "TensorMetrics.h"

#include <cmath>

namespace {

// 3 sqrt(6) det(A / |A|) from the tensor itself, in double precision, so that nearly isotropic
// tensors (|A| small) lose no more than the stored tensor's own rounding.
double modeOf(const float t[6]) {
    const double xx = t[0];
    const double xy = t[1];
    const double xz = t[2];
    const double yy = t[3];
    const double yz = t[4];
    const double zz = t[5];
    const double mean = (xx + yy + zz) / 3.0;
    const double a = xx - mean;
    const double d = yy - mean;
    const double f = zz - mean;
    const double norm = std::sqrt(a * a + d * d + f * f + 2.0 * (xy * xy + xz * xz + yz * yz));
    if (!(norm > 0.0)) {
        return 0.0;
    }
    const double determinant =
        a * (d * f - yz * yz) - xy * (xy * f - yz * xz) + xz * (xy * yz - d * xz);
    const double mode = 3.0 * std::sqrt(6.0) * determinant / (norm * norm * norm);
    // Rounding can carry a perfectly linear or planar tensor a hair past +-1.
    return std::fmax(-1.0, std::fmin(1.0, mode));
}

}  // namespace

const std::vector<TensorMetrics::Description>& TensorMetrics::All() {
    static const std::vector<Description> all = {
        {Metric::kAxial, "ad", "AD"},         {Metric::kRadial, "rd", "RD"},
        {Metric::kMode, "mode", "Mode"},      {Metric::kLinearity, "cl", "Linearity"},
        {Metric::kPlanarity, "cp", "Planarity"}, {Metric::kSphericity, "cs", "Sphericity"},
    };
    return all;
}

bool TensorMetrics::Named(const std::string& name, Metric& metric) {
    for (const Description& description : All()) {
        if (name == description.name) {
            metric = description.metric;
            return true;
        }
    }
    return false;
}

double TensorMetrics::Value(Metric metric, const float eigenvalues[3], const float tensor[6]) {
    const double l1 = eigenvalues[0];
    const double l2 = eigenvalues[1];
    const double l3 = eigenvalues[2];
    const double trace = l1 + l2 + l3;
    switch (metric) {
        case Metric::kAxial:
            return l1;
        case Metric::kRadial:
            return (l2 + l3) / 2.0;
        case Metric::kMode:
            return modeOf(tensor);
        case Metric::kLinearity:
            return trace != 0.0 ? (l1 - l2) / trace : 0.0;
        case Metric::kPlanarity:
            return trace != 0.0 ? 2.0 * (l2 - l3) / trace : 0.0;
        case Metric::kSphericity:
            return trace != 0.0 ? 3.0 * l3 / trace : 0.0;
    }
    return 0.0;
}
