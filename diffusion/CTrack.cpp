#include "CTrack.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "CMyMath.h"

namespace {

constexpr int kTrackMethodCount = 4;

// Truncation toward zero that stays defined for positions no int can hold (including NaN):
// those map to a value no voxel has, so they leave any voxel and fail every bounds test.
inline int TruncToVoxel(float x) {
    if (x > -2.0e9f && x < 2.0e9f) {
        return static_cast<int>(x);
    }
    return std::numeric_limits<int>::min();
}

// 64-bit so that voxels far outside the volume cannot wrap into range.
inline int64_t LinearIndex(const int* dims, const int* voxel) {
    return static_cast<int64_t>(voxel[0]) +
           static_cast<int64_t>(dims[0]) *
               (static_cast<int64_t>(voxel[1]) +
                static_cast<int64_t>(dims[1]) * static_cast<int64_t>(voxel[2]));
}

inline int64_t VoxelCount(const int* dims) {
    return static_cast<int64_t>(dims[0]) * dims[1] * dims[2];
}

inline void VoxelOf(const float* pos, int* voxel) {
    for (int a = 0; a < 3; ++a) {
        voxel[a] = TruncToVoxel(pos[a]);
    }
}

inline bool VoxelInVolume(const int* dims, const int* voxel) {
    return voxel[0] >= 0 && voxel[0] < dims[0] && voxel[1] >= 0 && voxel[1] < dims[1] &&
           voxel[2] >= 0 && voxel[2] < dims[2];
}

// Products of floats are exact in double, so the sum is the only rounding.
inline double Dot(const float* a, const float* b) {
    return static_cast<double>(a[0]) * b[0] + static_cast<double>(a[1]) * b[1] +
           static_cast<double>(a[2]) * b[2];
}

inline void Negate(float* d) {
    d[0] = -d[0];
    d[1] = -d[1];
    d[2] = -d[2];
}

inline void Normalise(float* d) {
    const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (length != 0.0f) {
        d[0] /= length;
        d[1] /= length;
        d[2] /= length;
    }
}

inline void Column(const float e[3][3], int j, float* d) {
    d[0] = e[0][j];
    d[1] = e[1][j];
    d[2] = e[2][j];
}

inline float SmallestVoxelSize(const float* voxelSize) {
    float m = voxelSize[0] < voxelSize[1] ? voxelSize[0] : voxelSize[1];
    if (voxelSize[2] < m) {
        m = voxelSize[2];
    }
    return m;
}

// The float rounding of unit vectors puts the cosine of a straight continuation slightly below 1,
// which a threshold of exactly 1 (angle 0 or weight 0) would otherwise reject.
constexpr double kAngleTolerance = 1e-6;

inline bool TurnAccepted(double cosine, float cosThreshold, const float* angleWeights, int64_t idx,
                         double theta) {
    const double threshold =
        angleWeights ? std::cos(angleWeights[idx] * theta) : static_cast<double>(cosThreshold);
    return cosine >= threshold - kAngleTolerance;
}

constexpr int kCacheStride = 12;

// A cache entry not filled yet starts with this NaN, whose payload no decomposition produces,
// so that a voxel whose eigenvalues really are NaN is cached like any other.
constexpr uint32_t kUnfilledBits = 0x7fc0deadU;

float UnfilledMarker() {
    float marker = 0.0f;
    std::memcpy(&marker, &kUnfilledBits, sizeof marker);
    return marker;
}

bool IsUnfilled(const float* entry) {
    uint32_t bits = 0;
    std::memcpy(&bits, entry, sizeof bits);
    return bits == kUnfilledBits;
}

size_t CacheSize(int64_t voxelCount) {
    return static_cast<size_t>(voxelCount) * kCacheStride;
}

// A cache one element longer than its entries is shared: it is only read, and a voxel missing
// from it is decomposed without being stored.
bool IsShared(const std::vector<float>& cache, int64_t voxelCount) {
    return cache.size() == CacheSize(voxelCount) + 1;
}

void StoreEntry(float* entry, const float* w, const float e[3][3]) {
    for (int a = 0; a < 3; ++a) {
        entry[a] = w[a];
        for (int j = 0; j < 3; ++j) {
            entry[3 + 3 * a + j] = e[a][j];
        }
    }
}

void Decompose(const float* tensors, int64_t idx, std::vector<float>* cache, int64_t voxelCount,
               float* w, float e[3][3]) {
    if (!cache) {
        CMyMath::ComputeEigens(tensors + 6 * idx, w, e);
        return;
    }
    const bool shared = IsShared(*cache, voxelCount);
    if (!shared && cache->size() != CacheSize(voxelCount)) {
        cache->assign(CacheSize(voxelCount), UnfilledMarker());
    }
    float* entry = cache->data() + kCacheStride * idx;
    if (IsUnfilled(entry)) {
        CMyMath::ComputeEigens(tensors + 6 * idx, w, e);
        if (!shared) {
            StoreEntry(entry, w, e);
        }
        return;
    }
    for (int a = 0; a < 3; ++a) {
        w[a] = entry[a];
        for (int j = 0; j < 3; ++j) {
            e[a][j] = entry[3 + 3 * a + j];
        }
    }
}

// The float interval [low, high) of the coordinates that truncate toward zero to v: [v, v + 1)
// above zero, (-1, 1) at zero, (v - 1, v] below. Comparing against it costs far less in the
// march than truncating every sub-step, and NaN lies in no interval.
inline void VoxelInterval(int v, float& low, float& high) {
    const float inf = std::numeric_limits<float>::infinity();
    if (v > 0) {
        low = static_cast<float>(v);
        high = static_cast<float>(v) + 1.0f;
    } else if (v == 0) {
        low = std::nextafter(-1.0f, 0.0f);
        high = 1.0f;
    } else {
        low = std::nextafter(static_cast<float>(v) - 1.0f, inf);
        high = std::nextafter(static_cast<float>(v), inf);
    }
}

// Steps pos along d until its voxel is no longer `voxel`. False when the march cannot get there:
// every coordinate stays the same (a zero step, or one too small to change the float position).
// A non-finite position counts as having left, and the caller's bounds tests end the half.
bool MarchOutOfVoxel(float* pos, const float* d, const float* subStep, const int* voxel) {
    float low[3];
    float high[3];
    for (int a = 0; a < 3; ++a) {
        VoxelInterval(voxel[a], low[a], high[a]);
    }
    const float increment[3] = {d[0] * subStep[0], d[1] * subStep[1], d[2] * subStep[2]};
    float x = pos[0];
    float y = pos[1];
    float z = pos[2];
    bool moved = true;
    do {
        const float nx = x + increment[0];
        const float ny = y + increment[1];
        const float nz = z + increment[2];
        moved = nx != x || ny != y || nz != z;
        x = nx;
        y = ny;
        z = nz;
    } while (moved && x >= low[0] && x < high[0] && y >= low[1] && y < high[1] && z >= low[2] &&
             z < high[2]);
    pos[0] = x;
    pos[1] = y;
    pos[2] = z;
    return moved;
}

// Where one half puts its points. The forward half appends to the track. The backward half
// gathers its points in walk order and puts them, reversed, in front of the track once at the
// end: the same list as inserting each point at the front, without moving the list every time.
struct HalfSink {
    std::vector<float>& track;
    bool backward;
    std::vector<float> gathered;
    size_t pointsBefore;

