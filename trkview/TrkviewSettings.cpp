#include "TrkviewSettings.h"

#include <cstdio>
#include <cstdlib>

#include "CommandLineOpening.h"
#include "ExitStatus.h"
#include "StandardOptions.h"

namespace {

constexpr CommandOption kUsage = CommandOption::HelpText(
    "\n"
    "Usage: trkview VOLUME_FILE TRACK_FILE OUTPUT_PNG [OPTION]...\n"
    "\n"
    "Draws tracks over an axial slice of a volume (typically PREFIX_fa_color.nii from\n"
    "tenscalc; scalar volumes are shown in grey) and writes a PNG picture. Voxel column i\n"
    "runs to the right and row j downward; tracks are projected onto the slice.\n"
    "\n");
constexpr CommandOption kExample = CommandOption::HelpText(
    "\n"
    "Example: \n"
    "  trkview dti_fa_color.nii tracks.trk tracks.png -z 10\n"
    "  trkview dti_fa_color.nii tracks.trk qc.png -mosaic -caption \"sub-01\"\n"
    "\n");
constexpr const char* kHelpHelp =
    "  -h, --help\n"
    "          display this help\n";

int toInt(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

const OptionTable& TrkviewSettings::Options() {
    static const OptionTable table({
        kUsage, kSlice, kScale, kAll, StandardOptions::Help(kHelpHelp), kMosaic, kCaption,
        StandardOptions::kVersion, kExample,
    });
    return table;
}

RunStep TrkviewSettings::FromCommandLine(int argc, const CMyCmdParser& parser,
                                         TrkviewSettings* settings) {
    std::vector<std::string> positional;
    if (const RunStep stop =
            CommandLineOpening::Open(argc, parser, {"trkview", Options(), 3}, &positional)) {
        return stop;
    }
    settings->volumeName = positional[0];
    settings->trackName = positional[1];
    settings->pictureName = positional[2];
    settings->requestedSlice = toInt(parser.GetArgument(kSlice, 1, "-1"));
    settings->scale = toInt(parser.GetArgument(kScale, 1, "4"));
    settings->drawAll = parser.HasSwitch(kAll);
    settings->scaleGiven = parser.HasSwitch(kScale);
    settings->mosaic = parser.HasSwitch(kMosaic);
    settings->captionGiven = parser.HasSwitch(kCaption);
    if (settings->captionGiven) {
        if (!settings->mosaic) {
            return CommandLineOpening::UsageError(
                "trkview", "\nA caption is drawn only on a mosaic (-mosaic).");
        }
        settings->caption = parser.GetArgument(kCaption, 1, "");
    }
    return kGoOn;
}
