#include "ColourVolume.h"

#include <nifti1_io.h>

#include <algorithm>
#include <cmath>

#include "NiftiScalar.h"
#include "OwnedHandles.h"
#include "OwnedNiftiImage.h"

namespace {

// The sform is the one a converter means for display; the qform stands in when it is missing.
AxisLetters LettersOf(const nifti_image& image) {
    const mat44* matrix = image.sform_code > 0   ? &image.sto_xyz
                          : image.qform_code > 0 ? &image.qto_xyz
                                                 : nullptr;
    if (matrix == nullptr) {
        return {};
    }
    AxisLetters::Matrix directions{};
    for (int world = 0; world < 3; ++world) {
        for (int axis = 0; axis < 3; ++axis) {
            directions[world][axis] = matrix->m[world][axis];
        }
    }
    return AxisLetters::FromMatrix(directions);
}

}  // namespace

bool ColourVolume::Load(const std::string& path, std::string* message) {
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
    letters_ = LettersOf(*image);
    const size_t voxels = static_cast<size_t>(dims_[0]) * dims_[1] * dims_[2];
    if (voxels > image->nvox) {
        *message = "Image file " + path + " holds " + std::to_string(image->nvox) +
                   " voxels, fewer than its dimensions give";
        return false;
    }
    colour_ = image->datatype == DT_RGB24;
    if (colour_) {
        const auto* bytes = static_cast<const std::uint8_t*>(image->data);
        rgb_.assign(bytes, bytes + voxels * 3);
        return true;
    }
    if (!NiftiScalar::Reads(image->datatype)) {
        *message = "Unsupported data type in " + path;
        return false;
    }
    // One grey scale for the whole volume, so that the three sections stay comparable; voxels
    // without a finite value (NaN outside a mask) are shown black.
    double maximum = 0.0;
    for (size_t p = 0; p < voxels; ++p) {
        const double value = NiftiScalar::At(*image, p);
        if (std::isfinite(value)) {
            maximum = std::max(maximum, value);
        }
    }
    rgb_.assign(voxels * 3, 0);
    for (size_t p = 0; p < voxels; ++p) {
        const double value = NiftiScalar::At(*image, p);
        if (!std::isfinite(value) || maximum <= 0.0) {
            continue;
        }
        const auto grey =
            static_cast<std::uint8_t>(std::clamp(value / maximum * 255.0, 0.0, 255.0));
        rgb_[3 * p] = rgb_[3 * p + 1] = rgb_[3 * p + 2] = grey;
    }
    return true;
}

RgbPicture::Colour ColourVolume::At(int i, int j, int k) const {
    const size_t p = 3 * ((static_cast<size_t>(k) * dims_[1] + j) * dims_[0] + i);
    return {rgb_[p], rgb_[p + 1], rgb_[p + 2]};
}

std::uint8_t ColourVolume::Grey(int i, int j, int k) const {
    const RgbPicture::Colour c = At(i, j, k);
    if (!colour_) {
        return c[0];
    }
    const double length =
        std::sqrt(static_cast<double>(c[0]) * c[0] + static_cast<double>(c[1]) * c[1] +
                  static_cast<double>(c[2]) * c[2]);
    return static_cast<std::uint8_t>(std::lround(std::min(length, 255.0)));
}