    HalfSink(std::vector<float>& t, int backwardFlag)
        : track(t), backward(backwardFlag != 0), pointsBefore(t.size() / 3) {}

    void Store(float x, float y, float z) {
        std::vector<float>& out = backward ? gathered : track;
        out.push_back(x);
        out.push_back(y);
        out.push_back(z);
    }

    size_t PointCount() const {
        return backward ? pointsBefore + gathered.size() / 3 : track.size() / 3;
    }

    void Finish() {
        if (!backward || gathered.empty()) {
            return;
        }
        const size_t kept = track.size();
        track.resize(kept + gathered.size());
        // Shift what the list held behind the new points, then lay them in reverse point order.
        std::copy_backward(track.begin(), track.begin() + kept, track.end());
        auto out = track.begin();
        for (size_t p = gathered.size(); p >= 3; p -= 3) {
            out = std::copy(gathered.begin() + (p - 3), gathered.begin() + p, out);
        }
    }
};

// One Runge-Kutta evaluation: eigenvector `column`, turned to agree with `reference`, followed
// from position out of voxel. False when the march cannot leave the voxel.
bool MarchAlong(const float e[3][3], int column, const float* reference, const float* subStep,
                const int* voxel, float* direction, float* position) {
    Column(e, column, direction);
    if (Dot(direction, reference) < 0.0) {
        Negate(direction);
    }
    return MarchOutOfVoxel(position, direction, subStep, voxel);
}

// Geometry shared by FACT, Runge-Kutta 2 and tensorline: the position in voxel coordinates.
struct VoxelWalk {
    float pos[3];
    int voxel[3];
    float subStep[3];
    int64_t idx;

