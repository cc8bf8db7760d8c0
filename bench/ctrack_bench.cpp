// Whole-volume tracking speed of CTrack: a 96 x 96 x 60 field of 2 mm voxels with straight and
// curved bundles in a weakly anisotropic, randomly oriented background, every voxel inside the
// brain mask seeded at its centre. Reports tracks and points per second for FACT (step 0.05),
// Runge-Kutta 2 and tensorline (step 0.05) and the fixed-step method (step 0.5), each with and
// without the per-run eigen cache. Rates are per CPU second, as the machine may be shared.
//
//   build-x/bench/ctrack_bench [--benchmark_filter=FACT]

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "CTrack.h"

namespace {

constexpr int kDimX = 96;
constexpr int kDimY = 96;
constexpr int kDimZ = 60;
constexpr double kPi = 3.14159265358979323846;

struct BenchField {
    int dims[3] = {kDimX, kDimY, kDimZ};
    float voxelSize[3] = {2.0f, 2.0f, 2.0f};
    std::vector<float> tensors;
    std::vector<short> mask;
};

void SetTensor(float* t, const double* d, double l0, double l1) {
    // Principal direction d with eigenvalue l0, the plane across it l1.
    const int rows[6] = {0, 0, 0, 1, 1, 2};
    const int cols[6] = {0, 1, 2, 1, 2, 2};
    for (int c = 0; c < 6; ++c) {
        const double identity = rows[c] == cols[c] ? 1.0 : 0.0;
        t[c] = static_cast<float>(l1 * identity + (l0 - l1) * d[rows[c]] * d[cols[c]]);
    }
}

const BenchField& Field() {
    static const BenchField field = [] {
        BenchField f;
        const size_t n = static_cast<size_t>(kDimX) * kDimY * kDimZ;
        f.tensors.resize(6 * n);
        f.mask.resize(n);
        std::mt19937 random(12345);
        std::normal_distribution<double> normal(0.0, 1.0);
        for (int z = 0; z < kDimZ; ++z) {
            for (int y = 0; y < kDimY; ++y) {
                for (int x = 0; x < kDimX; ++x) {
                    const size_t v = x + kDimX * (y + static_cast<size_t>(kDimY) * z);
                    const double px = x + 0.5;
                    const double py = y + 0.5;
                    const double pz = z + 0.5;
                    // Brain: an ellipsoid filling most of the volume.
                    const double ex = (px - 48.0) / 46.0;
                    const double ey = (py - 48.0) / 46.0;
                    const double ez = (pz - 30.0) / 28.0;
                    f.mask[v] = ex * ex + ey * ey + ez * ez <= 1.0 ? 1 : 0;

                    double d[3] = {normal(random), normal(random), normal(random)};
                    double l0 = 1.2e-3;
                    const double l1 = 0.9e-3;
                    // Arc bundle about (48, 40) in the xy plane, radius 28, slab z 20..40.
                    const double ax = px - 48.0;
                    const double ay = py - 40.0;
                    const double r = std::sqrt(ax * ax + ay * ay);
                    if (std::fabs(r - 28.0) < 7.0 && ay > -10.0 && pz > 20.0 && pz < 40.0) {
                        d[0] = -ay / r;
                        d[1] = ax / r;
                        d[2] = 0.0;
                        l0 = 1.7e-3;
                    } else if (std::hypot(py - 20.0, pz - 30.0) < 8.0) {  // along x
                        d[0] = 1.0;
                        d[1] = 0.0;
                        d[2] = 0.0;
                        l0 = 1.7e-3;
                    } else if (std::hypot(px - 48.0, py - 45.0) < 6.0) {  // along z, tilted
                        d[0] = std::sin(0.2);
                        d[1] = 0.0;
                        d[2] = std::cos(0.2);
                        l0 = 1.6e-3;
                    }
                    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                    for (double& c : d) {
                        c /= len;
                    }
                    SetTensor(&f.tensors[6 * v], d, l0, l1);
                }
            }
        }
        return f;
    }();
    return field;
}

void TrackWholeVolume(benchmark::State& state, int method, float step, bool useCache) {
    const BenchField& field = Field();
    std::vector<float> points;
    long long tracks = 0;
    long long pointTotal = 0;
    for (auto _ : state) {
        std::vector<float> cache;
        tracks = 0;
        pointTotal = 0;
        for (int z = 0; z < kDimZ; ++z) {
            for (int y = 0; y < kDimY; ++y) {
                for (int x = 0; x < kDimX; ++x) {
                    const int voxel[3] = {x, y, z};
                    if (field.mask[x + kDimX * (y + kDimY * z)] < 1) {
                        continue;
                    }
                    int count = 0;
                    if (CTrack::GetTrack(field.dims, field.voxelSize, field.tensors.data(),
                                         field.mask.data(), voxel, method, step, 45.0f, nullptr,
                                         points, count, 0, useCache ? &cache : nullptr)) {
                        ++tracks;
                        pointTotal += count;
                    }
                }
            }
        }
        benchmark::DoNotOptimize(points.data());
    }
    state.counters["tracks"] = static_cast<double>(tracks);
    state.counters["points"] = static_cast<double>(pointTotal);
    state.counters["tracks/s"] =
        benchmark::Counter(static_cast<double>(tracks), benchmark::Counter::kIsRate);
    state.counters["points/s"] =
        benchmark::Counter(static_cast<double>(pointTotal), benchmark::Counter::kIsRate);
}

void Register(const char* name, int method, float step, bool cache) {
    benchmark::RegisterBenchmark(
        name, [=](benchmark::State& state) { TrackWholeVolume(state, method, step, cache); })
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
}

}  // namespace

int main(int argc, char** argv) {
    Field();  // built before timing starts
    Register("FACT_step0.05", CTrack::kFACT, 0.05f, false);
    Register("FACT_step0.05_cache", CTrack::kFACT, 0.05f, true);
    Register("FixedStep_step0.5", CTrack::kFixedStep, 0.5f, false);
    Register("RungeKutta2_step0.05", CTrack::kRungeKutta2, 0.05f, false);
    Register("RungeKutta2_step0.05_cache", CTrack::kRungeKutta2, 0.05f, true);
    Register("TensorLine_step0.05", CTrack::kTensorLine, 0.05f, false);
    Register("TensorLine_step0.05_cache", CTrack::kTensorLine, 0.05f, true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
