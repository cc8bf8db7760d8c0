#pragma once
// Growing one fiber track from a seed through a field of diffusion tensors.
//
// Shared inputs, all owned by the caller and only read:
//   dims         int[3], dimx, dimy, dimz; N = dimx * dimy * dimz
//   voxelSize    float[3], millimetres
//   tensors      6 * N floats, voxel v = x + dimx * (y + dimy * z) at 6v .. 6v + 5 holding
//                (xx, xy, xz, yy, yz, zz)
//   mask         N values; a voxel is inside when its value is >= 1
//   angleWeights N floats or null; the angle threshold at voxel v becomes cos(w[v] * theta)
//   eigenIndex   0, 1 or 2: which eigenvector (by descending eigenvalue) is followed
//   eigenCache   null, or a vector kept by the caller for one run over one tensor field: each
//                voxel's eigen decomposition is then computed once and reused. Tracks are the
//                same with and without it. An empty vector is sized on first use; never share
//                one between different fields. Tracks grown on several threads at once share
//                one cache made by PrepareSharedEigenCache and filled by ShareEigenCache before
//                they start: they only read it.
//
// Points are in millimetres, voxel (i, j, k) spanning [i * sx, (i + 1) * sx) etc., three floats
// (x, y, z) per point.

#include <cstdint>
#include <vector>

class CTrack {
  public:
    // Method codes of GetTrack.
    static constexpr int kFACT = 0;
    static constexpr int kFixedStep = 1;
    static constexpr int kRungeKutta2 = 2;
    static constexpr int kTensorLine = 3;

    // A list stops growing once it holds more than this many points.
    static constexpr int kMaxPoints = 4000;
    static constexpr int kMaxPointsFixedStep = 5000;

    // A cache for tracks grown on several threads: sized for voxelCount voxels, marked as read
    // only (a voxel missing from it is decomposed each time it is met, without being stored).
    static void PrepareSharedEigenCache(int64_t voxelCount, std::vector<float>& cache);
    // Fills the shared cache for the voxels [begin, end) inside the mask (null: all of them);
    // ranges may be filled on different threads. The entries are exactly what the tracks would
    // compute.
    static void ShareEigenCache(const float* tensors, const short* mask, int64_t voxelCount,
                                int64_t begin, int64_t end, std::vector<float>& cache);

    CTrack() = default;
    virtual ~CTrack() = default;

    // Runs the method backward and then forward from the seed (millimetres) and joins the halves.
    // Returns 1 when the track has at least three points; points then holds them (3 floats each),
    // otherwise points is left empty. pointCount receives the point count either way. step is in
    // units of the smallest voxel size, angleDeg the largest turn between steps in degrees.
    static int GetTrack(const int* dims, const float* voxelSize, const float* tensors,
                        const short* mask, const float seed[3], int method, float step,
                        float angleDeg, const float* angleWeights, std::vector<float>& points,
                        int& pointCount, int eigenIndex, std::vector<float>* eigenCache = nullptr);
    // Same, seeded at the centre of a voxel.
    static int GetTrack(const int* dims, const float* voxelSize, const float* tensors,
                        const short* mask, const int voxel[3], int method, float step,
                        float angleDeg, const float* angleWeights, std::vector<float>& points,
                        int& pointCount, int eigenIndex, std::vector<float>* eigenCache = nullptr);

    // One direction each: backward != 0 puts the new points in front of those already in track
    // (nearest the seed last), otherwise they are appended. cosThreshold is the cosine of the
    // largest accepted turn.
    static void GetTrackFACT(const int* dims, const float* voxelSize, const float* tensors,
                             const short* mask, const float seed[3], float step, float cosThreshold,
                             const float* angleWeights, std::vector<float>& track, int backward,
                             int eigenIndex, std::vector<float>* eigenCache = nullptr);
    static void GetTrackRungeKutta2(const int* dims, const float* voxelSize, const float* tensors,
                                    const short* mask, const float seed[3], float step,
                                    float cosThreshold, const float* angleWeights,
                                    std::vector<float>& track, int backward, int eigenIndex,
                                    std::vector<float>* eigenCache = nullptr);
    // Follows a blend of the incoming direction, the tensor's deflection of it and the principal
    // eigenvector; eigenIndex is not used.
    static void GetTrackTensorLine(const int* dims, const float* voxelSize, const float* tensors,
                                   const short* mask, const float seed[3], float step,
                                   float cosThreshold, const float* angleWeights,
                                   std::vector<float>& track, int backward, int eigenIndex,
                                   std::vector<float>* eigenCache = nullptr);
    // Fixed steps through trilinearly interpolated tensors (no cache: every step interpolates).
    static void GetTrackFixedStep(const int* dims, const float* voxelSize, const float* tensors,
                                  const short* mask, const float seed[3], float step,
                                  float cosThreshold, const float* angleWeights,
                                  std::vector<float>& track, int backward, int eigenIndex);
    // Both halves of a fixed-step track (backward, then forward, as GetTrack joins them), with
    // the two halves' eigen decompositions done side by side; the points are exactly those of
    // the two one-direction calls.
    static void GetTrackFixedStepBothHalves(const int* dims, const float* voxelSize,
                                            const float* tensors, const short* mask,
                                            const float seed[3], float step, float cosThreshold,
                                            const float* angleWeights, std::vector<float>& track,
                                            int eigenIndex);

    // Eigen decomposition of the tensor interpolated trilinearly at a position in millimetres,
    // each voxel's tensor taken to sit at its lower corner. eigenvectors[a][j] is component a of
    // eigenvector j. False when the position is negative, not a number, or in the last voxel
    // layer along any axis.
    static bool InterpolateVoxel(const int* dims, const float* voxelSize, const float* tensors,
                                 const float position[3], float eigenvalues[3],
                                 float eigenvectors[3][3]);
};