    VoxelWalk(const float* voxelSize, const float* seed, float step, const int* dims) {
        const float m = SmallestVoxelSize(voxelSize);
        for (int a = 0; a < 3; ++a) {
            pos[a] = seed[a] / voxelSize[a];
            voxel[a] = TruncToVoxel(pos[a]);
            subStep[a] = step * m / voxelSize[a];
        }
        idx = LinearIndex(dims, voxel);
    }

    void SetVoxelFromPosition(const int* dims) {
        VoxelOf(pos, voxel);
        idx = LinearIndex(dims, voxel);
    }

    // The stop tests at the top of every iteration.
    bool CanContinue(const int* dims, const short* mask, int64_t voxelCount) const {
        if (idx < 0 || idx >= voxelCount || mask[idx] < 1) {
            return false;
        }
        for (int a = 0; a < 3; ++a) {
            if (!(pos[a] >= 0.0f) || !(pos[a] < static_cast<float>(dims[a]))) {
                return false;
            }
        }
        return true;
    }
};

// One half of a FACT, tensorline or Runge-Kutta 2 track: the walk, where its points go, the
// decomposition of the voxel it is in and the direction it goes, with the steps all three
// methods share.
struct VoxelHalf {
    const int* dims;
    const float* voxelSize;
    const float* tensors;
    std::vector<float>* eigenCache;
    int64_t voxelCount;
    float cosThreshold;
    const float* angleWeights;
    double theta;
    bool backward;
    VoxelWalk walk;
    HalfSink sink;
    float w[3] = {0.0f, 0.0f, 0.0f};
    float e[3][3] = {};
    float d[3] = {0.0f, 0.0f, 0.0f};
    float previous[3] = {0.0f, 0.0f, 0.0f};

    VoxelHalf(const int* dimensions, const float* size, const float* field, const float* seed,
              float step, float threshold, const float* weights, std::vector<float>& track,
              int backwardFlag, std::vector<float>* cache)
        : dims(dimensions),
          voxelSize(size),
          tensors(field),
          eigenCache(cache),
          voxelCount(VoxelCount(dimensions)),
          cosThreshold(threshold),
          angleWeights(weights),
          theta(std::acos(static_cast<double>(threshold))),
          backward(backwardFlag != 0),
          walk(size, seed, step, dimensions),
          sink(track, backwardFlag) {
        DecomposeHere();
    }

    // The eigen system of the voxel the walk is in; kept as it was outside the volume.
    void DecomposeHere() {
        if (walk.idx >= 0 && walk.idx < voxelCount) {
            Decompose(tensors, walk.idx, eigenCache, voxelCount, w, e);
        }
    }

    // The first direction: the followed eigenvector at the seed, reversed for the backward half.
    void StartDirection(int column) {
        Column(e, column, d);
        if (backward) {
            Negate(d);
        }
        KeepDirection();
    }

