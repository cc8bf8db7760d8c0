#include "ConvertSettings.h"

#include "CommandLineOpening.h"
#include "StandardOptions.h"

const OptionTable& ConvertSettings::Options() {
    static const OptionTable table({
        CommandOption::HelpText(
            "\n"
            "Usage: trkconvert INPUT OUTPUT [OPTION]...\n"
            "\n"
            "Converts tracks between the toolkit's .trk files, MRtrix3's .tck files and TRX\n"
            "(.trx), by the files' endings. .tck and TRX hold points in RAS millimetres: .trk\n"
            "points are turned into RAS by the header's voxel-to-world matrix and voxel order\n"
            "(voxel centres in the middle of each voxel, as nibabel reads them), and back. TRX\n"
            "keeps values per point (dpv/) and per track (dps/); values per point go into .tsf\n"
            "files beside a .tck (OUT_NAME.tsf), values per track cannot. A .tck file has no\n"
            "grid: converting it to .trk or TRX takes the grid from -ref.\n"
            "\n"),
        kReference,
        StandardOptions::Help("  -h, --help\n          display this help\n"),
        StandardOptions::kVersion,
        CommandOption::HelpText(
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
