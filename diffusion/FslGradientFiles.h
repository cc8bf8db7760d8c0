#pragma once
// Gradient files as FSL writes them and BIDS adopted them: a .bvec file with the directions of
// every volume (three rows of N numbers, or N rows of three) and a .bval file with their b
// values (one row of N, or N rows of one), white space separated.
//
// The directions are along the voxel axes, with x negated when the image's voxel-to-world
// matrix has a positive determinant; the reader returns them as written
// (GradientSchemeLoader::NegatedX undoes that negation). Nothing is printed: a failure says which
// file, line and column and what is wrong.

#include <string>

#include "EncodingScheme.h"

class FslGradientFiles {
  public:
    // b values at or below this mark a b0 volume unless told otherwise (-bzero).
    static constexpr double kB0Threshold = 50.0;

    // Reads both files into a voxel-frame scheme, one row per volume: b0 rows (b at or below
    // b0Threshold, whatever their direction says, nan included) are zeros, diffusion-weighted
    // rows a unit direction and the b value of the .bval file. A non-finite direction of a
    // diffusion-weighted volume is refused with its line and column.
    static bool Read(const std::string& bvecFile, const std::string& bvalFile,
                     EncodingScheme& scheme, std::string& reason,
                     double b0Threshold = kB0Threshold);
};
