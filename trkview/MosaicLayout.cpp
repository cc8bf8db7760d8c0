#include "MosaicLayout.h"

#include <algorithm>

#include "BitmapFont.h"

namespace {

using Plane = MosaicPanel::Plane;
using Edge = MosaicPanel::Edge;
constexpr std::array<Plane, 3> kPlanes = {Plane::kAxial, Plane::kCoronal, Plane::kSagittal};

// Font pixel size of the labels and the caption: two picture pixels per font pixel up to about
// a thousand pixels of panels, more for wider pictures, so that the text keeps roughly the same
// size relative to the panels.
constexpr int kSmallestLabelScale = 2;
constexpr int kLargestLabelScale = 4;
constexpr int kPictureWidthPerLabelScale = 512;
// Font pixels of space around a letter, and above and below the caption's glyph cell.
constexpr int kLetterPadding = 1;
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
    int panelsWidth = 0;
    for (const Plane plane : kPlanes) {
        rowHeight = std::max(rowHeight, MosaicPanel::Rows(plane, dims) * scale);
        panelsWidth += MosaicPanel::Columns(plane, dims) * scale;
    }
    labelScale_ = std::clamp(panelsWidth / kPictureWidthPerLabelScale, kSmallestLabelScale,
                             kLargestLabelScale);
    const int padding = kLetterPadding * labelScale_;
    sideGutter_ = BitmapFont::kGlyphWidth * labelScale_ + 2 * padding;
    endGutter_ = BitmapFont::kCapitalHeight * labelScale_ + 2 * padding;
    // The names stand in a strip of their own, above the top letters.
    const int rowTop = kMargin + BitmapFont::kGlyphHeight * labelScale_ + endGutter_;

    // Panels of different heights are centred on the row.
    int left = kMargin;
    for (const Plane plane : kPlanes) {
        const int normal = plane == Plane::kAxial ? 2 : plane == Plane::kCoronal ? 1 : 0;
        const int top = rowTop + (rowHeight - MosaicPanel::Rows(plane, dims) * scale) / 2;
        left += sideGutter_;
        panels_.emplace_back(plane, slices[normal], dims, voxelSize, scale, left, top);
        left += panels_.back().width() + sideGutter_ + kPanelGap;
    }
    width_ = left - kPanelGap + kMargin;
    captionTop_ = rowTop + rowHeight + endGutter_ + kMargin;
    captionHeight_ = (BitmapFont::kGlyphHeight + 2 * kCaptionPadding) * labelScale_;
    height_ = captionTop_ + captionHeight_;
}

MosaicLayout::Corner MosaicLayout::NameCorner(const MosaicPanel& panel) const {
    return {panel.left(), kMargin};
}

int MosaicLayout::NameScale(const MosaicPanel& panel, const std::string& name) const {
    // Up to the picture's right edge for the last panel, short of the next name for the others.
    return FittingScale(name, panel.width() + sideGutter_ + kMargin);
}

MosaicLayout::Corner MosaicLayout::LetterCorner(const MosaicPanel& panel, Edge edge) const {
    const int padding = kLetterPadding * labelScale_;
    const int letterWidth = BitmapFont::kGlyphWidth * labelScale_;
    const int letterHeight = BitmapFont::kCapitalHeight * labelScale_;
    const int acrossMiddle = panel.left() + (panel.width() - letterWidth) / 2;
    const int downMiddle = panel.top() + (panel.height() - letterHeight) / 2;
    switch (edge) {
        case Edge::kLeft:
            return {panel.left() - padding - letterWidth, downMiddle};
        case Edge::kRight:
            return {panel.left() + panel.width() + padding, downMiddle};
        case Edge::kTop:
            return {acrossMiddle, panel.top() - padding - letterHeight};
        case Edge::kBottom:
        default:
            return {acrossMiddle, panel.top() + panel.height() + padding};
    }
}

int MosaicLayout::FittingScale(const std::string& text, int room) const {
    const int textWidth = BitmapFont::Width(text);
    for (int s = labelScale_; s > 1; --s) {
        if (textWidth * s <= room) {
            return s;
        }
    }
    return 1;
}

int MosaicLayout::CaptionScale(const std::string& text) const {
    return FittingScale(text, width_ - 2 * kMargin);
}

int MosaicLayout::CaptionTextTop(int captionScale) const {
    return captionTop_ + (captionHeight_ - BitmapFont::kGlyphHeight * captionScale) / 2;
}
