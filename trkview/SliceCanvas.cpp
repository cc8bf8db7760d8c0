#include "SliceCanvas.h"

#include <algorithm>
#include <cmath>

SliceCanvas::SliceCanvas(int width, int height, int scale, const std::vector<std::uint8_t>& rgb)
    : width_(width * scale),
      height_(height * scale),
      pixels_(static_cast<size_t>(3) * width_ * height_) {
    for (int v = 0; v < height_; ++v) {
        for (int u = 0; u < width_; ++u) {
            const size_t source = 3 * (static_cast<size_t>(v / scale) * width + u / scale);
            const size_t target = 3 * (static_cast<size_t>(v) * width_ + u);
            std::copy(rgb.begin() + source, rgb.begin() + source + 3, pixels_.begin() + target);
        }
    }
}

void SliceCanvas::Blend(int u, int v, const Colour& colour, double alpha) {
    if (u < 0 || v < 0 || u >= width_ || v >= height_) {
        return;
    }
    const size_t p = 3 * (static_cast<size_t>(v) * width_ + u);
    for (int c = 0; c < 3; ++c) {
        const double mixed = (1.0 - alpha) * pixels_[p + c] + alpha * colour[c];
        pixels_[p + c] = static_cast<std::uint8_t>(std::lround(std::clamp(mixed, 0.0, 255.0)));
    }
}

void SliceCanvas::DrawSegment(double u0, double v0, double u1, double v1, const Colour& colour,
                              double alpha) {
    // Sampling at least once per pixel along the longer axis leaves no gaps; the end point is
    // left to the next segment so that joints are not blended twice.
    const double du = u1 - u0;
    const double dv = v1 - v0;
    const int steps =
        std::max(1, static_cast<int>(std::ceil(std::max(std::fabs(du), std::fabs(dv)))));
    int lastU = -1;
    int lastV = -1;
    for (int s = 0; s < steps; ++s) {
        const double t = static_cast<double>(s) / steps;
        const int u = static_cast<int>(std::floor(u0 + t * du));
        const int v = static_cast<int>(std::floor(v0 + t * dv));
        if (u != lastU || v != lastV) {
            Blend(u, v, colour, alpha);
            lastU = u;
            lastV = v;
        }
    }
}
