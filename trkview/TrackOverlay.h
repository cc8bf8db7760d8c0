#pragma once
// Draws track segments as thin translucent lines into a picture, thinned where tracks crowd:
// the picture is divided into cells of kCellPixels x kCellPixels pixels, and at most
// kTracksPerCell tracks draw into each cell; later tracks leave that cell out. Each track mixes
// into a pixel at most once, so no pixel ever carries more than kTracksPerCell layers of track
// colour and the map below stays visible even under thousands of identical tracks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "MosaicPanel.h"
#include "RgbPicture.h"

class TrackOverlay {
  public:
    static constexpr int kCellPixels = 4;
    static constexpr int kTracksPerCell = 2;
    static_assert(kTracksPerCell < 256, "the count of each cell is kept in a byte");
    // Weight of one track's colour over what lies below.
    static constexpr double kAlpha = 0.5;

    // Covers a picture of width x height pixels.
    TrackOverlay(int width, int height);

    // The segments drawn from now on belong to the next track.
    void StartTrack();
    // Draws the line between two picture points (continuous coordinates, pixel (x, y) covering
    // [x, x+1) x [y, y+1)), both ends included, leaving out what lies outside the panel.
    void DrawSegment(const std::array<double, 2>& from, const std::array<double, 2>& to,
                     const RgbPicture::Colour& colour, const MosaicPanel& panel,
                     RgbPicture* picture);

    // The colour of a segment running along (dx, dy, dz): the size of its direction along x, y
    // and z as red, green and blue, as colour FA maps show fibre directions. Black for no
    // direction.
    static RgbPicture::Colour DirectionColour(double dx, double dy, double dz);

  private:
    void Paint(int x, int y, const RgbPicture::Colour& colour, RgbPicture* picture);

    int width_;
    int height_;
    int cellsAcross_;
    int track_ = 0;                         // counts the StartTrack calls
    std::vector<std::uint8_t> cellTracks_;  // tracks drawn into each cell, up to the cap
    std::vector<int> cellLastTrack_;        // the last track that drew into each cell, or -1
    // The pixels the current track has drawn, as a bit per pixel and as a list to clear them
    // by: a bit instead of a track number per pixel keeps large pictures affordable.
    std::vector<bool> painted_;
    std::vector<size_t> paintedByTrack_;
};
