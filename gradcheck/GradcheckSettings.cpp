#include "GradcheckSettings.h"

#include <cstdio>
#include <cstdlib>

#include "AcquisitionOptions.h"
#include "CommandLineOpening.h"
#include "ConsoleMessages.h"
#include "ExitStatus.h"
#include "NiftiFileNames.h"
#include "OrientationOptions.h"
#include "StandardOptions.h"
#include "ThreadCount.h"

namespace {

constexpr CommandOption kUsage = CommandOption::HelpText(
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
    "The raw data and its gradients are read as tenscalc reads them:\n"
    "\n");
constexpr CommandOption kMask = CommandOption::Checked(
    "-m", "--mask", 1, 3, CommandOption::Value::Text(),
    CommandOption::Value::Decimal(-CommandOption::kUnbounded, CommandOption::kUnbounded),
    "  -m, --mask <mask_file> <low_threshold> <high_threshold>\n"
    "          white-matter mask for seeds and tracking. default: FA >= 0.3 of the\n"
    "          table as given, inside the b0 background window\n");
constexpr CommandOption kExport = CommandOption::Checked(
    "-export", "--export", CommandOption::Value::Text(),
    "  -export, --export <filename>\n"
    "          write the table the check finds right, in the input's own format\n"
    "          (a gradient table for -gm, a .bvec file for -bvec)\n");
constexpr const char* kThreadsHelp =
    "  -nthreads, --nthreads <number>\n"
    "          threads; default: DTI_NTHREADS, else every processor this process may use\n";
// Unlike tenscalc's "-b_value", the usual two dashes: gradcheck has no old scripts to serve.
constexpr CommandOption kBValue = CommandOption::Checked(
    "-b", "--b_value", CommandOption::Value::Decimal(-CommandOption::kUnbounded, CommandOption::kUnbounded),
    "  -b, --b_value <b_value>\n"
    "          b value of a -gm table without b values. default is 1000\n");
constexpr CommandOption kExample = CommandOption::HelpText(
    "\n"
    "Example: \n"
    "  gradcheck sub-01_dwi.nii.gz -bvec sub-01_dwi.bvec -bval sub-01_dwi.bval\n"
    "\n");

int usageError(const std::string& message) {
    return CommandLineOpening::UsageError(GradcheckSettings::kProgramName, message);
}

}  // namespace

const OptionTable& GradcheckSettings::Options() {
    using A = AcquisitionOptions;
    using O = OrientationOptions;
    static const OptionTable table({
        kUsage,          A::kGradientMatrix, A::kBvecs,    A::kBvals,
        kBValue,         A::kNumberOfB0,     O::kImageInfo, O::kOrientation,
        O::kSagittal,    O::kCoronal,        O::kAxial,    A::kObliqueCorrection,
        A::kPaddings,    A::kStartNumber,
        CommandOption::HelpText("\nThe check:\n\n"),
        kMask,           kExport,            StandardOptions::Threads(kThreadsHelp),
        StandardOptions::Help("  -h, --help\n          display this help\n"),
        StandardOptions::kVersion,           kExample,
    });
    return table;
}

RunStep GradcheckSettings::FromCommandLine(int argc, const char* const* argv,
                                           GradcheckSettings* settings) {
    const CMyCmdParser parser(argc, argv);
    std::vector<std::string> positional;
    const CommandLineOpening::Program program = {kProgramName, Options(), 1};
    if (const RunStep stop = CommandLineOpening::Open(argc, parser, program, &positional)) {
        return stop;
    }
    AcquisitionSettings& data = settings->data;
    ConsoleMessages messages(kProgramName);
    if (const RunStep stop = AcquisitionOptions::ReadGradientSource(
            parser, "\nPlease specify a matrix file with -gm, or -bvec and -bval.", data,
            messages)) {
        return stop;
    }
    if (parser.HasSwitch(kMask)) {
        settings->maskValues = parser.GetNumberOfArguments(kMask);
        settings->maskFile = parser.GetArgument(kMask, 1, "");
        settings->maskLow = static_cast<float>(std::strtod(parser.GetArgument(kMask, 2, "1").c_str(), nullptr));
        settings->maskHigh =
            static_cast<float>(std::strtod(parser.GetArgument(kMask, 3, "1e30").c_str(), nullptr));
    }
    settings->exportFile = parser.GetArgument(kExport, 1, "");
    std::string problem;
    if (!ThreadCount::Choose(parser.GetArgument(StandardOptions::Threads(""), 1, ""),
                             &data.threads, &problem)) {
        return usageError("\n" + problem);
    }
    if (!problem.empty()) {
        std::printf("%s\n", problem.c_str());  // a note: fewer threads than asked
    }
    AcquisitionOptions::ReadTableValues(parser, kBValue, data);
    AcquisitionOptions::ReadSeriesNumbering(parser, data);
    AcquisitionOptions::ReadOrientation(parser, data);

    data.rawDataArgument = positional[0];
    data.rawDataName = get_valid_nifti_filename(positional[0], data.startNumber, data.paddings);
    if (data.rawDataName.empty()) {
        std::fprintf(stderr, "\nCan not find given raw data file.\n");
        return kExitFailure;
    }
    return kGoOn;
}
