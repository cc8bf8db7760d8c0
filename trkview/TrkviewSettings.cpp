#include "TrkviewSettings.h"

#include <cstdio>
#include <cstdlib>

#include "CommandLineOpening.h"
#include "ExitStatus.h"

namespace {

constexpr int kLargestScale = 64;

int toInt(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

const std::vector<CMyCmdParser::SwitchEntry>& TrkviewSettings::Switches() {
    static const std::vector<CMyCmdParser::SwitchEntry> switches = {kSlice, kScale,  kAll,
                                                                   kHelp,  kMosaic, kCaption};
    return switches;
}

RunStep TrkviewSettings::FromCommandLine(int argc, const CMyCmdParser& parser,
                                         TrkviewSettings* settings) {
    std::vector<std::string> positional;
    if (const RunStep stop = CommandLineOpening::Open(argc, parser, Switches(),
                                                      {"trkview", ShowHelp, 3}, &positional)) {
        return stop;
    }
    settings->volumeName = positional[0];
    settings->trackName = positional[1];
    settings->pictureName = positional[2];
    settings->requestedSlice = toInt(parser.GetArgument(kSlice, 1, "-1"));
    settings->scale = toInt(parser.GetArgument(kScale, 1, "4"));
    if (settings->scale < 1 || settings->scale > kLargestScale) {
        std::fprintf(stderr, "\nScale must be between 1 and %d.\n", kLargestScale);
        return kExitUsage;
    }
    settings->drawAll = parser.HasSwitch(kAll);
    settings->scaleGiven = parser.HasSwitch(kScale);
    settings->mosaic = parser.HasSwitch(kMosaic);
    settings->captionGiven = parser.HasSwitch(kCaption);
    if (settings->captionGiven) {
        if (parser.GetNumberOfArguments(kCaption) < 1) {
            return CommandLineOpening::UsageError(
                "trkview",
                "\nThe caption is missing after " + parser.GetArgument(kCaption, 0, "") + ".");
        }
        if (!settings->mosaic) {
            return CommandLineOpening::UsageError(
                "trkview", "\nA caption is drawn only on a mosaic (-mosaic).");
        }
        settings->caption = parser.GetArgument(kCaption, 1, "");
    }
    return kGoOn;
}

void TrkviewSettings::ShowHelp() {
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
        "  -mosaic, --mosaic\n"
        "          draw a quality-control mosaic instead: the axial, coronal and sagittal\n"
        "          slices through the middle of the volume side by side (axial: x to the\n"
        "          right, y downward; coronal: x to the right, z upward; sagittal: y to the\n"
        "          right, z upward), each with the track segments within one voxel of it,\n"
        "          coloured by direction (x red, y green, z blue) and thinned where tracks\n"
        "          crowd, and a caption below. -z chooses the axial slice, -a draws every\n"
        "          segment on every panel; without -s each panel is at least 512 pixels wide\n"
        "  -caption, --caption <text>\n"
        "          one line of text under the mosaic. default is the volume's file name\n"
        "\n"
        "Example: \n"
        "  trkview dti_fa_color.nii tracks.trk tracks.png -z 10\n"
        "  trkview dti_fa_color.nii tracks.trk qc.png -mosaic -caption \"sub-01\"\n"
        "\n");
}
