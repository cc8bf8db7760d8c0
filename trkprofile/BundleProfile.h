#pragma once
// The bundle's profile: every selected track's maps at equally spaced nodes, kept track by track
// in the file's order, then turned to run the same way and averaged node by node.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FloatColumn.h"
#include "TrackMeasures.h"

class BundleProfile {
  public:
    enum class Weighting { kUniform, kGaussian };

    // reference: the point node 0 lies nearest (a mask's centroid); without one, the tracks
    // are turned to agree with the longest.
    BundleProfile(std::vector<std::string> mapNames, int nodes, Weighting weighting,
                  const std::optional<std::array<double, 3>>& reference);

    // A selected track's measures, with its node values (and positions for the gaussian
    // weights).
    void Add(const TrackMeasures& track);

    // The header line and a row per map and node: bundle, node, map, mean, sd, tracks.
    std::string Table(const std::string& bundle) const;

  private:
    // Whether each track runs against the reference direction.
    std::vector<bool> Turned() const;

    std::vector<std::string> mapNames_;
    int nodes_;
    Weighting weighting_;
    std::optional<std::array<double, 3>> reference_;
    FloatColumn nodeValues_;     // per track: nodes x maps
    FloatColumn nodePositions_;  // per track: nodes x 3 (gaussian only)
    std::vector<std::array<float, 3>> firsts_;
    std::vector<std::array<float, 3>> lasts_;
    std::int64_t longest_ = -1;  // the first of the longest tracks
    double longestLength_ = -1.0;
};
