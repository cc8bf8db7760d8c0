#include "VoxelGrid.h"

#include <cmath>
#include <cstdio>

namespace {

std::string triple(const double values[3], const char* format) {
    char text[128];
    std::snprintf(text, sizeof text, format, values[0], values[1], values[2]);
    return text;
}

}  // namespace

VoxelGrid::VoxelGrid(const int dims[3], const float sizes[3]) {
    for (int a = 0; a < 3; ++a) {
        dims_[a] = dims[a];
        sizes_[a] = sizes[a];
    }
}

VoxelGrid VoxelGrid::OfTracks(const TRACK_HEADER& header) {
    const int dims[3] = {header.dim[0], header.dim[1], header.dim[2]};
    return VoxelGrid(dims, header.voxel_size);
}

std::int64_t VoxelGrid::VoxelCount() const {
    if (dims_[0] <= 0 || dims_[1] <= 0 || dims_[2] <= 0) {
        return 0;
    }
    return static_cast<std::int64_t>(dims_[0]) * dims_[1] * dims_[2];
}

std::string VoxelGrid::Difference(const VoxelGrid& other, const std::string& whose) const {
    const double mine[3] = {static_cast<double>(dims_[0]), static_cast<double>(dims_[1]),
                            static_cast<double>(dims_[2])};
    const double theirs[3] = {static_cast<double>(other.dims_[0]),
                              static_cast<double>(other.dims_[1]),
                              static_cast<double>(other.dims_[2])};
    if (mine[0] != theirs[0] || mine[1] != theirs[1] || mine[2] != theirs[2]) {
        return "its dimensions are " + triple(theirs, "%.0fx%.0fx%.0f") + ", " + whose + " " +
               triple(mine, "%.0fx%.0fx%.0f");
    }
    // Sizes written by different programs may differ in the last bits of a float.
    bool same = true;
    for (int a = 0; a < 3; ++a) {
        const double tolerance = 1e-5 * std::fabs(static_cast<double>(sizes_[a]));
        same = same && std::fabs(static_cast<double>(sizes_[a]) -
                                 static_cast<double>(other.sizes_[a])) <= tolerance;
    }
    if (same) {
        return "";
    }
    const double mySizes[3] = {sizes_[0], sizes_[1], sizes_[2]};
    const double theirSizes[3] = {other.sizes_[0], other.sizes_[1], other.sizes_[2]};
    return "its voxel sizes are " + triple(theirSizes, "%g x %g x %g mm") + ", " + whose + " " +
           triple(mySizes, "%g x %g x %g mm");
}