    void KeepDirection() {
        previous[0] = d[0];
        previous[1] = d[1];
        previous[2] = d[2];
    }

    // Turns the direction forward, applies the angle limit and stores the point (the seed only
    // once, by the forward half). False when the half ends here.
    bool TurnAndStore(bool first) {
        double cosine = Dot(d, previous);
        if (cosine < 0.0) {
            Negate(d);
            cosine = -cosine;
        }
        if (!TurnAccepted(cosine, cosThreshold, angleWeights, walk.idx, theta)) {
            return false;
        }
        if (!(first && backward)) {
            sink.Store(walk.pos[0] * voxelSize[0], walk.pos[1] * voxelSize[1],
                       walk.pos[2] * voxelSize[2]);
        }
        return sink.PointCount() <= static_cast<size_t>(CTrack::kMaxPoints);
    }
};

enum class VoxelMethod { kFACT, kTensorLine };

// FACT and tensorline: both follow a direction that is constant within a voxel.
void MarchTrack(VoxelMethod method, const int* dims, const float* voxelSize, const float* tensors,
                const short* mask, const float* seed, float step, float cosThreshold,
                const float* angleWeights, std::vector<float>& track, int backward, int eigenIndex,
                std::vector<float>* eigenCache) {
    VoxelHalf half(dims, voxelSize, tensors, seed, step, cosThreshold, angleWeights, track,
                   backward, eigenCache);
    const float(&w)[3] = half.w;
    const float(&e)[3][3] = half.e;
    float(&d)[3] = half.d;
    const float(&previous)[3] = half.previous;
    const int followed = method == VoxelMethod::kTensorLine ? 0 : eigenIndex;

    for (bool first = true;; first = false) {
        if (!half.walk.CanContinue(dims, mask, half.voxelCount)) {
            break;
        }
        if (first) {
            half.StartDirection(followed);
        } else if (method == VoxelMethod::kFACT) {
            Column(e, eigenIndex, d);
        } else {
            // Tensorline: the incoming direction, deflected by the tensor, pulled toward e0.
            float t[3];
            for (int j = 0; j < 3; ++j) {
                t[j] = e[0][j] * previous[0] + e[1][j] * previous[1] + e[2][j] * previous[2];
            }
            float deflected[3];
            for (int a = 0; a < 3; ++a) {
                deflected[a] =
                    w[0] * t[0] * e[a][0] + w[1] * t[1] * e[a][1] + w[2] * t[2] * e[a][2];
            }
            Normalise(deflected);
            if (Dot(deflected, previous) < 0.0) {
                Negate(deflected);
            }
            for (int a = 0; a < 3; ++a) {
                deflected[a] = 0.5f * previous[a] + 0.5f * deflected[a];
            }
            Normalise(deflected);
            float e0[3];
            Column(e, 0, e0);
            if (Dot(deflected, e0) < 0.0) {
                Negate(deflected);
            }
            for (int a = 0; a < 3; ++a) {
                d[a] = 0.5f * e0[a] + 0.5f * deflected[a];
            }
            Normalise(d);
        }
        if (!half.TurnAndStore(first)) {
            break;
        }
        if (!MarchOutOfVoxel(half.walk.pos, d, half.walk.subStep, half.walk.voxel)) {
            break;
        }
        half.KeepDirection();
        half.walk.SetVoxelFromPosition(dims);
        half.DecomposeHere();
    }
    half.sink.Finish();
}

// Trilinear interpolation of the six tensor values at a position in millimetres; false in the
// last voxel layer along any axis and below zero.
bool InterpolateTensor(const int* dims, const float* voxelSize, const float* tensors,
                       const float position[3], float tensor[6]) {
    int g[3];
    float f[3];
    for (int a = 0; a < 3; ++a) {
        // Below zero the weights would extrapolate from the first layer.
        if (!(position[a] >= 0.0f)) {
            return false;
        }
        g[a] = TruncToVoxel(position[a] / voxelSize[a]);
        if (g[a] < 0 || g[a] + 1 >= dims[a]) {
            return false;
        }
    }
    for (int a = 0; a < 3; ++a) {
        f[a] = (position[a] - g[a] * voxelSize[a]) / voxelSize[a];
    }
    // Corners visited x fastest, then y, then z; each weight a product of three axis factors.
    const float below[3] = {1.0f - f[0], 1.0f - f[1], 1.0f - f[2]};
    const int64_t rowStride = dims[0];
    const int64_t sliceStride = static_cast<int64_t>(dims[0]) * dims[1];
    const float* const base = tensors + 6 * LinearIndex(dims, g);
    std::fill(tensor, tensor + 6, 0.0f);
    for (int l = 0; l < 2; ++l) {
        for (int j = 0; j < 2; ++j) {
            for (int i = 0; i < 2; ++i) {
                const float weight =
                    (i ? f[0] : below[0]) * (j ? f[1] : below[1]) * (l ? f[2] : below[2]);
                const float* source = base + 6 * (i + j * rowStride + l * sliceStride);
                for (int c = 0; c < 6; ++c) {
                    tensor[c] += weight * source[c];
                }
            }
        }
    }
    return true;
}

// One half of a fixed-step streamline, taken one step at a time: Interpolate gives the tensor at
// the current position, Step takes its decomposition and moves on. Splitting the step lets the
// two halves of a track have their decompositions done side by side.
class FixedStepWalk {
  public:
    FixedStepWalk(const int* dims, const float* voxelSize, const float* tensors, const short* mask,
                  const float seed[3], float step, float cosThreshold, const float* angleWeights,
                  std::vector<float>& track, int backward, int eigenIndex)
        : dims_(dims),
          voxelSize_(voxelSize),
          tensors_(tensors),
          mask_(mask),
          angleWeights_(angleWeights),
          cosThreshold_(cosThreshold),
          theta_(std::acos(static_cast<double>(cosThreshold))),
          advance_(step * SmallestVoxelSize(voxelSize)),
          eigenIndex_(eigenIndex),
          backward_(backward != 0),
          voxelCount_(VoxelCount(dims)),
          sink_(track, backward) {
        for (int a = 0; a < 3; ++a) {
            pos_[a] = seed[a];
            voxel_[a] = TruncToVoxel(pos_[a] / voxelSize[a]);
        }
        idx_ = LinearIndex(dims, voxel_);
    }

