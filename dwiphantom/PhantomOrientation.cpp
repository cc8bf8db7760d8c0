#include "PhantomOrientation.h"

#include <cmath>

#include "ImageOrientation.h"
#include "NiftiIO.h"

namespace {

using Matrix3 = std::array<std::array<double, 3>, 3>;

Matrix3 product(const Matrix3& a, const Matrix3& b) {
    Matrix3 out{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            out[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
        }
    }
    return out;
}

void setReason(std::string* reason, const std::string& text) {
    if (reason != nullptr) {
        *reason = text;
    }
}

}  // namespace

std::optional<mat44> PhantomOrientation::VoxelToWorld(bool las, bool oblique,
                                                      const std::array<int, 3>& dims,
                                                      double voxelSize) {
    if (!las && !oblique) {
        return std::nullopt;
    }
    return DeclaredVoxelToWorld(las, oblique, dims, voxelSize);
}

mat44 PhantomOrientation::DeclaredVoxelToWorld(bool las, bool oblique,
                                               const std::array<int, 3>& dims, double voxelSize) {
    Matrix3 axes{};
    for (int a = 0; a < 3; ++a) {
        axes[a][a] = voxelSize;
    }
    if (las) {
        axes[0][0] = -voxelSize;
    }
    if (oblique) {
        const double x = kObliqueAboutXDegrees * M_PI / 180.0;
        const double z = kObliqueAboutZDegrees * M_PI / 180.0;
        const Matrix3 aboutX = {{{1.0, 0.0, 0.0},
                                 {0.0, std::cos(x), -std::sin(x)},
                                 {0.0, std::sin(x), std::cos(x)}}};
        const Matrix3 aboutZ = {{{std::cos(z), -std::sin(z), 0.0},
                                 {std::sin(z), std::cos(z), 0.0},
                                 {0.0, 0.0, 1.0}}};
        axes = product(aboutZ, product(aboutX, axes));
    }
    mat44 matrix{};
    for (int r = 0; r < 3; ++r) {
        double offset = 0.0;
        for (int c = 0; c < 3; ++c) {
            matrix.m[r][c] = static_cast<float>(axes[r][c]);
            offset -= axes[r][c] * 0.5 * (dims[c] - 1);
        }
        matrix.m[r][3] = static_cast<float>(offset);
    }
    matrix.m[3][3] = 1.0f;
    return matrix;
}

void PhantomOrientation::Declare(const mat44& voxelToWorld, nifti_1_header* header) {
    header->sform_code = NIFTI_XFORM_SCANNER_ANAT;
    header->qform_code = NIFTI_XFORM_SCANNER_ANAT;
    for (int c = 0; c < 4; ++c) {
        header->srow_x[c] = voxelToWorld.m[0][c];
        header->srow_y[c] = voxelToWorld.m[1][c];
        header->srow_z[c] = voxelToWorld.m[2][c];
    }
    float dx = 0.0f;
    float dy = 0.0f;
    float dz = 0.0f;
    float qfac = 0.0f;
    nifti_mat44_to_quatern(voxelToWorld, &header->quatern_b, &header->quatern_c,
                           &header->quatern_d, &header->qoffset_x, &header->qoffset_y,
                           &header->qoffset_z, &dx, &dy, &dz, &qfac);
    header->pixdim[0] = qfac;
    header->pixdim[1] = dx;
    header->pixdim[2] = dy;
    header->pixdim[3] = dz;
}

bool PhantomOrientation::ReadGradientFrame(const std::string& niftiPath, GradientFrame* frame,
                                           std::string* reason) {
    nifti_1_header header{};
    if (!NiftiIO::ReadHeader(niftiPath, header, nullptr, nullptr, reason)) {
        return false;
    }
    GradientFrame read;
    // The rule the readers of these files apply: the sform, else the qform; none counts as a
    // positive determinant.
    read.negatesBvecX = NiftiIO::VoxelToWorldHandedness(header) >= 0;

    // tenscalc takes the orientation from the quaternion form whenever there is one, and without
    // oblique correction snaps each axis to the nearest patient axis.
    if (header.qform_code > 0) {
        float vectors[6];
        int sliceDirection = 0;
        if (!NiftiIO::GetOrientationInfo(niftiPath, vectors, &sliceDirection)) {
            setReason(reason, niftiPath + ": no orientation in its quaternion form");
            return false;
        }
        if (!ImageOrientation::GetImageOrientationTransformationMatrix(vectors, read.tableToVoxel,
                                                                       false)) {
            setReason(reason, niftiPath + ": its orientation is degenerate");
            return false;
        }
        read.fromHeader = true;
    }
    *frame = read;
    setReason(reason, "");
    return true;
}
