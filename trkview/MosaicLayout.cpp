#include "MosaicLayout.h"

#include <algorithm>

#include "BitmapFont.h"

namespace {

using Plane = MosaicPanel::Plane;
constexpr std::array<Plane, 3> kPlanes = {Plane::kAxial, Plane::kCoronal, Plane::kSagittal};

// Font pixel size a caption strip is made for: two picture pixels per font pixel up to about a
// thousand pixels of picture width, more for wider pictures, so that the caption keeps roughly
// the same size relative to the panels.
constexpr int kSmallestCaptionScale = 2;
constexpr int kLargestCaptionScale = 4;
constexpr int kPictureWidthPerCaptionScale = 512;
// Font pixels of space above and below the glyph cell.
constexpr int kCaptionPadding = 2;

}  // namespace

int MosaicLayout::AutomaticScale(const std::array<int, 3>& dims) {
    int narrowest = MosaicPanel::Columns(kPlanes[0], dims);
    int widest = narrowest;
    for (const Plane plane : kPlanes) {
        narrowest = std::min(narrowest, MosaicPanel::Columns(plane, dims));
        widest = std::max(widest, MosaicPanel::Columns(plane, dims));
    }
    narrowest = std::max(1, narrowest);
    widest = std::max(1, widest);
    const int wanted = (kSmallestPanelWidth + narrowest - 1) / narrowest;
    const int bounded = std::min(wanted, std::max(1, kLargestPanelWidth / widest));
    return std::clamp(bounded, 1, kLargestScale);
}

MosaicLayout::MosaicLayout(const std::array<int, 3>& dims, const std::array<float, 3>& voxelSize,
                           int scale, const std::array<int, 3>& slices)
    : scale_(scale) {
    int rowHeight = 0;
    for (const Plane plane : kPlanes) {
        rowHeight = std::max(rowHeight, MosaicPanel::Rows(plane, dims) * scale);
    }
    // Panels of different heights are centred on the row.
    int left = kMargin;
    for (const Plane plane : kPlanes) {
        const int normal = plane == Plane::kAxial ? 2 : plane == Plane::kCoronal ? 1 : 0;
        const int top = kMargin + (rowHeight - MosaicPanel::Rows(plane, dims) * scale) / 2;
        panels_.emplace_back(plane, slices[normal], dims, voxelSize, scale, left, top);
        left += panels_.back().width() + kMargin;
    }
    width_ = left;
    captionScale_ = std::clamp(width_ / kPictureWidthPerCaptionScale, kSmallestCaptionScale,
                               kLargestCaptionScale);
    captionTop_ = kMargin + rowHeight + kMargin;
    captionHeight_ = (BitmapFont::kGlyphHeight + 2 * kCaptionPadding) * captionScale_;
    height_ = captionTop_ + captionHeight_;
}

int MosaicLayout::CaptionScale(const std::string& text) const {
    const int room = width_ - 2 * kMargin;
    const int textWidth = BitmapFont::Width(text);
    for (int s = captionScale_; s > 1; --s) {
        if (textWidth * s <= room) {
            return s;
        }
    }
    return 1;
}

int MosaicLayout::CaptionTextTop(int captionScale) const {
    return captionTop_ + (captionHeight_ - BitmapFont::kGlyphHeight * captionScale) / 2;
}
