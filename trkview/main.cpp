// trkview: draws the tracks of a track file over an axial slice of a (colour FA) volume and
// writes the picture as PNG, for checking a tracking run at a glance; with -mosaic, the axial,
// coronal and sagittal slices side by side in grey under tracks in their direction's colours,
// lettered with the patient directions, with a caption, for pictures of a whole study.

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "AxisLetters.h"
#include "CMyCmdParser.h"
#include "ColourVolume.h"
#include "ExitStatus.h"
#include "MemoryGuard.h"
#include "MosaicLayout.h"
#include "MosaicPicture.h"
#include "PngWriter.h"
#include "RunStep.h"
#include "SliceCanvas.h"
#include "TrackSource.h"
#include "TrkviewSettings.h"
#include "VolumeSlice.h"

namespace {

// White stands out on the red, green and blue of colour maps; yellow on grey levels.
constexpr SliceCanvas::Colour kTrackOnColour = {255, 255, 255};
constexpr SliceCanvas::Colour kTrackOnGrey = {255, 215, 0};
constexpr double kTrackAlpha = 0.55;

// A picture of only the tracks before the damage would pass for the whole file, so a damaged
// record ends the run with its message and status 1.
RunStep reportDamage(TrackSource::Outcome outcome, const TrackSource& records,
                     const TrkviewSettings& settings) {
    if (outcome == TrackSource::Outcome::kDamaged) {
        std::fprintf(stderr, "\nTrack file %s is truncated or corrupt at track %d: %s.\n",
                     settings.trackName.c_str(), records.TracksRead() + 1,
                     records.Failure().c_str());
        return kExitFailure;
    }
    return kGoOn;
}

// The tracks of any format; a .tck file's grid is the volume's.
std::unique_ptr<TrackSource> openTracks(const TrkviewSettings& settings) {
    std::string reason;
    std::unique_ptr<TrackSource> tracks =
        TrackSource::Open(settings.trackName, settings.volumeName, reason);
    if (!tracks) {
        std::fprintf(stderr, "\nCan not open file %s\n", settings.trackName.c_str());
    }
    return tracks;
}

struct TrackCount {
    int total = 0;
    int drawn = 0;
};

// Draws every track of the open reader that passes through the slice (or every track at all).
// A damaged record ends the drawing with its message and status 1.
RunStep drawTracks(TrackSource& records, const TrkviewSettings& settings, const VolumeSlice& slice,
                   SliceCanvas* canvas, TrackCount* count) {
    const float* size = slice.voxelSize();
    const int scale = settings.scale;
    const double zLow = static_cast<double>(slice.slice()) * size[2];
    const double zHigh = zLow + size[2];
    const SliceCanvas::Colour& trackColour = slice.colour() ? kTrackOnColour : kTrackOnGrey;
    TrackSource::Outcome outcome;
    while ((outcome = records.Next()) == TrackSource::Outcome::kTrack) {
        ++count->total;
        const int n = records.PointCount();
        bool crosses = settings.drawAll;
        for (int i = 0; i < n && !crosses; ++i) {
            const double z = records.Point(i)[2];
            crosses = z >= zLow && z < zHigh;
        }
        if (!crosses) {
            continue;
        }
        ++count->drawn;
        // Millimetres to picture pixels: voxel i spans [i*size, (i+1)*size), i.e. pixels
        // [i*scale, (i+1)*scale).
        for (int i = 0; i + 1 < n; ++i) {
            const float* a = records.Point(i);
            const float* b = records.Point(i + 1);
            canvas->DrawSegment(a[0] / size[0] * scale, a[1] / size[1] * scale,
                                b[0] / size[0] * scale, b[1] / size[1] * scale, trackColour,
                                kTrackAlpha);
        }
    }
    return reportDamage(outcome, records, settings);
}

// The file name without its folders: the caption a mosaic gets when none is given.
std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The volume's own orientation, as the picture shows the volume; a volume without one (a
// phantom or an Analyze file) has it in the track file, where the tracker put the voxel order of
// its .info file or the default patient orientation.
AxisLetters lettersOf(const ColourVolume& volume, const TrackSource& records) {
    if (volume.letters().known()) {
        return volume.letters();
    }
    return AxisLetters::FromVoxelOrder(std::string(records.Header().voxel_order, 3));
}

// The quality-control mosaic: three sections, the tracks near each, a caption.
int runMosaic(const TrkviewSettings& settings) {
    ColourVolume volume;
    std::string message;
    if (!volume.Load(settings.volumeName, &message)) {
        std::fprintf(stderr, "\n%s\n", message.c_str());
        return kExitFailure;
    }
    const std::array<int, 3>& dims = volume.dims();
    const int axial = settings.requestedSlice < 0 ? dims[2] / 2 : settings.requestedSlice;
    if (axial >= dims[2]) {
        std::fprintf(stderr, "\nSlice %d is outside the volume (0 to %d)\n", axial, dims[2] - 1);
        return kExitFailure;
    }

    const std::unique_ptr<TrackSource> records = openTracks(settings);
    if (!records) {
        return kExitFailure;
    }

    const int scale = settings.scaleGiven ? settings.scale : MosaicLayout::AutomaticScale(dims);
    const MosaicLayout layout(dims, volume.voxelSize(), scale, {dims[0] / 2, dims[1] / 2, axial});
    MosaicPicture mosaic(volume, layout);
    TrackCount count;
    TrackSource::Outcome outcome;
    while ((outcome = records->Next()) == TrackSource::Outcome::kTrack) {
        ++count.total;
        count.drawn += mosaic.DrawTrack(*records, settings.drawAll) ? 1 : 0;
    }
    if (const RunStep stop = reportDamage(outcome, *records, settings)) {
        return *stop;
    }
    mosaic.LayTracks();
    mosaic.DrawLabels(lettersOf(volume, *records));
    mosaic.DrawCaption(settings.captionGiven ? settings.caption : baseName(settings.volumeName));

    const RgbPicture& picture = mosaic.picture();
    const std::string& pictureName = settings.pictureName;
    if (!PngWriter::Write(pictureName, picture.width(), picture.height(), picture.pixels())) {
        std::fprintf(stderr, "\nCan not write file %s\n", pictureName.c_str());
        return kExitFailure;
    }
    std::printf(
        "Mosaic of %dx%dx%d at x %d, y %d, z %d: %d of %d tracks drawn, %dx%d picture "
        "written to %s\n",
        dims[0], dims[1], dims[2], dims[0] / 2, dims[1] / 2, axial, count.drawn, count.total,
        picture.width(), picture.height(), pictureName.c_str());
    return kExitSuccess;
}

}  // namespace

