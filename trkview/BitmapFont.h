#pragma once
// A small bitmap font of the toolkit's own design for captions: printable ASCII in cells of
// 5 x 9 font pixels (7 above the baseline, 2 for descenders), drawn scaled into a picture.

#include <string>

#include "RgbPicture.h"

class BitmapFont {
  public:
    static constexpr int kGlyphWidth = 5;
    static constexpr int kGlyphHeight = 9;
    // Rows of capitals and digits, from the top of the cell to the baseline.
    static constexpr int kCapitalHeight = 7;
    // From one character's left edge to the next one's.
    static constexpr int kAdvance = 6;
    // Stands for every character without a glyph of its own: a hollow box.
    static constexpr char kMissing = '\x7f';

    // Whether the glyph of c has ink at (column, row), row 0 at the top. Characters outside
    // printable ASCII have the glyph of kMissing.
    static bool Ink(char c, int column, int row);
    // The characters of UTF-8 text as they are drawn: printable ASCII stays, a tab becomes a
    // space, and every other character (a whole UTF-8 sequence) becomes one kMissing.
    static std::string Drawn(const std::string& text);
    // Width in font pixels of the text on one line.
    static int Width(const std::string& text);
    // Draws the text on one line with its top-left corner at (left, top), every font pixel a
    // scale x scale block; what falls outside the picture is left out.
    static void Draw(const std::string& text, int left, int top, int scale,
                     const RgbPicture::Colour& colour, RgbPicture* picture);
};
