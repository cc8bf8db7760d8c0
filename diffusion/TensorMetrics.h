#pragma once
// Scalar measures of a diffusion tensor beyond FA and ADC, as the peers define them:
//   ad    axial diffusivity, l1
//   rd    radial diffusivity, (l2 + l3) / 2
//   mode  3 sqrt(6) det(A / |A|), A = D - (trace D / 3) I the deviatoric tensor and |A| its
//         Frobenius norm: -1 planar, 0 orthotropic, +1 linear (0 where A = 0)
//   cl    Westin's linearity, (l1 - l2) / (l1 + l2 + l3)
//   cp    planarity, 2 (l2 - l3) / (l1 + l2 + l3)
//   cs    sphericity, 3 l3 / (l1 + l2 + l3)
// with l1 >= l2 >= l3 the eigenvalues; the shape measures are 0 where the trace is 0.

#include <string>
#include <vector>

class TensorMetrics {
  public:
    enum class Metric { kAxial, kRadial, kMode, kLinearity, kPlanarity, kSphericity };

    struct Description {
        Metric metric;
        const char* name;        // as -metrics and the file suffix have it
        const char* intentName;  // the NIfTI intent name of its map
    };
    static const std::vector<Description>& All();
    // The metric named (ad, rd, mode, cl, cp, cs), or false.
    static bool Named(const std::string& name, Metric& metric);

    // eigenvalues: l1 >= l2 >= l3; tensor: (xx, xy, xz, yy, yz, zz).
    static double Value(Metric metric, const float eigenvalues[3], const float tensor[6]);
};