    // The stop tests at the top of a step, then the tensor there; false when the half ends.
    bool Interpolate(float tensor[6]) const {
        if (idx_ < 0 || idx_ >= voxelCount_ || mask_[idx_] < 1 || !VoxelInVolume(dims_, voxel_)) {
            return false;
        }
        // Truncation puts (-1 voxel, 0) in voxel 0; such a position lies outside the volume.
        if (!(pos_[0] >= 0.0f) || !(pos_[1] >= 0.0f) || !(pos_[2] >= 0.0f)) {
            return false;
        }
        return InterpolateTensor(dims_, voxelSize_, tensors_, pos_, tensor);
    }

    // The rest of the step with the decomposition of that tensor; false when the half ends.
    bool Step(const float w[3], const float e[3][3]) {
        (void)w;
        float d[3];
        Column(e, eigenIndex_, d);
        if (first_) {
            if (backward_) {
                Negate(d);
            } else {
                sink_.Store(pos_[0], pos_[1], pos_[2]);
            }
        } else {
            double cosine = Dot(d, previous_);
            if (cosine < 0.0) {
                Negate(d);
                cosine = -cosine;
            }
            if (!TurnAccepted(cosine, cosThreshold_, angleWeights_, idx_, theta_)) {
                return false;
            }
            sink_.Store(pos_[0], pos_[1], pos_[2]);
        }
        first_ = false;
        if (PointCount() + OtherPoints() > static_cast<size_t>(CTrack::kMaxPointsFixedStep)) {
            return false;
        }
        for (int a = 0; a < 3; ++a) {
            pos_[a] += advance_ * d[a];
            voxel_[a] = TruncToVoxel(pos_[a] / voxelSize_[a]);
        }
        idx_ = LinearIndex(dims_, voxel_);
        std::copy(d, d + 3, previous_);
        return true;
    }

