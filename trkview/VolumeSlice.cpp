#include "VolumeSlice.h"

#include "ColourVolume.h"
#include "RgbPicture.h"

// The slice of the whole volume in colour, so that the one-slice picture and the mosaic read
// and scale a volume in one way.
bool VolumeSlice::Load(const std::string& path, int k, std::string* message) {
    ColourVolume volume;
    if (!volume.Load(path, message)) {
        return false;
    }
    for (int a = 0; a < 3; ++a) {
        dims_[a] = volume.dims()[static_cast<size_t>(a)];
        voxelSize_[a] = volume.voxelSize()[static_cast<size_t>(a)];
    }
    slice_ = k < 0 ? dims_[2] / 2 : k;
    if (slice_ >= dims_[2]) {
        *message = "Slice " + std::to_string(slice_) + " is outside the volume (0 to " +
                   std::to_string(dims_[2] - 1) + ")";
        return false;
    }
    colour_ = volume.colour();
    rgb_.clear();
    rgb_.reserve(static_cast<size_t>(dims_[0]) * dims_[1] * 3);
    for (int j = 0; j < dims_[1]; ++j) {
        for (int i = 0; i < dims_[0]; ++i) {
            const RgbPicture::Colour c = volume.At(i, j, slice_);
            rgb_.insert(rgb_.end(), c.begin(), c.end());
        }
    }
    return true;
}
