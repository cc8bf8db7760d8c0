#pragma once
// Weights of the tracks at one node of a profile that let the bundle's core count most: each
// track by exp(-d^2/2), d the Mahalanobis distance of its node from the mean node position under
// the covariance of the node positions over the tracks (Yeatman et al. 2012), normalised to sum
// to 1.

#include <array>
#include <vector>

class CoreWeights {
  public:
    // positions: one node position per track. A covariance that is singular or nearly so (all
    // tracks in a plane or on a line at this node) gets a ridge of a thousandth of its mean
    // variance on the diagonal; when every track is at the same place, or there is one track,
    // all weigh the same.
    static void Gaussian(const std::vector<std::array<double, 3>>& positions,
                         std::vector<double>& weights);
};
