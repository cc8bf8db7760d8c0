#include "ConvertSettings.h"

#include "CommandLineOpening.h"
#include "StandardOptions.h"

const OptionTable& ConvertSettings::Options() {
    static const OptionTable table({
        OptionSpec::HelpText(
            "\n"
            "Usage: trkconvert INPUT OUTPUT [OPTION]...\n"
            "\n"
            "Converts tracks between the toolkit's .trk files and MRtrix3's .tck files, by the\n"
            "files' endings. A .tck file holds points in RAS millimetres and nothing else: .trk\n"
            "points are turned into RAS by the header's voxel-to-world matrix (voxel centres at\n"
            "the middle of each voxel), and back with the grid of -ref. Tracks with values per\n"
            "point or per track cannot be written to a .tck file.\n"
            "\n"),
        kReference,
        StandardOptions::Help("  -h, --help\n          display this help\n"),
        StandardOptions::kVersion,
        OptionSpec::HelpText(
            "\n"
            "Example: \n"
            "  trkconvert tracks.trk tracks.tck\n"
            "  trkconvert tracks.tck tracks.trk -ref dti_fa.nii\n"
            "\n"),
    });
    return table;
}

RunStep ConvertSettings::FromCommandLine(int argc, const char* const* argv,
                                         ConvertSettings* settings) {
    const CMyCmdParser parser(argc, argv);
    std::vector<std::string> positional;
    if (const RunStep stop =
            CommandLineOpening::Open(argc, parser, {kProgramName, Options(), 2}, &positional)) {
        return stop;
    }
    if (positional.size() > 2) {
        return CommandLineOpening::UsageError(kProgramName,
                                              "\nOne input and one output, not '" +
                                                  positional[2] + "' as well.");
    }
    settings->input = positional[0];
    settings->output = positional[1];
    settings->reference = parser.GetArgument(kReference, 1, "");
    return kGoOn;
}
