#pragma once
// Voxel values of scalar nifticlib images as double, whatever type the file stores them in.

#include <nifti1_io.h>

#include <cstddef>

class NiftiScalar {
  public:
    // Value of voxel p of the image's data, or NaN for a data type that is not read here.
    static double At(const nifti_image& image, size_t p);
    // Whether At reads the data type.
    static bool Reads(int datatype);
};
