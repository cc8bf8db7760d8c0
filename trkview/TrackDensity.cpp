#include "TrackDensity.h"

#include <algorithm>
#include <cmath>
#include <utility>

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

bool Finite(const std::array<double, 2>& point) {
    return std::isfinite(point[0]) && std::isfinite(point[1]);
}

}  // namespace

TrackDensity::TrackDensity(int width, int height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      density_(static_cast<std::size_t>(width_) * height_, 0.0f),
      colourSum_(density_.size(), Light{0.0f, 0.0f, 0.0f}),
      trackInk_(density_.size(), 0.0f),
      trackColour_(density_.size(), Light{0.0f, 0.0f, 0.0f}) {}

void TrackDensity::StartTrack() {
    EndTrack();
}

void TrackDensity::EndTrack() {
    for (const std::size_t p : inked_) {
        const float ink = trackInk_[p];
        const float counted = std::min(ink, 1.0f);
        density_[p] += counted;
        for (int c = 0; c < 3; ++c) {
            colourSum_[p][c] += trackColour_[p][c] * (counted / ink);
        }
        trackInk_[p] = 0.0f;
        trackColour_[p] = {0.0f, 0.0f, 0.0f};
    }
    inked_.clear();
}

void TrackDensity::DrawSegment(const std::array<double, 2>& from, const std::array<double, 2>& to,
                               const Light& colour, const MosaicPanel& panel) {
    if (!Finite(from) || !Finite(to)) {
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
    // Walked along its longer axis ("major") one pixel column at a time, measured from pixel
    // centres; each column gets ink in proportion to the part of the segment inside it, shared
    // between the two pixels the path passes between.
    const bool steep = std::fabs(b[1] - a[1]) > std::fabs(b[0] - a[0]);
    const int major = steep ? 1 : 0;
    const int minor = 1 - major;
    if (a[major] > b[major]) {
        std::swap(a, b);
    }
    const double start = a[major] - 0.5;
    const double end = b[major] - 0.5;
    if (!(end > start)) {
        // A track crossing the panel's slice head-on is a dot there.
        Deposit(static_cast<int>(std::floor(a[0])), static_cast<int>(std::floor(a[1])), 1.0, colour,
                panel);
        return;
    }
    const double slope = (b[minor] - a[minor]) / (end - start);
    const int first = static_cast<int>(std::floor(start + 0.5));
    const int last = static_cast<int>(std::floor(end + 0.5));
    for (int column = first; column <= last; ++column) {
        const double enter = std::max(start, column - 0.5);
        const double leave = std::min(end, column + 0.5);
        if (!(leave > enter)) {
            continue;
        }
        const double across = a[minor] - 0.5 + slope * ((enter + leave) / 2.0 - start);
        const double below = std::floor(across);
        const double share = across - below;
        const int row = static_cast<int>(below);
        const double ink = leave - enter;
        for (const auto& [offset, part] : {std::pair{0, 1.0 - share}, std::pair{1, share}}) {
            const int x = steep ? row + offset : column;
            const int y = steep ? column : row + offset;
            Deposit(x, y, ink * part, colour, panel);
        }
    }
}

void TrackDensity::Deposit(int x, int y, double ink, const Light& colour,
                           const MosaicPanel& panel) {
    if (!(ink > 0.0) || !panel.Contains(x, y) || x >= width_ || y >= height_) {
        return;
    }
    const std::size_t p = static_cast<std::size_t>(y) * width_ + x;
    if (trackInk_[p] == 0.0f) {
        inked_.push_back(p);
    }
    trackInk_[p] += static_cast<float>(ink);
    for (int c = 0; c < 3; ++c) {
        trackColour_[p][c] += static_cast<float>(ink) * colour[c];
    }
}

void TrackDensity::Compose(RgbPicture* picture) {
    EndTrack();
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            const std::size_t p = static_cast<std::size_t>(y) * width_ + x;
            const float density = density_[p];
            if (!(density > 0.0f) || !picture->Contains(x, y)) {
                continue;
            }
            const Light mean = {colourSum_[p][0] / density, colourSum_[p][1] / density,
                                colourSum_[p][2] / density};
            picture->Set(x, y, Shown(picture->At(x, y), mean, density));
        }
    }
}

TrackDensity::Light TrackDensity::DirectionColour(double dx, double dy, double dz) {
    const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (!(length > 0.0) || !std::isfinite(length)) {
        return {0.0f, 0.0f, 0.0f};
    }
    const auto channel = [length](double d) {
        return static_cast<float>(std::min(1.0, std::fabs(d) / length));
    };
    return {channel(dx), channel(dy), channel(dz)};
}

RgbPicture::Colour TrackDensity::Shown(const RgbPicture::Colour& map, const Light& meanColour,
                                       double density) {
    // The mean of unit directions is shorter where tracks disagree; its hue is scaled up to
    // full strength so that brightness speaks only of density.
    const float strongest = std::max({meanColour[0], meanColour[1], meanColour[2]});
    if (!(strongest > 0.0f) || !(density > 0.0)) {
        return map;
    }
    const double opacity = 1.0 - std::exp(-density / kOpaqueDensity);
    const double brightness = std::min(
        1.0, kDimmest + (1.0 - kDimmest) * std::log1p(density) / std::log1p(kBrightDensity));
    RgbPicture::Colour shown{};
    for (int c = 0; c < 3; ++c) {
        const double light = 255.0 * brightness * meanColour[c] / strongest;
        const double mixed = (1.0 - opacity) * map[c] + opacity * light;
        shown[c] = static_cast<std::uint8_t>(std::lround(std::clamp(mixed, 0.0, 255.0)));
    }
    return shown;
}
