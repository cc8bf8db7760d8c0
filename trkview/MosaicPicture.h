#pragma once
// The quality-control mosaic being drawn: the volume's three sections laid out by a
// MosaicLayout, the tracks near each section over it, and a caption.

#include <string>

#include "ColourVolume.h"
#include "MosaicLayout.h"
#include "RgbPicture.h"
#include "TrackOverlay.h"
#include "TrackSource.h"

class MosaicPicture {
  public:
    static constexpr RgbPicture::Colour kBackground = {24, 24, 24};
    static constexpr RgbPicture::Colour kCaptionColour = {235, 235, 235};
    // A segment is drawn on a panel when its midpoint lies within this many voxels of the
    // centre of the panel's slice.
    static constexpr double kNearPlane = 1.0;

    // Paints the sections; layout must outlive this object.
    MosaicPicture(const ColourVolume& volume, const MosaicLayout& layout);

    // Draws the segments of the track record near each panel's slice, or every segment on
    // every panel when every is set. Returns whether any segment was drawn (before thinning).
    bool DrawTrack(const TrackSource& record, bool every);
    void DrawCaption(const std::string& text);

    const RgbPicture& picture() const { return picture_; }

  private:
    const MosaicLayout& layout_;
    RgbPicture picture_;
    TrackOverlay overlay_;
};
