#pragma once
// A single-volume image (NIfTI or Analyze) read as floats on its voxel grid, with the header's
// value scaling applied: the common ground of the masks and the maps.

#include <string>
#include <utility>
#include <vector>

#include "VoxelGrid.h"

class GridVolume {
  public:
    // False with the reason (naming the file) when it cannot be read or holds more than one
    // volume.
    bool Read(const std::string& file, std::string& reason);

    const VoxelGrid& Grid() const { return grid_; }
    // Every voxel, x fastest.
    const std::vector<float>& Values() const { return values_; }
    // The values without a copy; the volume is empty afterwards until read again.
    std::vector<float> TakeValues() && { return std::move(values_); }

  private:
    VoxelGrid grid_;
    std::vector<float> values_;
};
