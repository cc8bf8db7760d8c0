#pragma once
// Lengths and resampling of a track given as a .trk record: n points, each stride floats of
// which the first three are x, y, z in voxel millimetres.

#include <cstddef>

class TrackGeometry {
  public:
    // The sum of the distances between consecutive points, in millimetres.
    static double Length(const float* record, int n, std::size_t stride);
    // nodes >= 2 points equally spaced along the track's length, the first and last on its end
    // points, linear between its points; out receives x, y, z of each. A track of one point, or
    // of no length, gives that point at every node.
    static void Resample(const float* record, int n, std::size_t stride, int nodes, double* out);
};
