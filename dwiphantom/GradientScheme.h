#pragma once
// The phantom's diffusion encoding: one b0 and a set of evenly spread unit directions, and the
// gradient table text that makes tenscalc see exactly these directions in the voxel frame.

#include <string>
#include <vector>

#include "PhantomModel.h"

class GradientScheme {
  public:
    explicit GradientScheme(int directionCount);

    // Directions in the voxel frame, as the fit will use them (b0 not included).
    const std::vector<Vec3>& directions() const { return directions_; }
    // One b0 row, then one row per direction.
    std::string TableText() const;

  private:
    std::vector<std::string> rows_;
    std::vector<Vec3> directions_;
};
