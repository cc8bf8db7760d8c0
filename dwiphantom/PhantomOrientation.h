#pragma once
// Where the header of the phantom's acquisition places the voxels in the world, and what a
// written header means for the gradient files: the sign FSL gives x in .bvec directions, and the
// transform tenscalc applies to the rows of a gradient table.

#include <nifti1_io.h>

#include <array>
#include <optional>
#include <string>

class PhantomOrientation {
  public:
    // Rotation of the oblique header: about x first, then about z.
    static constexpr double kObliqueAboutXDegrees = 20.0;
    static constexpr double kObliqueAboutZDegrees = 12.0;

    // What the gradient files must allow for, read from a written acquisition.
    struct GradientFrame {
        // The header has a quaternion form, which tenscalc takes instead of the .info file.
        bool fromHeader = false;
        // With fromHeader: tenscalc -gm turns a tabled direction g into tableToVoxel * g.
        double tableToVoxel[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
        // FSL negates x when the voxel-to-world matrix has a positive determinant, and counts a
        // header without one as positive.
        bool negatesBvecX = true;
    };

    // The voxel-to-world (RAS, mm) matrix the header declares, the centre of the volume at the
    // origin: diag(-1, 1, 1) first with las, the oblique rotation last. None without either,
    // so that the header keeps no orientation.
    static std::optional<mat44> VoxelToWorld(bool las, bool oblique, const std::array<int, 3>& dims,
                                             double voxelSize);
    // The same matrix for a header that always declares one: without either switch the plain
    // RAS matrix diag(voxelSize), which has a positive determinant.
    static mat44 DeclaredVoxelToWorld(bool las, bool oblique, const std::array<int, 3>& dims,
                                      double voxelSize);

    // Sets sform and qform (both scanner-anatomical) to the matrix; the quaternion form's qfac
    // and voxel sizes go into pixdim.
    static void Declare(const mat44& voxelToWorld, nifti_1_header* header);

    // Reads the header of a written volume the way tenscalc and FSL readers will. False, frame
    // untouched, when it cannot be read or its orientation gives tenscalc no transform; reason
    // (may be null) then says why.
    static bool ReadGradientFrame(const std::string& niftiPath, GradientFrame* frame,
                                  std::string* reason);
};