    // Points the list will hold from this half and what it held before.
    size_t PointCount() const { return sink_.PointCount(); }
    size_t StoredPoints() const { return PointCount() - sink_.pointsBefore; }

    // While the backward half of the same track still runs, its points count toward this
    // half's limit as they come.
    void CountAlso(const FixedStepWalk* backwardHalf) { other_ = backwardHalf; }

    // Once the backward half is complete with `backwardPoints` points: cuts this (forward) half
    // back to where the limit would have stopped it after that half. False when it is complete.
    bool LimitAfterBackwardHalf(size_t backwardPoints) {
        otherFixed_ = backwardPoints;
        const size_t limit = static_cast<size_t>(CTrack::kMaxPointsFixedStep);
        const size_t before = sink_.pointsBefore;
        // The first stored point that takes the list past the limit is the last one kept.
        const size_t allowed =
            before + backwardPoints >= limit ? 1 : limit + 1 - before - backwardPoints;
        if (StoredPoints() >= allowed) {
            sink_.track.resize(3 * (before + allowed));
            return false;
        }
        return true;
    }

    void Finish() { sink_.Finish(); }

  private:
    size_t OtherPoints() const { return other_ != nullptr ? other_->StoredPoints() : otherFixed_; }

    const int* dims_;
    const float* voxelSize_;
    const float* tensors_;
    const short* mask_;
    const float* angleWeights_;
    float cosThreshold_;
    double theta_;
    float advance_;
    int eigenIndex_;
    bool backward_;
    int64_t voxelCount_;
    HalfSink sink_;
    float pos_[3];
    int voxel_[3];
    int64_t idx_ = 0;
    float previous_[3] = {0.0f, 0.0f, 0.0f};
    bool first_ = true;
    const FixedStepWalk* other_ = nullptr;
    size_t otherFixed_ = 0;
};

}  // namespace

int CTrack::GetTrack(const int* dims, const float* voxelSize, const float* tensors,
                     const short* mask, const float seed[3], int method, float step, float angleDeg,
                     const float* angleWeights, std::vector<float>& points, int& pointCount,
                     int eigenIndex, std::vector<float>* eigenCache) {
    const float cosThreshold = static_cast<float>(std::cos(angleDeg * 3.1415926535 / 180.0));
    points.clear();
    if (method == kFixedStep) {
        GetTrackFixedStepBothHalves(dims, voxelSize, tensors, mask, seed, step, cosThreshold,
                                    angleWeights, points, eigenIndex);
    } else if (method >= 0 && method < kTrackMethodCount) {
        for (int backward = 1; backward >= 0; --backward) {
            switch (method) {
                case kFACT:
                    GetTrackFACT(dims, voxelSize, tensors, mask, seed, step, cosThreshold,
                                 angleWeights, points, backward, eigenIndex, eigenCache);
                    break;
                case kRungeKutta2:
                    GetTrackRungeKutta2(dims, voxelSize, tensors, mask, seed, step, cosThreshold,
                                        angleWeights, points, backward, eigenIndex, eigenCache);
                    break;
                default:
                    GetTrackTensorLine(dims, voxelSize, tensors, mask, seed, step, cosThreshold,
                                       angleWeights, points, backward, eigenIndex, eigenCache);
                    break;
            }
        }
    }
    const size_t n = points.size() / 3;
    pointCount = static_cast<int>(n);
    if (n < 3) {
        points.clear();
        return 0;
    }
    return 1;
}

