#pragma once
// The voxel grid tracks, masks and maps share: dimensions and voxel sizes. Points are in the
// track files' voxel millimetres, where voxel i along an axis spans [i*s, (i+1)*s).

#include <cstdint>
#include <string>

#include "TRACK_HEADER.h"

class VoxelGrid {
  public:
    VoxelGrid() = default;
    VoxelGrid(const int dims[3], const float sizes[3]);
    static VoxelGrid OfTracks(const TRACK_HEADER& header);

    int Dim(int axis) const { return dims_[axis]; }
    float Size(int axis) const { return sizes_[axis]; }
    // Voxels in the grid; 0 for a grid without voxels.
    std::int64_t VoxelCount() const;
    // Index (x fastest) of the voxel containing the point, or -1 outside the grid. Inline: it
    // runs for every point against every mask.
    std::int64_t VoxelOf(const float point[3]) const {
        std::int64_t index = 0;
        for (int a = 2; a >= 0; --a) {
            const double cell = static_cast<double>(point[a]) / static_cast<double>(sizes_[a]);
            // Written so that NaN falls outside too.
            if (!(cell >= 0.0 && cell < static_cast<double>(dims_[a]))) {
                return -1;
            }
            index = index * dims_[a] + static_cast<std::int64_t>(cell);
        }
        return index;
    }
    // How other differs from this grid ("its dimensions are 16x16x10, the tracks' 32x32x20"),
    // naming this grid as whose; empty when they are the same grid.
    std::string Difference(const VoxelGrid& other, const std::string& whose) const;

  private:
    int dims_[3] = {0, 0, 0};
    float sizes_[3] = {1.0f, 1.0f, 1.0f};
};
