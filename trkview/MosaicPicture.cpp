#include "MosaicPicture.h"

#include <array>

#include "BitmapFont.h"

namespace {

constexpr std::array<MosaicPanel::Edge, 4> kEdges = {
    MosaicPanel::Edge::kLeft, MosaicPanel::Edge::kRight, MosaicPanel::Edge::kTop,
    MosaicPanel::Edge::kBottom};

}  // namespace

RgbPicture::Colour MosaicPicture::MapGrey(std::uint8_t grey) {
    const auto level = static_cast<std::uint8_t>((grey * kBrightestMap + 127) / 255);
    return {level, level, level};
}

MosaicPicture::MosaicPicture(const ColourVolume& volume, const MosaicLayout& layout)
    : layout_(layout),
      picture_(layout.width(), layout.height(), kBackground),
      tracks_(layout.width(), layout.height()) {
    for (const MosaicPanel& panel : layout_.panels()) {
        for (int y = panel.top(); y < panel.top() + panel.height(); ++y) {
            for (int x = panel.left(); x < panel.left() + panel.width(); ++x) {
                const std::array<int, 3> voxel = panel.VoxelAt(x, y);
                picture_.Set(x, y, MapGrey(volume.Grey(voxel[0], voxel[1], voxel[2])));
            }
        }
    }
}

bool MosaicPicture::DrawTrack(const TrackSource& record, bool every) {
    tracks_.StartTrack();
    bool drawn = false;
    const int n = record.PointCount();
    for (int i = 0; i + 1 < n; ++i) {
        const float* a = record.Point(i);
        const float* b = record.Point(i + 1);
        const std::array<double, 3> from = {a[0], a[1], a[2]};
        const std::array<double, 3> to = {b[0], b[1], b[2]};
        if (from == to) {
            continue;  // no direction to colour it by, and nothing to see
        }
        const std::array<double, 3> middle = {(from[0] + to[0]) / 2, (from[1] + to[1]) / 2,
                                              (from[2] + to[2]) / 2};
        const TrackDensity::Light colour =
            TrackDensity::DirectionColour(to[0] - from[0], to[1] - from[1], to[2] - from[2]);
        for (const MosaicPanel& panel : layout_.panels()) {
            // Negated so that a midpoint of NaN coordinates counts as far from every plane.
            if (!every && !(panel.VoxelsFromPlane(middle) <= kNearPlane)) {
                continue;
            }
            drawn = true;
            tracks_.DrawSegment(panel.Project(from), panel.Project(to), colour, panel);
        }
    }
    return drawn;
}

void MosaicPicture::LayTracks() {
    tracks_.Compose(&picture_);
}

void MosaicPicture::DrawLabels(const AxisLetters& letters) {
    const int scale = layout_.labelScale();
    for (const MosaicPanel& panel : layout_.panels()) {
        const std::string name = panel.Name();
        const MosaicLayout::Corner corner = layout_.NameCorner(panel);
        BitmapFont::Draw(name, corner.left, corner.top, layout_.NameScale(panel, name),
                         kLabelColour, &picture_);
        if (!letters.known()) {
            continue;
        }
        for (const MosaicPanel::Edge edge : kEdges) {
            const MosaicPanel::EdgeAxis axis = panel.AxisAt(edge);
            const char letter = axis.growing ? letters.Toward(axis.axis) : letters.Away(axis.axis);
            const MosaicLayout::Corner spot = layout_.LetterCorner(panel, edge);
            BitmapFont::Draw(std::string(1, letter), spot.left, spot.top, scale, kLabelColour,
                             &picture_);
        }
    }
}

void MosaicPicture::DrawCaption(const std::string& text) {
    const int scale = layout_.CaptionScale(text);
    BitmapFont::Draw(text, layout_.CaptionLeft(), layout_.CaptionTextTop(scale), scale,
                     kCaptionColour, &picture_);
}
