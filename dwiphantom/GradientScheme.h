#pragma once
// The phantom's diffusion encoding: one b0 and a set of evenly spread unit directions, the
// gradient table text that makes tenscalc see exactly these directions in the voxel frame, and
// the same encoding as FSL .bval/.bvec files.

#include <string>
#include <vector>

#include "PhantomModel.h"

class GradientScheme {
  public:
    // The directions are repeated for every shell: b0 first, then the directions at shells[0],
    // then at shells[1], and so on.
    explicit GradientScheme(int directionCount, std::vector<double> shells = {kDefaultB});

    static constexpr double kDefaultB = 1000.0;
    // One b0 and every direction at every shell.
    int VolumeCount() const;
    // Direction and b value of volume t >= 1.
    const Vec3& DirectionOf(int t) const;
    double BValueOf(int t) const;
    const std::vector<double>& shells() const { return shells_; }
    // More than the one default shell: the table then lists b values (read with -gm FILE 1).
    bool MultiShell() const;

    // Directions in the voxel frame, as the fit will use them (b0 not included).
    const std::vector<Vec3>& directions() const { return directions_; }
    // One b0 row, then one row per direction, for an image without header orientation.
    std::string TableText() const;
    // The table for an image whose header orientation makes tenscalc turn every tabled direction
    // g into tableToVoxel * g. False, text untouched, when the fit would then not see
    // directions() to the last digit: tableToVoxel must only swap and negate axes, as tenscalc's
    // transform without oblique correction does.
    bool TableText(const double tableToVoxel[3][3], std::string* text) const;

    // FSL layout: one row of b-values, the b0 (0) first.
    std::string BvalText() const;
    // FSL layout: rows x, y and z, one column per volume (the b0 column 0 0 0), directions in the
    // voxel axes with x negated when negateX is set. Printed to the last bit of a double.
    std::string BvecText(bool negateX) const;

  private:
    // The rows of one shell, repeated for every shell with its b value when there are several.
    std::string ShellRows(const std::vector<std::string>& rows) const;

    std::vector<double> shells_;
    std::vector<std::string> rows_;
    std::vector<Vec3> spread_;  // the evenly spread directions before the table rounds them
    std::vector<Vec3> directions_;
};
