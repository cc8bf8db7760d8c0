#pragma once
// What measuring one track gives the bundle's figures and profile. Kept per track of a window
// and reused from window to window, so that its vectors keep their room.

#include <array>
#include <cstdint>
#include <vector>

struct TrackMeasures {
    bool selected = false;
    double length = 0.0;  // millimetres
    int points = 0;
    // The maps' values at every point, map by map (map m, point i at m * points + i); only
    // when the figures need them.
    std::vector<float> pointValues;
    std::vector<double> trackMeans;  // the mean of each map over the track's points
    // The voxels holding the track's points, a voxel repeated only when the track comes back.
    std::vector<std::int64_t> voxels;
    // The maps at the profile's nodes, node by node (node k, map m at k * maps + m), in the
    // track's own direction.
    std::vector<float> nodeValues;
    // The nodes' x, y, z; only for the gaussian weights.
    std::vector<float> nodePositions;
    std::array<float, 3> first{};
    std::array<float, 3> last{};
    std::vector<double> nodeScratch;  // resampled nodes in double
};