int CTrack::GetTrack(const int* dims, const float* voxelSize, const float* tensors,
                     const short* mask, const int voxel[3], int method, float step, float angleDeg,
                     const float* angleWeights, std::vector<float>& points, int& pointCount,
                     int eigenIndex, std::vector<float>* eigenCache) {
    float seed[3];
    for (int a = 0; a < 3; ++a) {
        seed[a] = static_cast<float>((voxel[a] + 0.5) * voxelSize[a]);
    }
    return GetTrack(dims, voxelSize, tensors, mask, seed, method, step, angleDeg, angleWeights,
                    points, pointCount, eigenIndex, eigenCache);
}

void CTrack::GetTrackFACT(const int* dims, const float* voxelSize, const float* tensors,
                          const short* mask, const float seed[3], float step, float cosThreshold,
                          const float* angleWeights, std::vector<float>& track, int backward,
                          int eigenIndex, std::vector<float>* eigenCache) {
    MarchTrack(VoxelMethod::kFACT, dims, voxelSize, tensors, mask, seed, step, cosThreshold,
               angleWeights, track, backward, eigenIndex, eigenCache);
}

void CTrack::GetTrackTensorLine(const int* dims, const float* voxelSize, const float* tensors,
                                const short* mask, const float seed[3], float step,
                                float cosThreshold, const float* angleWeights,
                                std::vector<float>& track, int backward, int eigenIndex,
                                std::vector<float>* eigenCache) {
    MarchTrack(VoxelMethod::kTensorLine, dims, voxelSize, tensors, mask, seed, step, cosThreshold,
               angleWeights, track, backward, eigenIndex, eigenCache);
}

void CTrack::GetTrackRungeKutta2(const int* dims, const float* voxelSize, const float* tensors,
                                 const short* mask, const float seed[3], float step,
                                 float cosThreshold, const float* angleWeights,
                                 std::vector<float>& track, int backward, int eigenIndex,
                                 std::vector<float>* eigenCache) {
    VoxelHalf half(dims, voxelSize, tensors, seed, step, cosThreshold, angleWeights, track,
                   backward, eigenCache);
    float(&w)[3] = half.w;
    float(&e)[3][3] = half.e;
    float(&d)[3] = half.d;
    const float(&previous)[3] = half.previous;
    VoxelWalk& walk = half.walk;
    const int64_t voxelCount = half.voxelCount;

    for (bool first = true;; first = false) {
        if (!walk.CanContinue(dims, mask, voxelCount)) {
            break;
        }
        if (first) {
            half.StartDirection(eigenIndex);
        }
        if (!half.TurnAndStore(first)) {
            break;
        }

        half.KeepDirection();
        float d1[3];
        float p1[3] = {walk.pos[0], walk.pos[1], walk.pos[2]};
        if (!MarchAlong(e, eigenIndex, previous, walk.subStep, walk.voxel, d1, p1)) {
            break;
        }
        int voxel1[3];
        VoxelOf(p1, voxel1);
        // Checked per axis: a march leaving through an x or y face must not wrap into the
        // neighbouring row or slice.
        if (!VoxelInVolume(dims, voxel1)) {
            break;
        }
        Decompose(tensors, LinearIndex(dims, voxel1), eigenCache, voxelCount, w, e);
        float d2[3];
        float p2[3] = {p1[0], p1[1], p1[2]};
        if (!MarchAlong(e, eigenIndex, d1, walk.subStep, voxel1, d2, p2)) {
            break;
        }
        float next[3];
        for (int a = 0; a < 3; ++a) {
            next[a] = (0.5f * (p1[a] - walk.pos[a]) + 0.5f * (p2[a] - p1[a])) + walk.pos[a];
        }
        // Points back along the step; the sign rule of the next iteration turns it forward.
        for (int a = 0; a < 3; ++a) {
            d[a] = walk.pos[a] * voxelSize[a] - next[a] * voxelSize[a];
        }
        Normalise(d);
        walk.pos[0] = next[0];
        walk.pos[1] = next[1];
        walk.pos[2] = next[2];
        walk.SetVoxelFromPosition(dims);
        half.DecomposeHere();
    }
    half.sink.Finish();
}

