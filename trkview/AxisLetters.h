#pragma once
// Which way each voxel axis of a volume runs in the patient, as the letters that mark picture
// edges: R, L, A, P, S or I for the end where the axis's index is largest and the opposite
// letter for the end where it is smallest. Known from a voxel-to-world matrix in RAS
// millimetres (a NIfTI sform or qform) or from a voxel order such as "LPS".

#include <array>
#include <string>

class AxisLetters {
  public:
    // Rows R, A, S of the world; column a the direction of voxel axis a.
    using Matrix = std::array<std::array<double, 3>, 3>;

    // Nothing known: no letters.
    AxisLetters() = default;
    // Each voxel axis takes the world axis it runs closest to; unknown when two voxel axes
    // would take the same one or a direction is not finite.
    static AxisLetters FromMatrix(const Matrix& voxelToRas);
    // Three letters, one of each pair R/L, A/P, S/I, in either case; anything else leaves
    // the orientation unknown. Only the first three characters count.
    static AxisLetters FromVoxelOrder(const std::string& order);

    bool known() const { return known_; }
    // The letter of the end of voxel axis 0, 1 or 2 where its index is largest (toward), or
    // smallest (away); '\0' while unknown.
    char Toward(int axis) const;
    char Away(int axis) const;

  private:
    static AxisLetters FromLetters(const std::array<char, 3>& letters);

    bool known_ = false;
    std::array<char, 3> toward_ = {'\0', '\0', '\0'};
};
