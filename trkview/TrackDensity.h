#pragma once
// Track segments gathered into a picture as light: every track is a thin antialiased line
// (one pixel wide, its ink shared between the two pixels nearest to its path) that adds to a
// density per pixel, and each pixel keeps the mean direction colour of the tracks through it.
// Laid over a grey map, a pixel crossed by one track takes a faint tint of its colour and a
// pixel crossed by many takes the full, bright colour: a bundle shows as a bright band of thin
// lines rather than a solid stroke, and its colour says which way its tracks run.

#include <array>
#include <cstddef>
#include <vector>

#include "MosaicPanel.h"
#include "RgbPicture.h"

class TrackDensity {
  public:
    // Red, green and blue from 0 to 1.
    using Light = std::array<float, 3>;

    // Density (tracks through a pixel) at which a pixel shows 1 - 1/e of its tracks' colour
    // over the map: a single track is plainly visible, a few hide the map.
    static constexpr double kOpaqueDensity = 1.0;
    // Tracks lit at the lowest brightness, and the density at which they reach full brightness
    // (logarithmic in between), so that a crowded bundle outshines a stray track.
    static constexpr double kDimmest = 0.55;
    static constexpr double kBrightDensity = 50.0;

    // Covers a picture of width x height pixels.
    TrackDensity(int width, int height);

    // The segments drawn from now on belong to the next track. A track adds at most 1 to the
    // density of any pixel, however many of its points lie there, so that the density counts
    // tracks and not the tracker's step length.
    void StartTrack();
    // Draws the line between two picture points (continuous coordinates, pixel (x, y) covering
    // [x, x+1) x [y, y+1)), leaving out what lies outside the panel; a segment without length
    // on the panel is a dot.
    void DrawSegment(const std::array<double, 2>& from, const std::array<double, 2>& to,
                     const Light& colour, const MosaicPanel& panel);
    // Lays the tracks drawn so far over the picture, which holds the map.
    void Compose(RgbPicture* picture);

    // The colour of a segment running along (dx, dy, dz): the size of its direction along x, y
    // and z as red, green and blue, as colour FA maps show fibre directions. Black for no
    // direction.
    static Light DirectionColour(double dx, double dy, double dz);

  private:
    // What a pixel of the map (grey) shows under tracks of the mean colour and density given.
    static RgbPicture::Colour Shown(const RgbPicture::Colour& map, const Light& meanColour,
                                    double density);
    void Deposit(int x, int y, double ink, const Light& colour, const MosaicPanel& panel);
    // Adds the current track's ink to the density.
    void EndTrack();

    int width_;
    int height_;
    std::vector<float> density_;
    std::vector<Light> colourSum_;  // ink-weighted colours of the tracks through each pixel
    // The current track's ink and ink-weighted colour per pixel, and the pixels it has inked.
    std::vector<float> trackInk_;
    std::vector<Light> trackColour_;
    std::vector<std::size_t> inked_;
};
