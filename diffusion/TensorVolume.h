#pragma once
// The tensor volume the reconstruction wrote: opened for its header and grid, then read into
// memory as six components per voxel in the fit's order (xx, xy, xz, yy, yz, zz). What it has to
// say goes to the program's RunMessages.

#include <nifti1_io.h>

#include <cstddef>
#include <string>
#include <vector>

#include "NiftiIO.h"
#include "RunMessages.h"
#include "RunStep.h"
#include "TRACK_HEADER.h"

struct VolumeGeometry {
    int dims[3] = {0, 0, 0};
    float voxelSize[3] = {0.0f, 0.0f, 0.0f};
    size_t voxelCount = 0;
};

class TensorVolume {
  public:
    explicit TensorVolume(RunMessages& messages) : messages_(messages) {}

    // Opens the file, checks that it holds six components and tells the grid.
    RunStep Open(const std::string& fileName);
    // A track header for this grid; voxel order and orientation keep their defaults until the
    // orientation is settled.
    TRACK_HEADER NewTrackHeader() const;
    // Reads all six components into tensors (six floats per voxel).
    RunStep ReadComponents(std::vector<float>& tensors);

    const VolumeGeometry& geometry() const { return geometry_; }
    const nifti_1_header& header() const { return header_; }
    const NiftiIO& file() const { return file_; }

  private:
    RunMessages& messages_;
    std::string fileName_;
    NiftiIO file_;
    nifti_1_header header_{};
    bool componentsAlongFifth_ = false;
    VolumeGeometry geometry_;
};
