// trkview: draws the tracks of a track file over an axial slice of a (colour FA) volume and
// writes the picture as PNG, for checking a tracking run at a glance.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "CTrackReader.h"
#include "ExitStatus.h"
#include "MemoryGuard.h"
#include "PngWriter.h"
#include "SliceCanvas.h"
#include "TrackRecordReader.h"
#include "VolumeSlice.h"

namespace {

// White stands out on the red, green and blue of colour maps; yellow on grey levels.
constexpr SliceCanvas::Colour kTrackOnColour = {255, 255, 255};
constexpr SliceCanvas::Colour kTrackOnGrey = {255, 215, 0};
constexpr double kTrackAlpha = 0.55;

void ShowHelp() {
    std::printf(
        "\n"
        "Usage: trkview VOLUME_FILE TRACK_FILE OUTPUT_PNG [OPTION]...\n"
        "\n"
        "Draws tracks over an axial slice of a volume (typically PREFIX_fa_color.nii from\n"
        "tenscalc; scalar volumes are shown in grey) and writes a PNG picture. Voxel column i\n"
        "runs to the right and row j downward; tracks are projected onto the slice.\n"
        "\n"
        "  -z, --slice <number>\n"
        "          slice index, starting at 0. default is the middle slice\n"
        "  -s, --scale <number>\n"
        "          picture pixels per voxel (nearest neighbour). default is 4\n"
        "  -a, --all\n"
        "          draw every track, not only the tracks that pass through the slice\n"
        "  -h, --help\n"
        "          display this help\n"
        "\n"
        "Example: \n"
        "  trkview dti_fa_color.nii tracks.trk tracks.png -z 10\n"
        "\n");
}

void ShowHint() {
    std::printf("Type 'trkview --help' for more information.\n");
}

}  // namespace

int run(int argc, char** argv) {
    const CMyCmdParser parser(argc, argv);
    if (argc < 2 || parser.HasSwitch("-h", "--help")) {
        ShowHelp();
        return kExitSuccess;
    }
    const std::vector<CMyCmdParser::SwitchSpec> switches = {
        {"-z", "--slice", 1}, {"-s", "--scale", 1}, {"-a", "--all", 0}, {"-h", "--help", 0}};
    std::vector<std::string> positional;
    const std::string unknown = parser.ExtractPureArguments(&positional, switches);
    if (!unknown.empty()) {
        std::fprintf(stderr, "\nUnrecognized switch '%s'.\n", unknown.c_str());
        ShowHint();
        return kExitUsage;
    }
    if (positional.size() < 3) {
        std::fprintf(stderr, "\nMissing argument(s).\n");
        ShowHint();
        return kExitUsage;
    }
    const std::string& volumeName = positional[0];
    const std::string& trackName = positional[1];
    const std::string& pictureName = positional[2];
    const int requestedSlice = static_cast<int>(
        std::strtol(parser.GetArgument("-z", "--slice", 1, "-1").c_str(), nullptr, 10));
    const int scale = static_cast<int>(
        std::strtol(parser.GetArgument("-s", "--scale", 1, "4").c_str(), nullptr, 10));
    if (scale < 1 || scale > 64) {
        std::fprintf(stderr, "\nScale must be between 1 and 64.\n");
        return kExitUsage;
    }
    const bool drawAll = parser.HasSwitch("-a", "--all");

    VolumeSlice slice;
    std::string message;
    if (!slice.Load(volumeName, requestedSlice, &message)) {
        std::fprintf(stderr, "\n%s\n", message.c_str());
        return kExitFailure;
    }

    CTrackReader reader;
    if (!reader.Open(trackName.c_str())) {
        std::fprintf(stderr, "\nCan not open file %s\n", trackName.c_str());
        return kExitFailure;
    }

    SliceCanvas canvas(slice.width(), slice.height(), scale, slice.rgb());
    const float* size = slice.voxelSize();
    const double zLow = static_cast<double>(slice.slice()) * size[2];
    const double zHigh = zLow + size[2];
    const SliceCanvas::Colour& trackColour = slice.colour() ? kTrackOnColour : kTrackOnGrey;
    int total = 0;
    int drawn = 0;
    TrackRecordReader records(reader);
    TrackRecordReader::Outcome outcome;
    while ((outcome = records.ReadNext()) == TrackRecordReader::Outcome::kRecord) {
        ++total;
        const int n = records.GetPointCount();
        bool crosses = drawAll;
        for (int i = 0; i < n && !crosses; ++i) {
            const double z = records.GetPoint(i)[2];
            crosses = z >= zLow && z < zHigh;
        }
        if (!crosses) {
            continue;
        }
        ++drawn;
        // Millimetres to picture pixels: voxel i spans [i*size, (i+1)*size), i.e. pixels
        // [i*scale, (i+1)*scale).
        for (int i = 0; i + 1 < n; ++i) {
            const float* a = records.GetPoint(i);
            const float* b = records.GetPoint(i + 1);
            canvas.DrawSegment(a[0] / size[0] * scale, a[1] / size[1] * scale,
                               b[0] / size[0] * scale, b[1] / size[1] * scale, trackColour,
                               kTrackAlpha);
        }
    }
    if (outcome == TrackRecordReader::Outcome::kDamaged) {
        // A picture of only the tracks before the damage would pass for the whole file.
        std::fprintf(stderr, "\nTrack file %s is truncated or corrupt at track %d: %s.\n",
                     trackName.c_str(), records.GetRecordCount() + 1, records.GetFailure().c_str());
        return kExitFailure;
    }
    reader.Close();

    if (!PngWriter::Write(pictureName, canvas.width(), canvas.height(), canvas.pixels())) {
        std::fprintf(stderr, "\nCan not write file %s\n", pictureName.c_str());
        return kExitFailure;
    }
    std::printf("Slice %d of %d: %d of %d tracks drawn, %dx%d picture written to %s\n",
                slice.slice(), slice.depth(), drawn, total, canvas.width(), canvas.height(),
                pictureName.c_str());
    return kExitSuccess;
}

int main(int argc, char** argv) {
    return MemoryGuard::Call(run, argc, argv, "the picture");
}