void CTrack::GetTrackFixedStep(const int* dims, const float* voxelSize, const float* tensors,
                               const short* mask, const float seed[3], float step,
                               float cosThreshold, const float* angleWeights,
                               std::vector<float>& track, int backward, int eigenIndex) {
    FixedStepWalk walk(dims, voxelSize, tensors, mask, seed, step, cosThreshold, angleWeights,
                       track, backward, eigenIndex);
    float tensor[6];
    float w[3];
    float e[3][3];
    while (walk.Interpolate(tensor)) {
        CMyMath::ComputeEigens(tensor, w, e);
        if (!walk.Step(w, e)) {
            break;
        }
    }
    walk.Finish();
}

void CTrack::GetTrackFixedStepBothHalves(const int* dims, const float* voxelSize,
                                         const float* tensors, const short* mask,
                                         const float seed[3], float step, float cosThreshold,
                                         const float* angleWeights, std::vector<float>& track,
                                         int eigenIndex) {
    FixedStepWalk backward(dims, voxelSize, tensors, mask, seed, step, cosThreshold, angleWeights,
                           track, 1, eigenIndex);
    FixedStepWalk forward(dims, voxelSize, tensors, mask, seed, step, cosThreshold, angleWeights,
                          track, 0, eigenIndex);
    // The forward half's point limit counts the backward half's points too; while both run, it
    // counts those stored so far, so it stops no earlier than it would after the whole backward
    // half, and is cut back to its proper length below.
    forward.CountAlso(&backward);
    float tensorB[6], tensorF[6];
    float wB[3], wF[3];
    float eB[3][3], eF[3][3];
    bool backwardOn = backward.Interpolate(tensorB);
    bool forwardOn = forward.Interpolate(tensorF);
    while (backwardOn && forwardOn) {
        CMyMath::ComputeEigensPair(tensorB, wB, eB, tensorF, wF, eF);
        backwardOn = backward.Step(wB, eB) && backward.Interpolate(tensorB);
        forwardOn = forward.Step(wF, eF) && forward.Interpolate(tensorF);
    }
    while (backwardOn) {
        CMyMath::ComputeEigens(tensorB, wB, eB);
        backwardOn = backward.Step(wB, eB) && backward.Interpolate(tensorB);
    }
    forward.CountAlso(nullptr);
    forwardOn = forward.LimitAfterBackwardHalf(backward.StoredPoints()) && forwardOn;
    while (forwardOn) {
        CMyMath::ComputeEigens(tensorF, wF, eF);
        forwardOn = forward.Step(wF, eF) && forward.Interpolate(tensorF);
    }
    backward.Finish();
    forward.Finish();
}

bool CTrack::InterpolateVoxel(const int* dims, const float* voxelSize, const float* tensors,
                              const float position[3], float eigenvalues[3],
                              float eigenvectors[3][3]) {
    float tensor[6];
    if (!InterpolateTensor(dims, voxelSize, tensors, position, tensor)) {
        return false;
    }
    CMyMath::ComputeEigens(tensor, eigenvalues, eigenvectors);
    return true;
}

void CTrack::ShareEigenCache(const float* tensors, const short* mask, int64_t voxelCount,
                             int64_t begin, int64_t end, std::vector<float>& cache) {
    if (cache.size() != CacheSize(voxelCount) + 1) {
        return;
    }
    for (int64_t idx = begin; idx < end && idx < voxelCount; ++idx) {
        if (mask != nullptr && mask[idx] < 1) {
            continue;
        }
        float w[3];
        float e[3][3];
        CMyMath::ComputeEigens(tensors + 6 * idx, w, e);
        StoreEntry(cache.data() + kCacheStride * idx, w, e);
    }
}

void CTrack::PrepareSharedEigenCache(int64_t voxelCount, std::vector<float>& cache) {
    cache.assign(CacheSize(voxelCount) + 1, UnfilledMarker());
}
