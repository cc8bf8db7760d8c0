#pragma once
// The voxels to fit: a mask volume on the data's grid, non-zero where the fit is wanted (a brain
// mask from the data set or from another tool).

#include <nifti1_io.h>

#include <string>
#include <vector>

class FitMask {
  public:
    // 1 where the mask is non-zero, 0 elsewhere, one per voxel of the data. False with the reason
    // when the file cannot be read or its grid (dimensions, voxel sizes) is not the data's.
    static bool Read(const std::string& file, const nifti_1_header& data,
                     const std::string& dataName, std::vector<unsigned char>& mask,
                     std::string& reason);
};
