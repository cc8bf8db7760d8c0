#include "TrackOverlay.h"

#include <algorithm>
#include <cmath>

namespace {

// Cuts the segment from + t * (to - from), t in [0, 1], to the box [low, high] on both axes
// (Liang-Barsky). Returns false when nothing of it lies inside.
bool ClipToBox(const std::array<double, 2>& low, const std::array<double, 2>& high,
               std::array<double, 2>* from, std::array<double, 2>* to) {
    double enter = 0.0;
    double leave = 1.0;
    for (int a = 0; a < 2; ++a) {
        const double start = (*from)[a];
        const double delta = (*to)[a] - start;
        if (delta == 0.0) {
            if (start < low[a] || start > high[a]) {
                return false;
            }
            continue;
        }
        double t0 = (low[a] - start) / delta;
        double t1 = (high[a] - start) / delta;
        if (t0 > t1) {
            std::swap(t0, t1);
        }
        enter = std::max(enter, t0);
        leave = std::min(leave, t1);
        if (enter > leave) {
            return false;
        }
    }
    const std::array<double, 2> start = *from;
    const std::array<double, 2> delta = {(*to)[0] - start[0], (*to)[1] - start[1]};
    *from = {start[0] + enter * delta[0], start[1] + enter * delta[1]};
    *to = {start[0] + leave * delta[0], start[1] + leave * delta[1]};
    return true;
}

}  // namespace

TrackOverlay::TrackOverlay(int width, int height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      cellsAcross_((width_ + kCellPixels - 1) / kCellPixels),
      cellTracks_(static_cast<size_t>(cellsAcross_) * ((height_ + kCellPixels - 1) / kCellPixels),
                  0),
      cellLastTrack_(cellTracks_.size(), -1),
      painted_(static_cast<size_t>(width_) * height_, false) {}

void TrackOverlay::StartTrack() {
    ++track_;
    for (const size_t pixel : paintedByTrack_) {
        painted_[pixel] = false;
    }
    paintedByTrack_.clear();
}

void TrackOverlay::DrawSegment(const std::array<double, 2>& from, const std::array<double, 2>& to,
                               const RgbPicture::Colour& colour, const MosaicPanel& panel,
                               RgbPicture* picture) {
    if (!std::isfinite(from[0]) || !std::isfinite(from[1]) || !std::isfinite(to[0]) ||
        !std::isfinite(to[1])) {
        return;
    }
    // Clipping first bounds the number of steps below by the panel's size, however far away
    // a damaged point lies.
    std::array<double, 2> a = from;
    std::array<double, 2> b = to;
    const std::array<double, 2> low = {static_cast<double>(panel.left()),
                                       static_cast<double>(panel.top())};
    const std::array<double, 2> high = {static_cast<double>(panel.left() + panel.width()),
                                        static_cast<double>(panel.top() + panel.height())};
    if (!ClipToBox(low, high, &a, &b)) {
        return;
    }
    // At least one sample per pixel along the longer axis leaves no gaps.
    const double dx = b[0] - a[0];
    const double dy = b[1] - a[1];
    const int steps =
        std::max(1, static_cast<int>(std::ceil(std::max(std::fabs(dx), std::fabs(dy)))));
    for (int s = 0; s <= steps; ++s) {
        const double t = static_cast<double>(s) / steps;
        const int x = static_cast<int>(std::floor(a[0] + t * dx));
        const int y = static_cast<int>(std::floor(a[1] + t * dy));
        if (panel.Contains(x, y)) {
            Paint(x, y, colour, picture);
        }
    }
}

void TrackOverlay::Paint(int x, int y, const RgbPicture::Colour& colour, RgbPicture* picture) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return;
    }
    const size_t pixel = static_cast<size_t>(y) * width_ + x;
    if (painted_[pixel]) {
        return;
    }
    const size_t cell = static_cast<size_t>(y / kCellPixels) * cellsAcross_ + x / kCellPixels;
    if (cellLastTrack_[cell] != track_) {
        if (cellTracks_[cell] >= kTracksPerCell) {
            return;
        }
        ++cellTracks_[cell];
        cellLastTrack_[cell] = track_;
    }
    painted_[pixel] = true;
    paintedByTrack_.push_back(pixel);
    picture->Blend(x, y, colour, kAlpha);
}

RgbPicture::Colour TrackOverlay::DirectionColour(double dx, double dy, double dz) {
    const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (!(length > 0.0) || !std::isfinite(length)) {
        return {0, 0, 0};
    }
    const auto channel = [length](double d) {
        return static_cast<std::uint8_t>(std::lround(std::min(1.0, std::fabs(d) / length) * 255.0));
    };
    return {channel(dx), channel(dy), channel(dz)};
}
