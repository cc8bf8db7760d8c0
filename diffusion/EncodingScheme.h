#pragma once
// The diffusion encoding of an acquisition as the readers of gradient files produce it and the
// reconstructor turns it into the fit matrix: one row per volume, b0 rows first counted, and the
// frame the directions are given in.

#include <cstddef>
#include <vector>

#include "GradientVec.h"

class EncodingScheme {
  public:
    enum class Frame {
        kScanner,  // the gradient table's frame: turned into the image frame by the orientation
        kVoxel,    // already along the voxel axes, the frame of the tensor and eigenvector maps
    };

    // Unit direction and b value of every diffusion-weighted row; b0 rows hold the numbers as
    // read (a zero or nearly zero direction) or zeros.
    std::vector<GradientVec> rows;
    int b0Count = 0;
    Frame frame = Frame::kScanner;

    // The largest b value taken, in s/mm^2: ten times what any scanner applies to tissue, so
    // that a larger one is a broken file (1e30 made NaN maps and FA above 1).
    static constexpr double kMostB = 100000.0;

    int DirectionCount() const { return static_cast<int>(rows.size()) - b0Count; }

    // A row is diffusion-weighted only when its direction has length and its b value is positive;
    // one rule for the b0 count and the fit's row flags keeps the two in agreement.
    static bool IsDiffusionWeighted(const GradientVec& g);
};
