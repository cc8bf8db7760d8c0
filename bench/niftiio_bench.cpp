// Figures for volume file access: whole-file conversion against single-volume reads of a 4D
// series, masks, and writing plain and compressed volumes. Files live in a temporary folder.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "NiftiIO.h"

namespace {

constexpr int kX = 128, kY = 128, kZ = 60, kT = 8;
constexpr size_t kVolume = static_cast<size_t>(kX) * kY * kZ;

class Folder {
  public:
    Folder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "niftibench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

nifti_1_header seriesHeader(int kind, int t) {
    nifti_1_header hdr{};
    NiftiIO::InitializeNiftiHeader(hdr, kind);
    hdr.dim[0] = t > 1 ? 4 : 3;
    hdr.dim[1] = kX;
    hdr.dim[2] = kY;
    hdr.dim[3] = kZ;
    hdr.dim[4] = static_cast<short>(t);
    hdr.datatype = DT_INT16;
    hdr.bitpix = 16;
    hdr.pixdim[1] = hdr.pixdim[2] = hdr.pixdim[3] = 2.0f;
    return hdr;
}

std::vector<int16_t> seriesData(int t) {
    std::vector<int16_t> data(kVolume * t);
    uint32_t state = 1u;
    for (int16_t& value : data) {
        state = state * 1664525u + 1013904223u;
        value = static_cast<int16_t>((state >> 20) & 0x0FFF);
    }
    return data;
}

const Folder& folder() {
    static const Folder instance;
    return instance;
}

const std::string& seriesFile(bool compressed) {
    static const std::string plain = [] {
        const std::string name = folder().file("series.nii");
        const auto data = seriesData(kT);
        NiftiIO::WriteData(name, seriesHeader(NiftiIO::kNiftiSingle, kT), data.data(),
                           data.size() * sizeof(int16_t));
        return name;
    }();
    static const std::string packed = [] {
        const std::string name = folder().file("packed.nii.gz");
        const auto data = seriesData(kT);
        NiftiIO::WriteData(name, seriesHeader(NiftiIO::kNiftiSingle, kT), data.data(),
                           data.size() * sizeof(int16_t));
        return name;
    }();
    return compressed ? packed : plain;
}

void BM_WholeFileAsFloat(benchmark::State& state) {
    const std::string& name = seriesFile(state.range(0) != 0);
    std::vector<float> dest(kVolume * kT);
    NiftiIO io;
    if (!io.Open(name, nullptr, NiftiIO::kRead)) {
        state.SkipWithError("cannot open the series");
        return;
    }
    for (auto _ : state) {
        if (!io.ReadAsFloat(dest.data(), dest.size(), 0, 0, false)) {
            state.SkipWithError("read failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kVolume * kT * sizeof(int16_t));
}
BENCHMARK(BM_WholeFileAsFloat)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_EveryVolumeCollapsedAsFloat(benchmark::State& state) {
    const std::string& name = seriesFile(state.range(0) != 0);
    std::vector<float> dest(kVolume);
    NiftiIO io;
    if (!io.Open(name, nullptr, NiftiIO::kRead)) {
        state.SkipWithError("cannot open the series");
        return;
    }
    for (auto _ : state) {
        for (int t = 0; t < kT; ++t) {
            if (!io.ReadCollapsedAsFloat(dest.data(), dest.size(), -1, -1, -1, t, 0, 0, 0)) {
                state.SkipWithError("read failed");
                break;
            }
        }
    }
    state.SetBytesProcessed(state.iterations() * kVolume * kT * sizeof(int16_t));
}
BENCHMARK(BM_EveryVolumeCollapsedAsFloat)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_MaskOfFile(benchmark::State& state) {
    static const std::string name = [] {
        const std::string file = folder().file("mask.nii");
        const auto data = seriesData(1);
        NiftiIO::WriteData(file, seriesHeader(NiftiIO::kNiftiSingle, 1), data.data(),
                           data.size() * sizeof(int16_t));
        return file;
    }();
    std::vector<short> mask(kVolume);
    for (auto _ : state) {
        if (!NiftiIO::ReadAsShortMask(name, mask.data(), mask.size(), 1000.0, 3000.0)) {
            state.SkipWithError("mask failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kVolume * sizeof(int16_t));
}
BENCHMARK(BM_MaskOfFile)->Unit(benchmark::kMillisecond);

void BM_WriteVolume(benchmark::State& state) {
    const bool compressed = state.range(0) != 0;
    const std::string name = folder().file(compressed ? "out.nii.gz" : "out.nii");
    const auto data = seriesData(1);
    const nifti_1_header hdr = seriesHeader(NiftiIO::kNiftiSingle, 1);
    for (auto _ : state) {
        if (!NiftiIO::WriteData(name, hdr, data.data(), data.size() * sizeof(int16_t))) {
            state.SkipWithError("write failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kVolume * sizeof(int16_t));
}
BENCHMARK(BM_WriteVolume)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
