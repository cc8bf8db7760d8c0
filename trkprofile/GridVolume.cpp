#include "GridVolume.h"

#include <cmath>
#include <cstdint>

#include "NiftiIO.h"

bool GridVolume::Read(const std::string& file, std::string& reason) {
    NiftiIO image;
    nifti_1_header header{};
    if (!image.Open(file, &header, NiftiIO::kRead)) {
        reason = image.LastError();
        return false;
    }
    const std::size_t voxels = NiftiIO::VoxelsInHeader(header);
    int dims[3] = {1, 1, 1};
    for (int a = 0; a < 3 && a < header.dim[0]; ++a) {
        dims[a] = header.dim[a + 1];
    }
    const float sizes[3] = {header.pixdim[1], header.pixdim[2], header.pixdim[3]};
    grid_ = VoxelGrid(dims, sizes);
    if (static_cast<std::int64_t>(voxels) != grid_.VoxelCount()) {
        reason = file + ": holds " + std::to_string(voxels / static_cast<std::size_t>(
                                                                 grid_.VoxelCount() > 0
                                                                     ? grid_.VoxelCount()
                                                                     : 1)) +
                 " volumes; a mask or map is one volume";
        return false;
    }
    values_.assign(voxels, 0.0f);
    if (!image.ReadAsFloat(values_.data(), values_.size(), 0, 0, false)) {
        reason = image.LastError();
        return false;
    }
    // NIfTI's rule: a slope of 0 (or none that is finite) means the values are stored as they are.
    const float slope = header.scl_slope;
    const float offset = std::isfinite(header.scl_inter) ? header.scl_inter : 0.0f;
    if (std::isfinite(slope) && slope != 0.0f && (slope != 1.0f || offset != 0.0f)) {
        for (float& value : values_) {
            value = value * slope + offset;
        }
    }
    return true;
}
