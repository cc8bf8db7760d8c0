#pragma once
// Where the points of a track file lie in the world. A .trk file stores points in voxel
// millimetres with the corner of the first voxel at 0 (voxel i spans [i s, (i + 1) s)); its
// voxel_to_ras maps voxel centres to RAS millimetres, and its voxel order says which way each
// voxel index runs. Where the two disagree (a volume without orientation whose .info file says
// LPS), the index is first turned to the matrix's order, as nibabel and DIPY read the file.
// Formats that store world points (.tck, TRX) convert through this.

#include "TRACK_HEADER.h"

class TrackSpace {
  public:
    explicit TrackSpace(const TRACK_HEADER& header);

    // False when the header's matrix and voxel sizes give no invertible mapping.
    bool Usable() const { return usable_; }
    // Inline: a conversion runs for every point of a file.
    void ToRas(const float voxmm[3], float ras[3]) const { Apply(toRas_, voxmm, ras); }
    void FromRas(const float ras[3], float voxmm[3]) const { Apply(fromRas_, ras, voxmm); }
    // The header's voxel_to_ras, or diag(voxel sizes) when the header carries none.
    const double (&VoxelToRas() const)[4][4] { return voxelToRas_; }

  private:
    static void Apply(const double (&m)[4][4], const float in[3], float out[3]) {
        for (int r = 0; r < 3; ++r) {
            out[r] = static_cast<float>(m[r][0] * in[0] + m[r][1] * in[1] + m[r][2] * in[2] +
                                        m[r][3]);
        }
    }

    double voxelToRas_[4][4] = {};
    double toRas_[4][4] = {};    // voxel millimetres to RAS
    double fromRas_[4][4] = {};
    double voxelSize_[3] = {1, 1, 1};
    bool usable_ = false;
};
