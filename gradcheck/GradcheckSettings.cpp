#include "GradcheckSettings.h"

#include <cstdio>
#include <cstdlib>

#include "CommandLineOpening.h"
#include "ExitStatus.h"
#include "NiftiFileNames.h"
#include "TenscalcCommandLine.h"
#include "TenscalcSwitches.h"
#include "ThreadCount.h"

namespace {

// The switches gradcheck shares with tenscalc, where it reads the data the same way.
using tenscalcswitch::kAxial;
using tenscalcswitch::kBvals;
using tenscalcswitch::kBvecs;
using tenscalcswitch::kCoronal;
using tenscalcswitch::kGradientMatrix;
using tenscalcswitch::kHelp;
using tenscalcswitch::kImageInfo;
using tenscalcswitch::kNumberOfB0;
using tenscalcswitch::kObliqueCorrection;
using tenscalcswitch::kOrientation;
using tenscalcswitch::kPaddings;
using tenscalcswitch::kSagittal;
using tenscalcswitch::kStartNumber;
using tenscalcswitch::kThreads;
using Switch = CMyCmdParser::SwitchEntry;
constexpr Switch kMask = {"-m", "--mask", 3};
constexpr Switch kExport = {"-export", "--export", 1};
// Unlike tenscalc's "-b_value", the usual two dashes: gradcheck has no old scripts to serve.
constexpr Switch kBValue = {"-b", "--b_value", 1};

const char* const kHelpText =
    "\n"
    "Usage: gradcheck RAW_DATA_FILE_NAME (-gm TABLE [tabled] | -bvec FILE -bval FILE) [OPTION]...\n"
    "\n"
    "Finds gradient tables whose axes are flipped or swapped against the image. For each of\n"
    "the 24 distinct axis permutations with sign flips of the directions, the tensor is fitted\n"
    "and FACT tracks are grown from a fixed set of white-matter seeds; the right table gives\n"
    "clearly the longest tracks. Prints the candidates, longest mean track first, and a verdict.\n"
    "Exit status: 0 the table looks right (the given table is within 3% of the longest mean\n"
    "track length), 3 the table looks wrong, 4 too little white matter to decide, 1 an input\n"
    "could not be read, 2 a wrong command line.\n"
    "\n"
    "  -gm, --gradient_matrix <filename> <tabled>\n"
    "          gradient table as tenscalc reads it; 'true' or 1: b values in the table\n"
    "  -bvec, --bvecs <filename>\n"
    "  -bval, --bvals <filename>\n"
    "          FSL/BIDS gradient files, as tenscalc reads them\n"
    "  -m, --mask <mask_file> <low_threshold> <high_threshold>\n"
    "          white-matter mask for seeds and tracking. default: FA >= 0.3 of the\n"
    "          table as given, inside the b0 background window\n"
    "  -export, --export <filename>\n"
    "          write the table the check finds right, in the input's own format\n"
    "          (a gradient table for -gm, a .bvec file for -bvec)\n"
    "  -nthreads, --nthreads <number>\n"
    "          threads; default: DTI_NTHREADS, else every processor this process may use\n"
    "  -b, --b_value <b_value>\n"
    "  -b0, --number_of_b0 <number>\n"
    "  -iop, --image_orientation_patient <filename or 6 numerical values>\n"
    "  -info, --image_info <filename>\n"
    "  -sag, --sagittal\n"
    "  -cor, --coronal\n"
    "  -axial, --axial\n"
    "  -oc, --oblique_correction\n"
    "  -p, --paddings <number>\n"
    "  -sn, --start_number <number>\n"
    "          as for tenscalc\n"
    "  -h, --help\n"
    "          display this help\n"
    "  --version\n"
    "          print the toolkit's version\n"
    "\n"
    "Example: \n"
    "  gradcheck sub-01_dwi.nii.gz -bvec sub-01_dwi.bvec -bval sub-01_dwi.bval\n"
    "\n";

int usageError(const std::string& message) {
    return CommandLineOpening::UsageError(GradcheckSettings::kProgramName, message);
}

int toInt(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

RunStep readGradientSource(const CMyCmdParser& parser, TenscalcSettings& data) {
    const bool fsl = parser.HasSwitch(kBvecs) || parser.HasSwitch(kBvals);
    if (fsl && parser.HasSwitch(kGradientMatrix)) {
        return usageError("\nGive the gradients either with -gm or with -bvec and -bval, not both.");
    }
    if (fsl) {
        data.bvecFile = parser.GetArgument(kBvecs, 1, "");
        data.bvalFile = parser.GetArgument(kBvals, 1, "");
        if (data.bvecFile.empty() || data.bvalFile.empty()) {
            return usageError("\n-bvec and -bval go together: give both.");
        }
        return kGoOn;
    }
    if (!parser.HasSwitch(kGradientMatrix)) {
        return usageError("\nPlease specify a matrix file with -gm, or -bvec and -bval.");
    }
    data.gradientTable = parser.GetArgument(kGradientMatrix, 1, "");
    if (data.gradientTable.empty()) {
        return usageError("\nMissing argument(s).");
    }
    const std::string tabled = parser.GetArgument(kGradientMatrix, 2, "");
    data.tabledBValues = tabled == "1" || tabled == "true";
    return kGoOn;
}

}  // namespace

const std::vector<CMyCmdParser::SwitchEntry>& GradcheckSettings::Switches() {
    static const std::vector<CMyCmdParser::SwitchEntry> table = {
        kGradientMatrix, kBvecs,     kBvals,    kMask,    kThreads,           kExport,
        kBValue,         kNumberOfB0, kOrientation, kImageInfo, kSagittal, kCoronal,
        kAxial,          kObliqueCorrection, kPaddings, kStartNumber, kHelp,
    };
    return table;
}

void GradcheckSettings::ShowHelp() {
    std::fputs(kHelpText, stdout);
}

RunStep GradcheckSettings::FromCommandLine(int argc, const char* const* argv,
                                           GradcheckSettings* settings) {
    const CMyCmdParser parser(argc, argv);
    std::vector<std::string> positional;
    const CommandLineOpening::Program program = {kProgramName, &ShowHelp, 1};
    if (const RunStep stop =
            CommandLineOpening::Open(argc, parser, Switches(), program, &positional)) {
        return stop;
    }
    TenscalcSettings& data = settings->data;
    if (const RunStep stop = readGradientSource(parser, data)) {
        return stop;
    }
    if (parser.HasSwitch(kMask)) {
        settings->maskValues = parser.GetNumberOfArguments(kMask);
        settings->maskFile = parser.GetArgument(kMask, 1, "");
        if (settings->maskFile.empty()) {
            return usageError("\nMissing argument(s) for -m.");
        }
        settings->maskLow = static_cast<float>(std::strtod(parser.GetArgument(kMask, 2, "1").c_str(), nullptr));
        settings->maskHigh =
            static_cast<float>(std::strtod(parser.GetArgument(kMask, 3, "1e30").c_str(), nullptr));
    }
    if (parser.HasSwitch(kExport)) {
        settings->exportFile = parser.GetArgument(kExport, 1, "");
        if (settings->exportFile.empty()) {
            return usageError("\nMissing argument(s) for -export.");
        }
    }
    std::string problem;
    if (parser.HasSwitch(kThreads) && parser.GetNumberOfArguments(kThreads) < 1) {
        return usageError("\nMissing argument(s) for -nthreads.");
    }
    if (!ThreadCount::Choose(parser.GetArgument(kThreads, 1, ""), &data.threads, &problem)) {
        return usageError("\n" + problem);
    }
    data.bValue = std::strtod(parser.GetArgument(kBValue, 1, "1000").c_str(), nullptr);
    if (data.bValue <= 0) {
        data.bValue = 1000.0;
    }
    const std::string b0 = parser.GetArgument(kNumberOfB0, 1, "0");
    data.requestedB0 = b0 == "auto" ? 0 : toInt(b0);
    data.paddings = toInt(parser.GetArgument(kPaddings, 1, "3"));
    data.startNumber = toInt(parser.GetArgument(kStartNumber, 1, "1"));
    if (data.startNumber < 0) {
        data.startNumber = 1;
    }
    TenscalcCommandLine::ReadOrientationSwitches(parser, data);

    data.rawDataArgument = positional[0];
    data.rawDataName = get_valid_nifti_filename(positional[0], data.startNumber, data.paddings);
    if (data.rawDataName.empty()) {
        std::fprintf(stderr, "\nCan not find given raw data file.\n");
        return kExitFailure;
    }
    return kGoOn;
}
