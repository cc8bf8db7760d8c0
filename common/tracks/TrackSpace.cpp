#include "TrackSpace.h"

#include <cctype>
#include <cmath>

#include "NiftiIO.h"

namespace {

using Matrix = double[4][4];

void multiply(const Matrix a, const Matrix b, Matrix out) {
    Matrix result = {};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            for (int k = 0; k < 4; ++k) {
                result[r][c] += a[r][k] * b[k][c];
            }
        }
    }
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[r][c] = result[r][c];
        }
    }
}

// Inverse of an affine 4x4 (last row 0 0 0 1) through its 3x3 part; false when singular.
bool invertAffine(const Matrix m, Matrix out) {
    const double a = m[0][0], b = m[0][1], c = m[0][2];
    const double d = m[1][0], e = m[1][1], f = m[1][2];
    const double g = m[2][0], h = m[2][1], i = m[2][2];
    const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    if (!(std::fabs(det) > 1e-12) || !std::isfinite(det)) {
        return false;
    }
    const double inv[3][3] = {{(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det},
                              {(f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det},
                              {(d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det}};
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) {
            out[r][k] = inv[r][k];
        }
        out[r][3] = -(inv[r][0] * m[0][3] + inv[r][1] * m[1][3] + inv[r][2] * m[2][3]);
    }
    out[3][0] = out[3][1] = out[3][2] = 0.0;
    out[3][3] = 1.0;
    return true;
}

// World axis (0 x, 1 y, 2 z) and direction (+1 toward R, A, S) of a voxel order letter; false
// for any other letter.
bool letterAxis(char letter, int* axis, int* sign) {
    switch (std::toupper(static_cast<unsigned char>(letter))) {
        case 'R': *axis = 0; *sign = 1; return true;
        case 'L': *axis = 0; *sign = -1; return true;
        case 'A': *axis = 1; *sign = 1; return true;
        case 'P': *axis = 1; *sign = -1; return true;
        case 'S': *axis = 2; *sign = 1; return true;
        case 'I': *axis = 2; *sign = -1; return true;
        default: return false;
    }
}

// The permutation and flips that take the voxel order the header states to the one its matrix
// has, as index arithmetic on a continuous voxel index (a flip maps i to dim - 1 - i).
void reorientation(const TRACK_HEADER& header, const Matrix voxelToRas, Matrix out) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[r][c] = r == c ? 1.0 : 0.0;
        }
    }
    int stated[3][2];
    int used = 0;
    for (int a = 0; a < 3; ++a) {
        if (!letterAxis(header.voxel_order[a], &stated[a][0], &stated[a][1])) {
            return;  // no usable voxel order: the matrix alone says where the voxels are
        }
        used |= 1 << stated[a][0];
    }
    if (used != 7) {
        return;
    }
    // The matrix's own order, as the volume code names it.
    mat44 matrix{};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            matrix.m[r][c] = static_cast<float>(voxelToRas[r][c]);
        }
    }
    char letters[3];
    int own[3][2];
    if (!NiftiIO::VoxelOrderOf(matrix, letters)) {
        return;
    }
    for (int c = 0; c < 3; ++c) {
        letterAxis(letters[c], &own[c][0], &own[c][1]);
    }
    Matrix m = {};
    m[3][3] = 1.0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            if (own[j][0] != stated[i][0]) {
                continue;
            }
            const bool flip = own[j][1] != stated[i][1];
            m[j][i] = flip ? -1.0 : 1.0;
            m[j][3] = flip ? header.dim[i] - 1.0 : 0.0;
        }
    }
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[r][c] = m[r][c];
        }
    }
}

}  // namespace

TrackSpace::TrackSpace(const TRACK_HEADER& header) {
    Matrix voxelToRas = {};
    // A matrix whose last element is 0 is no matrix: older files carry none.
    const bool present = header.voxel_to_ras[3][3] != 0.0f;
    bool sizes = true;
    for (int a = 0; a < 3; ++a) {
        voxelSize_[a] = header.voxel_size[a];
        sizes = sizes && std::isfinite(voxelSize_[a]) && voxelSize_[a] > 0.0;
    }
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            voxelToRas[r][c] = present ? header.voxel_to_ras[r][c]
                                       : (r == c ? (r < 3 ? voxelSize_[r] : 1.0) : 0.0);
            voxelToRas_[r][c] = voxelToRas[r][c];
        }
    }
    if (!sizes) {
        return;
    }
    // voxel millimetres -> continuous voxel index in the header's stated order (centres at
    // whole numbers) -> the matrix's order -> RAS, as nibabel and DIPY read .trk files.
    Matrix toIndex = {};
    for (int a = 0; a < 3; ++a) {
        toIndex[a][a] = 1.0 / voxelSize_[a];
        toIndex[a][3] = -0.5;
    }
    toIndex[3][3] = 1.0;
    Matrix reorient;
    reorientation(header, voxelToRas, reorient);
    multiply(reorient, toIndex, toRas_);
    multiply(voxelToRas, toRas_, toRas_);
    usable_ = invertAffine(toRas_, fromRas_);
}
