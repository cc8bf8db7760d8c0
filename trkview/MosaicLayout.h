#pragma once
// Where everything goes in the quality-control mosaic: the axial, coronal and sagittal panels
// side by side on one row, margins around and between them, and a caption strip below. The
// picture's size depends only on the volume and the scale, never on the caption, so that the
// pictures of a study line up.

#include <array>
#include <string>
#include <vector>

#include "MosaicPanel.h"

class MosaicLayout {
  public:
    // The automatic scale makes the narrowest panel at least this wide...
    static constexpr int kSmallestPanelWidth = 512;
    // ...unless the widest panel would grow beyond this (a volume far longer than wide).
    static constexpr int kLargestPanelWidth = 2048;
    static constexpr int kLargestScale = 64;
    // Pixels around the panels and between them.
    static constexpr int kMargin = 8;

    // Picture pixels per voxel for a volume of dims when none is asked for.
    static int AutomaticScale(const std::array<int, 3>& dims);

    // scale picture pixels per voxel; slices along x, y, z (the sagittal, coronal and axial
    // panel), each inside the volume.
    MosaicLayout(const std::array<int, 3>& dims, const std::array<float, 3>& voxelSize, int scale,
                 const std::array<int, 3>& slices);

    int width() const { return width_; }
    int height() const { return height_; }
    int scale() const { return scale_; }
    // Axial, coronal, sagittal, from left to right.
    const std::vector<MosaicPanel>& panels() const { return panels_; }

    // The caption strip spans the picture's width.
    int captionTop() const { return captionTop_; }
    int captionHeight() const { return captionHeight_; }
    // Font pixel size for a caption: as large as the strip was made for, smaller when the text
    // would not fit the picture's width (and clipped at 1 when even that does not fit).
    int CaptionScale(const std::string& text) const;
    // Top-left corner of a caption drawn at that font pixel size.
    int CaptionLeft() const { return kMargin; }
    int CaptionTextTop(int captionScale) const;

  private:
    int scale_;
    int width_ = 0;
    int height_ = 0;
    int captionTop_ = 0;
    int captionHeight_ = 0;
    int captionScale_ = 1;
    std::vector<MosaicPanel> panels_;
};
