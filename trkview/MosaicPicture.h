#pragma once
// The quality-control mosaic being drawn: the volume's three sections laid out by a
// MosaicLayout in grey, the tracks near each section over them in their direction's colours,
// the panels' names and edge letters, and a caption. The map is grey so that the tracks'
// colours stand on their own: over a colour FA map, tracks that run the wrong way would still
// take the colour of the map below them and vanish into it.

#include <cstdint>
#include <string>

#include "AxisLetters.h"
#include "ColourVolume.h"
#include "MosaicLayout.h"
#include "RgbPicture.h"
#include "TrackDensity.h"
#include "TrackSource.h"

class MosaicPicture {
  public:
    static constexpr RgbPicture::Colour kBackground = {24, 24, 24};
    static constexpr RgbPicture::Colour kCaptionColour = {235, 235, 235};
    static constexpr RgbPicture::Colour kLabelColour = kCaptionColour;
    // The map's brightest grey: below the tracks' full colours, so that tracks outshine it.
    static constexpr int kBrightestMap = 160;
    // A segment is drawn on a panel when its midpoint lies within this many voxels of the
    // centre of the panel's slice.
    static constexpr double kNearPlane = 1.0;

    // What a grey level of the volume (0 to 255) shows as.
    static RgbPicture::Colour MapGrey(std::uint8_t grey);

    // Paints the sections; layout must outlive this object.
    MosaicPicture(const ColourVolume& volume, const MosaicLayout& layout);

    // Draws the segments of the track record near each panel's slice, or every segment on
    // every panel when every is set. Returns whether any segment was drawn.
    bool DrawTrack(const TrackSource& record, bool every);
    // Lays the tracks drawn so far over the map; call once, after the last track.
    void LayTracks();
    // The name of every panel above it and, when the orientation is known, the letter of the
    // patient direction beside each of its edges.
    void DrawLabels(const AxisLetters& letters);
    void DrawCaption(const std::string& text);

    const RgbPicture& picture() const { return picture_; }

  private:
    const MosaicLayout& layout_;
    RgbPicture picture_;
    TrackDensity tracks_;
};
