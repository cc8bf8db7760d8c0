#pragma once
// The window of b0 values outside which a voxel counts as background: found automatically from
// the b0 map's histogram, or given (a lower bound, and optionally an upper one).

#include <cstddef>

class BackgroundWindow {
  public:
    // givenValues: 0 automatic, 1 givenLower replaces the lower bound, 2 both bounds are given.
    static void Find(const short* b0, size_t voxels, int givenValues, double givenLower,
                     double givenUpper, double* lower, double* upper);
};
