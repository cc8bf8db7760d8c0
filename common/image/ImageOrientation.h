#pragma once
// Patient-space image orientation (LPS frame: +x left, +y posterior, +z superior).
//
// An orientation travels as six floats: elements 0-2 the direction of increasing column index
// (row vector), elements 3-5 the direction of increasing row index (column vector). A slice
// direction indicator is +1 when the third voxel axis points along row x column, -1 otherwise.
// All operations are static and stateless; nothing is printed.

#include <string>
#include <utility>

struct vector3D {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

class ImageOrientation {
  public:
    // Names of the type codes: code t >= 0 is entry t, code t < 0 entry 6 - t.
    static const char* const OrientationTypeStrings[13];

    static vector3D ProductVectorial(const vector3D& a, const vector3D& b);
    // |a x b - c x d|
    static double CalculLikelyhood2Vec(const vector3D& a, const vector3D& b, const vector3D& c,
                                       const vector3D& d);
    // The candidate (code, distance) when its distance is strictly smaller than best's,
    // otherwise best. A NaN candidate distance therefore never wins.
    static std::pair<double, double> VerfCriterion(int type, double distance,
                                                   const std::pair<double, double>& best);

    // Slice plane class: 1 axial, 2 coronal, 3 sagittal, negative for a flipped normal, 0 when
    // no reference plane is within reach (e.g. NaN or far from unit vectors).
    static int GetOrientationType(const float* orientation6);
    // Name of a code in -6..6; "Not Applicable" for any other code.
    static std::string GetOrientationTypeString(int type);
    static std::string GetOrientationTypeString(const float* orientation6);

    // Direction letters (L/R, P/A, S/I) of one vector in order of decreasing magnitude; 0 to 3
    // letters, ending at the first tie of the largest remaining magnitudes.
    static std::string GetSingleOrientation(const float* vector3);
    // Row letters, '\\', column letters.
    static std::string GetOrientationString(const float* orientation6);
    // First row letter and first column letter; a position whose letters are empty holds '\0'.
    static std::string GetOrientationStringShort(const float* orientation6);

    // Three letters, each the direction toward which that voxel index increases (e.g. "LPS").
    static std::string GetVoxelOrder(const float* orientation6, int sliceOrder);
    // Slice direction indicator (+1/-1) that makes GetVoxelOrder's third letter match
    // voxelOrder's third character. voxelOrder must hold at least 3 characters.
    static int GetSliceOrder(const float* orientation6, const std::string& voxelOrder);

    // Rotation of gradient directions into the image frame: (M^T)^-1 * diag(1, -1, -1), where M
    // has the rows r, c and r x c (each snapped to the nearest axis when obliqueCorrection is
    // false). Returns false for a degenerate orientation: a non-finite component, a direction
    // of zero or non-finite length, or M not invertible; m must then not be used.
    static bool GetImageOrientationTransformationMatrix(const float* orientation6, double m[3][3],
                                                        bool obliqueCorrection);

    // Reads six numbers (comma separated, split over lines in any way, '#'/';' lines skipped).
    // True once six are read; on false the numbers already read stay in orientation6.
    static bool LoadImageOrientation(const std::string& fileName, float* orientation6);
};
