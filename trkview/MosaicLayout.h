#pragma once
// Where everything goes in the quality-control mosaic: the axial, coronal and sagittal panels
// side by side on one row, each with its name above it and a letter of the patient direction
// beside each of its edges, margins around and between them, and a caption strip below. The
// labels lie outside the panels so that they never hide the map or the tracks. The picture's
// size depends only on the volume and the scale, never on the caption, so that the pictures of
// a study line up.

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
    // Pixels around everything, and between one panel's letters and the next one's.
    static constexpr int kMargin = 8;
    static constexpr int kPanelGap = 3 * kMargin;

    // The top-left corner of a piece of text.
    struct Corner {
        int left;
        int top;
    };

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

    // Picture pixels per font pixel of the panel names and edge letters.
    int labelScale() const { return labelScale_; }
    // Where a panel's name starts, and the font pixel size that fits it into the room above
    // the panel (down to 1, where text that still does not fit runs on).
    Corner NameCorner(const MosaicPanel& panel) const;
    int NameScale(const MosaicPanel& panel, const std::string& name) const;
    // Where the letter beside an edge of a panel goes, centred along the edge.
    Corner LetterCorner(const MosaicPanel& panel, MosaicPanel::Edge edge) const;

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
    // The largest font pixel size up to labelScale_ at which the text fits room pixels.
    int FittingScale(const std::string& text, int room) const;

    int scale_;
    int width_ = 0;
    int height_ = 0;
    int labelScale_ = 1;
    int sideGutter_ = 0;  // beside a panel, for its left or right letter
    int endGutter_ = 0;   // above or below a panel, for its top or bottom letter
    int captionTop_ = 0;
    int captionHeight_ = 0;
    std::vector<MosaicPanel> panels_;
};
