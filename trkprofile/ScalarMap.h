#pragma once
// A map sampled along tracks: trilinear interpolation between voxel centres, which lie at
// (i + 0.5) s in voxel millimetres (so a point at x samples index x/s - 0.5). A point beyond the
// outermost centres is moved onto them along each axis: outside the grid a map keeps the values
// of its edge voxels instead of fading towards zero or failing.

#include <vector>

#include "GridVolume.h"
#include "VoxelGrid.h"

class ScalarMap {
  public:
    // Takes the volume's values over.
    explicit ScalarMap(GridVolume&& volume);

    double Sample(const double point[3]) const;
    double Sample(const float point[3]) const {
        const double wide[3] = {point[0], point[1], point[2]};
        return Sample(wide);
    }

  private:
    VoxelGrid grid_;
    std::vector<float> values_;
};
