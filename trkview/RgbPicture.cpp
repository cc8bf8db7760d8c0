#include "RgbPicture.h"

#include <algorithm>
#include <cmath>

RgbPicture::RgbPicture(int width, int height, const Colour& background)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      pixels_(static_cast<size_t>(3) * width_ * height_) {
    for (size_t p = 0; p < pixels_.size(); p += 3) {
        std::copy(background.begin(), background.end(), pixels_.begin() + p);
    }
}

RgbPicture::Colour RgbPicture::At(int x, int y) const {
    const size_t p = Offset(x, y);
    return {pixels_[p], pixels_[p + 1], pixels_[p + 2]};
}

void RgbPicture::Set(int x, int y, const Colour& colour) {
    if (!Contains(x, y)) {
        return;
    }
    std::copy(colour.begin(), colour.end(), pixels_.begin() + Offset(x, y));
}

void RgbPicture::Blend(int x, int y, const Colour& colour, double alpha) {
    if (!Contains(x, y)) {
        return;
    }
    const size_t p = Offset(x, y);
    for (int c = 0; c < 3; ++c) {
        const double mixed = (1.0 - alpha) * pixels_[p + c] + alpha * colour[c];
        pixels_[p + c] = static_cast<std::uint8_t>(std::lround(std::clamp(mixed, 0.0, 255.0)));
    }
}
