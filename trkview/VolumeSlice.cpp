#include "VolumeSlice.h"

#include <nifti1_io.h>

#include <algorithm>
#include <cmath>

#include "NiftiScalar.h"
#include "OwnedHandles.h"

bool VolumeSlice::Load(const std::string& path, int k, std::string* message) {
    const OwnedNiftiImage image(nifti_image_read(path.c_str(), 1));
    if (!image || image->data == nullptr) {
        *message = "Can not read image file " + path;
        return false;
    }
    for (int a = 0; a < 3; ++a) {
        dims_[a] = std::max(1, image->dim[a + 1]);
        const float size = image->pixdim[a + 1];
        voxelSize_[a] = size > 0.0f ? size : 1.0f;
    }
    slice_ = k < 0 ? dims_[2] / 2 : k;
    if (slice_ >= dims_[2]) {
        *message = "Slice " + std::to_string(slice_) + " is outside the volume (0 to " +
                   std::to_string(dims_[2] - 1) + ")";
        return false;
    }

    const size_t plane = static_cast<size_t>(dims_[0]) * dims_[1];
    const size_t first = plane * slice_;
    rgb_.assign(plane * 3, 0);
    colour_ = image->datatype == DT_RGB24;
    if (colour_) {
        const auto* bytes = static_cast<const std::uint8_t*>(image->data);
        std::copy(bytes + first * 3, bytes + (first + plane) * 3, rgb_.begin());
        return true;
    }
    if (std::isnan(NiftiScalar::At(*image, 0))) {
        *message = "Unsupported data type in " + path;
        return false;
    }
    // Grey levels share one scale over the whole volume so that slices stay comparable.
    const size_t voxels = plane * dims_[2];
    double maximum = 0.0;
    for (size_t p = 0; p < voxels; ++p) {
        maximum = std::max(maximum, NiftiScalar::At(*image, p));
    }
    for (size_t p = 0; p < plane; ++p) {
        const double v = maximum > 0.0 ? NiftiScalar::At(*image, first + p) / maximum * 255.0 : 0.0;
        const auto grey = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        rgb_[3 * p] = rgb_[3 * p + 1] = rgb_[3 * p + 2] = grey;
    }
    return true;
}
