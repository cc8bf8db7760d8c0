#pragma once
// A mask that selects tracks: the voxels of a volume that are not zero (NaN counts as zero).

#include <array>
#include <cstdint>
#include <vector>

#include "GridVolume.h"
#include "VoxelGrid.h"

class RegionMask {
  public:
    explicit RegionMask(const GridVolume& volume);

    // True when the voxel containing the point is in the mask; a point outside the grid is in
    // no mask.
    bool Contains(const float point[3]) const {
        const std::int64_t voxel = grid_.VoxelOf(point);
        return voxel >= 0 && inside_[static_cast<std::size_t>(voxel)] != 0;
    }
    // The mean of the mask's voxel centres in voxel millimetres; nothing for an empty mask.
    bool Centroid(std::array<double, 3>& centre) const;

  private:
    VoxelGrid grid_;
    std::vector<std::uint8_t> inside_;
};
