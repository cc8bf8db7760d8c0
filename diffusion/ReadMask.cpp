#include "ReadMask.h"

#include <cstddef>
#include <cstdio>

#include "NiftiIO.h"

bool ReadMask(const std::string& file, const float thresholds[2], const int dims[3],
              std::vector<short>& destination, std::string* reason, std::string* notice) {
    nifti_1_header header{};
    int maskDims[3] = {0, 0, 0};
    float maskVoxelSize[3] = {0.0f, 0.0f, 0.0f};
    if (!NiftiIO::ReadHeader(file, header, maskDims, maskVoxelSize, reason)) {
        *notice = "\nCan not read file " + file + "\n";
        return false;
    }

    const size_t count =
        static_cast<size_t>(dims[0]) * static_cast<size_t>(dims[1]) * static_cast<size_t>(dims[2]);
    const bool sameGrid = maskDims[0] == dims[0] && maskDims[1] == dims[1] &&
                          maskDims[2] == dims[2] && NiftiIO::VoxelsInHeader(header) == count;
    if (!sameGrid) {
        char grid[160];
        std::snprintf(grid, sizeof grid, "\nVolume dimension: %d %d %d\nVoxel size: %.3f %.3f %.3f\n",
                      maskDims[0], maskDims[1], maskDims[2], maskVoxelSize[0], maskVoxelSize[1],
                      maskVoxelSize[2]);
        *notice = std::string("\nMask image has unmatched dimension or voxel size.\n") + grid;
        return false;
    }

    destination.assign(count, 0);
    if (!NiftiIO::ReadAsShortMask(file, destination.data(), destination.size(), thresholds[0],
                                  thresholds[1], reason)) {
        *notice = "\nCannot read mask image file" + file + "\n";
        return false;
    }
    return true;
}