int run(int argc, char** argv) {
    const CMyCmdParser parser(argc, argv);
    TrkviewSettings settings;
    if (const RunStep stop = TrkviewSettings::FromCommandLine(argc, parser, &settings)) {
        return *stop;
    }
    if (settings.mosaic) {
        return runMosaic(settings);
    }

    VolumeSlice slice;
    std::string message;
    if (!slice.Load(settings.volumeName, settings.requestedSlice, &message)) {
        std::fprintf(stderr, "\n%s\n", message.c_str());
        return kExitFailure;
    }

    const std::unique_ptr<TrackSource> records = openTracks(settings);
    if (!records) {
        return kExitFailure;
    }

    SliceCanvas canvas(slice.width(), slice.height(), settings.scale, slice.rgb());
    TrackCount count;
    if (const RunStep stop = drawTracks(*records, settings, slice, &canvas, &count)) {
        return *stop;
    }

    const std::string& pictureName = settings.pictureName;
    if (!PngWriter::Write(pictureName, canvas.width(), canvas.height(), canvas.pixels())) {
        std::fprintf(stderr, "\nCan not write file %s\n", pictureName.c_str());
        return kExitFailure;
    }
    std::printf("Slice %d of %d: %d of %d tracks drawn, %dx%d picture written to %s\n",
                slice.slice(), slice.depth(), count.drawn, count.total, canvas.width(),
                canvas.height(), pictureName.c_str());
    return kExitSuccess;
}

int main(int argc, char** argv) {
    return MemoryGuard::Call(run, argc, argv, "the picture");
}
