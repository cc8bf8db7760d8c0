#include "FitMask.h"

#include <cmath>
#include <cstdio>

#include "NiftiIO.h"

namespace {

std::string gridText(const int dims[3], const float sizes[3]) {
    char text[160];
    std::snprintf(text, sizeof text, "%d x %d x %d voxels of %g x %g x %g mm", dims[0], dims[1],
                  dims[2], sizes[0], sizes[1], sizes[2]);
    return text;
}

bool sameSize(float a, float b) {
    return std::fabs(a - b) <= 1e-4f * std::fmax(std::fabs(a), std::fabs(b));
}

}  // namespace

bool FitMask::Read(const std::string& file, const nifti_1_header& data,
                   const std::string& dataName, std::vector<unsigned char>& mask,
                   std::string& reason) {
    nifti_1_header header{};
    int dims[3] = {0, 0, 0};
    float sizes[3] = {0, 0, 0};
    if (!NiftiIO::ReadHeader(file, header, dims, sizes, &reason)) {
        return false;
    }
    const int dataDims[3] = {data.dim[1], data.dim[2], data.dim[3]};
    const float dataSizes[3] = {data.pixdim[1], data.pixdim[2], data.pixdim[3]};
    bool same = NiftiIO::VoxelsInHeader(header) ==
                static_cast<size_t>(dataDims[0]) * static_cast<size_t>(dataDims[1]) *
                    static_cast<size_t>(dataDims[2]);
    for (int a = 0; a < 3; ++a) {
        same = same && dims[a] == dataDims[a] && sameSize(sizes[a], dataSizes[a]);
    }
    if (!same) {
        reason = file + " is " + gridText(dims, sizes) + "; the data " + dataName + " are " +
                 gridText(dataDims, dataSizes);
        return false;
    }
    std::vector<float> values(NiftiIO::VoxelsInHeader(header));
    if (!NiftiIO::ReadAsFloat(file, values.data(), values.size(), 0, 0, false, &reason)) {
        return false;
    }
    mask.resize(values.size());
    for (size_t p = 0; p < values.size(); ++p) {
        // NaN counts as outside: it marks no tissue.
        mask[p] = values[p] != 0.0f && !std::isnan(values[p]) ? 1 : 0;
    }
    return true;
}
