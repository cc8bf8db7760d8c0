// trkview: draws the tracks of a track file over an axial slice of a (colour FA) volume and
// writes the picture as PNG, for checking a tracking run at a glance.

#include <cstdio>
#include <string>

#include "CMyCmdParser.h"
#include "CTrackReader.h"
#include "ExitStatus.h"
#include "MemoryGuard.h"
#include "PngWriter.h"
#include "RunStep.h"
#include "SliceCanvas.h"
#include "TrackRecordReader.h"
#include "TrkviewSettings.h"
#include "VolumeSlice.h"

namespace {

// White stands out on the red, green and blue of colour maps; yellow on grey levels.
constexpr SliceCanvas::Colour kTrackOnColour = {255, 255, 255};
constexpr SliceCanvas::Colour kTrackOnGrey = {255, 215, 0};
constexpr double kTrackAlpha = 0.55;

struct TrackCount {
    int total = 0;
    int drawn = 0;
};

// Draws every track of the open reader that passes through the slice (or every track at all).
// A damaged record ends the drawing with its message and status 1.
RunStep drawTracks(CTrackReader& reader, const TrkviewSettings& settings, const VolumeSlice& slice,
                   SliceCanvas* canvas, TrackCount* count) {
    const float* size = slice.voxelSize();
    const int scale = settings.scale;
    const double zLow = static_cast<double>(slice.slice()) * size[2];
    const double zHigh = zLow + size[2];
    const SliceCanvas::Colour& trackColour = slice.colour() ? kTrackOnColour : kTrackOnGrey;
    TrackRecordReader records(reader);
    TrackRecordReader::Outcome outcome;
    while ((outcome = records.ReadNext()) == TrackRecordReader::Outcome::kRecord) {
        ++count->total;
        const int n = records.GetPointCount();
        bool crosses = settings.drawAll;
        for (int i = 0; i < n && !crosses; ++i) {
            const double z = records.GetPoint(i)[2];
            crosses = z >= zLow && z < zHigh;
        }
        if (!crosses) {
            continue;
        }
        ++count->drawn;
        // Millimetres to picture pixels: voxel i spans [i*size, (i+1)*size), i.e. pixels
        // [i*scale, (i+1)*scale).
        for (int i = 0; i + 1 < n; ++i) {
            const float* a = records.GetPoint(i);
            const float* b = records.GetPoint(i + 1);
            canvas->DrawSegment(a[0] / size[0] * scale, a[1] / size[1] * scale,
                                b[0] / size[0] * scale, b[1] / size[1] * scale, trackColour,
                                kTrackAlpha);
        }
    }
    if (outcome == TrackRecordReader::Outcome::kDamaged) {
        // A picture of only the tracks before the damage would pass for the whole file.
        std::fprintf(stderr, "\nTrack file %s is truncated or corrupt at track %d: %s.\n",
                     settings.trackName.c_str(), records.GetRecordCount() + 1,
                     records.GetFailure().c_str());
        return kExitFailure;
    }
    return kGoOn;
}

}  // namespace

int run(int argc, char** argv) {
    const CMyCmdParser parser(argc, argv);
    TrkviewSettings settings;
    if (const RunStep stop = TrkviewSettings::FromCommandLine(argc, parser, &settings)) {
        return *stop;
    }

    VolumeSlice slice;
    std::string message;
    if (!slice.Load(settings.volumeName, settings.requestedSlice, &message)) {
        std::fprintf(stderr, "\n%s\n", message.c_str());
        return kExitFailure;
    }

    CTrackReader reader;
    if (!reader.Open(settings.trackName.c_str())) {
        std::fprintf(stderr, "\nCan not open file %s\n", settings.trackName.c_str());
        return kExitFailure;
    }

    SliceCanvas canvas(slice.width(), slice.height(), settings.scale, slice.rgb());
    TrackCount count;
    if (const RunStep stop = drawTracks(reader, settings, slice, &canvas, &count)) {
        return *stop;
    }
    reader.Close();

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
