#include "TensorVolume.h"

#include <algorithm>
#include <cstdio>

namespace {
// Place of each on-disk component (xx, xy, yy, xz, yz, zz) in a voxel's (xx, xy, xz, yy, yz, zz).
constexpr int kComponentPlace[6] = {0, 1, 3, 2, 4, 5};
}  // namespace

RunStep TensorVolume::Open(const std::string& fileName) {
    fileName_ = fileName;
    if (!file_.Open(fileName, &header_, NiftiIO::kRead)) {
        return messages_.Failure("\nCan not load file " + fileName, file_.LastError(), fileName);
    }
    const short* dim = header_.dim;
    if (!(dim[4] > 5 || dim[5] > 5)) {
        return messages_.Failure("\n" + fileName + " is not valid tensor data file.");
    }
    componentsAlongFifth_ = dim[0] > 4;

    geometry_.voxelCount = 1;
    for (int a = 0; a < 3; ++a) {
        geometry_.dims[a] = dim[a + 1];
        geometry_.voxelSize[a] = header_.pixdim[a + 1];
        geometry_.voxelCount *= static_cast<size_t>(std::max(geometry_.dims[a], 0));
    }
    char grid[160];
    std::snprintf(grid, sizeof grid, "\nVolume dimension: %d %d %d\nVoxel size: %.3f %.3f %.3f\n",
                  geometry_.dims[0], geometry_.dims[1], geometry_.dims[2], geometry_.voxelSize[0],
                  geometry_.voxelSize[1], geometry_.voxelSize[2]);
    messages_.Notice(grid);
    return kGoOn;
}

TRACK_HEADER TensorVolume::NewTrackHeader() const {
    TRACK_HEADER header = TRACK_HEADER::MakeDefault();
    for (int a = 0; a < 3; ++a) {
        header.dim[a] = static_cast<int16_t>(geometry_.dims[a]);
        header.voxel_size[a] = geometry_.voxelSize[a];
    }
    mat44 voxelToRas{};
    file_.GetVoxelToRas(voxelToRas);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            header.voxel_to_ras[r][c] = voxelToRas.m[r][c];
        }
    }
    return header;
}

RunStep TensorVolume::ReadComponents(std::vector<float>& tensors) {
    messages_.Notice("\nReading tensor data...");
    const size_t count = geometry_.voxelCount;
    tensors.assign(count * 6, 0.0f);
    std::vector<float> component(count);
    for (int c = 0; c < 6; ++c) {
        const bool read =
            componentsAlongFifth_
                ? file_.ReadCollapsedAsFloat(component.data(), count, -1, -1, -1, 0, c, -1, -1)
                : file_.ReadCollapsedAsFloat(component.data(), count, -1, -1, -1, c, -1, -1, -1);
        if (!read) {
            return messages_.Failure("Can not read data from file " + fileName_,
                                      file_.LastError(), fileName_);
        }
        for (size_t v = 0; v < count; ++v) {
            tensors[6 * v + kComponentPlace[c]] = component[v];
        }
    }
    return kGoOn;
}
