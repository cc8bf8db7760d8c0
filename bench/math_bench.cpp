// Speed of the numerical core on the sizes the programs use: one 3x3 eigen decomposition per
// tracking step or fitted voxel, the automatic threshold over a whole 16-bit volume, and the fit
// matrix pseudo-inverse.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "CMyMath.h"

namespace {

constexpr size_t kTensorCount = 4096;

// Positive definite tensors like those of brain tissue: eigenvalues around 1e-3 mm^2/s.
template <typename T>
std::vector<T> randomTensors() {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> diag(0.3e-3, 2.0e-3);
    std::uniform_real_distribution<double> off(-0.3e-3, 0.3e-3);
    std::vector<T> tensors(kTensorCount * 6);
    for (size_t i = 0; i < kTensorCount; ++i) {
        T* t = &tensors[i * 6];
        t[0] = static_cast<T>(diag(rng));
        t[1] = static_cast<T>(off(rng));
        t[2] = static_cast<T>(off(rng));
        t[3] = static_cast<T>(diag(rng));
        t[4] = static_cast<T>(off(rng));
        t[5] = static_cast<T>(diag(rng));
    }
    return tensors;
}

template <typename T>
void BM_ComputeEigens(benchmark::State& state) {
    const std::vector<T> tensors = randomTensors<T>();
    T w[3];
    T v[3][3];
    size_t i = 0;
    for (auto _ : state) {
        CMyMath::ComputeEigens(&tensors[i * 6], w, v);
        benchmark::DoNotOptimize(w);
        benchmark::DoNotOptimize(v);
        i = (i + 1) % kTensorCount;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_TEMPLATE(BM_ComputeEigens, float);
BENCHMARK_TEMPLATE(BM_ComputeEigens, double);

// A b0-like volume: dark noisy background, bright tissue, partial-volume values between.
std::vector<short> b0Volume(size_t n) {
    std::mt19937 rng(3);
    std::normal_distribution<double> background(30.0, 10.0);
    std::normal_distribution<double> tissue(900.0, 150.0);
    std::uniform_real_distribution<double> between(0.0, 1200.0);
    std::uniform_real_distribution<double> pick(0.0, 1.0);
    std::vector<short> data(n);
    for (short& x : data) {
        const double p = pick(rng);
        const double value = p < 0.55 ? background(rng) : p < 0.95 ? tissue(rng) : between(rng);
        x = static_cast<short>(std::clamp(value, 0.0, 32767.0));
    }
    return data;
}

void BM_GetAutoThresholdShort(benchmark::State& state) {
    const std::vector<short> data = b0Volume(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        double range[2];
        benchmark::DoNotOptimize(
            CMyMath::GetAutoThreshold(data.data(), static_cast<int64_t>(data.size()), 50, range));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GetAutoThresholdShort)->Arg(1 << 20)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_PseudoInverseFitMatrix(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0));
    const int n = 7;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> in(static_cast<size_t>(m) * n);
    std::vector<double> out(static_cast<size_t>(n) * m);
    std::vector<double*> inRows(m);
    std::vector<double*> outRows(n);
    for (int r = 0; r < m; ++r) {
        inRows[r] = &in[static_cast<size_t>(r) * n];
        for (int c = 0; c < n; ++c) {
            inRows[r][c] = c == 0 ? 1.0 : dist(rng);
        }
    }
    for (int r = 0; r < n; ++r) {
        outRows[r] = &out[static_cast<size_t>(r) * m];
    }
    for (auto _ : state) {
        CMyMath::PseudoInverse(outRows.data(), inRows.data(), m, n);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_PseudoInverseFitMatrix)->Arg(65)->Arg(300)->Unit(benchmark::kMicrosecond);

void BM_InvertMatrix3x3(benchmark::State& state) {
    const double in[3][3] = {{0.9, 0.1, -0.2}, {0.05, 1.1, 0.3}, {-0.1, 0.2, 0.95}};
    double out[3][3];
    for (auto _ : state) {
        benchmark::DoNotOptimize(CMyMath::InvertMatrix(out, in));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_InvertMatrix3x3);

}  // namespace

BENCHMARK_MAIN();
