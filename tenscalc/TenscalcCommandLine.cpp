#include "TenscalcCommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "CommandLineOpening.h"
#include "ExitStatus.h"
#include "NiftiFileNames.h"
#include "TenscalcSwitches.h"
#include "ThreadCount.h"

namespace {

using namespace tenscalcswitch;  // NOLINT(google-build-using-namespace)


struct OutputType {
    const char* keyword;
    const char* ending;
    const char* magic;  // empty: the raw data header's magic is kept
};

const OutputType kOutputTypes[] = {
    {"analyze", ".hdr", ""},
    {"ni1", ".hdr", "ni1"},
    {"nii", ".nii", "n+1"},
    {"nii.gz", ".nii.gz", "n+1"},
};

int usageError(const std::string& message) {
    return CommandLineOpening::UsageError(TenscalcCommandLine::kProgramName, message);
}

double toDouble(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}
int toInt(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

// Word for word as users and their scripts know it, misspellings ("seperate") included: do not
// correct them.
const char* const kHelpLines[] = {
    "",
    "tenscalc 0.6",
    "",
    "Usage: tenscalc RAW_DATA_FILE_NAME OUTPUT_FILE_PREFIX [OPTION]...",
    "",
    "  -ot, --output_type <type>",
    "          output file type. accepted values are: ",
    "             analyze -> analyze format 7.5 (NOT recommended)",
    "             ni1     -> nifti format saved in seperate .hdr and .img file",
    "             nii     -> nifti format with one .nii file (default)",
    "             nii.gz  -> nifti format with compression",
    "          default type is 'nii'",
    "  -gm, --gradient_matrix <filename> <MultiBvalue>",
    "          specify gradient matrix to use. required. if 'MultiBvalue' is 'true' ",
    "          or 1, it will either use the bvalues specified as the 4th component ",
    "          of each gradient vector, or use max b value scaled by the magnitude",
    "          of the vector",
    "  -b, --b_value <b_value>",
    "          set b value or maximum b value for multi-bvalue data. default is 1000",
    "  -b0, --number_of_b0 <number>",
    "          number of repeated b0 images on top. default is 1. the program ",
    "          assumes b0 images are on top",
    "  -nex, --nex <number>",
    "          number of averages. default is auto, meaning it will automatically",
    "          figure out how many averages based on the gradient table and number",
    "          of volumes in the 4D nifti file. auto only works on 4D input data",
    "",
    "  following 5 options are to provide image orientation information. if the ",
    "  input image(s) are genuine nifti format, these flags are NOT needed because",
    "  nifti header contains all the needed information. if the program can not ",
    "  find those information for image header, it will look for -info flag, ",
    "  if not then -iop, then -sag/cor/axial",
    "",
    "  -info, --image_info <filename>",
    "          specify image information file. the image info file is generated",
    "          from original dicom image by dcmvolgen program and contains image",
    "          orientation and other information needed for reconstruction and",
    "          tracking. by default will look into the image folder for .info file",
    "          NOTE: if info file was not found or given, the following '-iop', ",
    "          '-sag', '-cor', '-axial' will be used",
    "  -iop, --image_orientation_patient <filename or 6 numerical values>",
    "          specify image orientation vectors. if just one argument given,",
    "          will treat it as filename and read the orientation vectors from",
    "          the file. if 6 arguments are given, will treat them as 6 float ",
    "          numbers and construct the 1st and 2nd vector and calculate the 3rd",
    "          one automatically. ",
    "          this information will be used to determine image orientation, ",
    "          as well as to adjust gradient vectors with oblique angle when ",
    "          '-oc' flag is on",
    "          default use the identity matrix vectors",
    "  -sag, --sagittal",
    "          this flag is equal to '-iop 0 1 0 0 0 -1'",
    "  -cor, --coronal",
    "          this flag is equal to '-iop 1 0 0 0 0 -1'",
    "  -axial, --axial",
    "          this flag is equal to '-iop 1 0 0 0 1 0'",
    "          the above flags indicate image orientation. default is axial.",
    "          NOTE: '-iop', '-sag', '-cor' and '-axial' options will overwrite",
    "          what '-info' has given. usually if an .info file exists, it should",
    "          be used instead of providing '-iop', etc., options manually",
    "  end of image orientation options",
    "",
    "  -oc, --oblique_correction",
    "          when oblique angle(s) applied, some SIEMENS dti protocols do not ",
    "          adjust gradient accordingly, thus it requires adjustment for correct",
    "          diffusion tensor calculation",
    "  -b0_th, --b0_threshold <b0 image value>",
    "          program will use b0 image with the given threshold to mask out high",
    "          background of fa/adc maps. by default it will calculate threshold ",
    "          automatically. but if it failed, you need to set it manually.",
    "  -no_eigen, --no_eigen_output",
    "          do not write eigen-value and eigen-vector output",
    "  -no_tensor, --no_tensor_output",
    "          do not write tensor output",
    "  -no_exp, --no_exp_output",
    "          do not write exp output",
    "  -p, --paddings <number>",
    "          number of 0 paddings for input raw data file prefix. default",
    "          value is 3",
    "  -sn, --start_number <number>",
    "          start number of the input filename numbering. default is 1, meaning ",
    "          the first filename in the series is prefix001.img",
    "          NOTE: '-p' and '-sn' options are only effective when a series of ",
    "          single timepoint image files are given. when input is a 4D time ",
    "          series file, those options are ignored",
    "  -output_5d, --output_5d",
    "          output vector and tensor files as standard nifti vector/tensor",
    "          format which is defined as 5d volume (4th dimension size as 1).",
    "          by default output is multi-frame (4D) nifti file for easy data ",
    "          exchange with other software package",
    "  -h, --help ",
    "          display this help",
    "",
    "Example: ",
    "  tenscalc dtiraw.nii dti -gm dti_hsp_dti60.txt",
    "",
};

// Options added after the help text above, which stays as it is.
const char* const kAddedHelpLines[] = {
    "Gradient files as FSL and BIDS write them (instead of -gm):",
    "",
    "  -bvec, --bvecs <filename>",
    "          directions of every volume: three lines (x, y, z) of one number per",
    "          volume, or one line of three numbers per volume. they are read in the",
    "          voxel axes, with x negated when the voxel-to-world matrix of the raw",
    "          data (sform, else qform) has a positive determinant. needs -bval",
    "  -bval, --bvals <filename>",
    "          b value of every volume, on one line or one per line. b <= 50 marks",
    "          a b0 volume. the files list every volume, so -nex is not used",
    "  -export_grad, --export_grad <filename>",
    "          write the directions and b values the fit used as a gradient table",
    "          that '-gm <filename> 1' reads back to the same fit",
    "",
    "Example: ",
    "  tenscalc sub-01_dwi.nii.gz dti -bvec sub-01_dwi.bvec -bval sub-01_dwi.bval",
    "",
    "Fit:",
    "",
    "  -fit, --fit_method <ols|wls|iwls [rounds]>",
    "          ols: ordinary least squares on the log signal (the default).",
    "          wls: weighted least squares, each volume weighted by the square of the",
    "          signal the ordinary fit predicts for it: less noise in FA and",
    "          directions, at about twice the time of the fit.",
    "          iwls N: after wls, N more rounds (default 2), each weighted by the",
    "          signal the previous round predicts",
    "",
    "Threads:",
    "",
    "  -nthreads, --nthreads <number>",
    "          threads of the voxel fit. default: the DTI_NTHREADS environment",
    "          variable, else every processor this process may run on. the maps",
    "          are the same for every number of threads",
    "",
    "  --version",
    "          print the toolkit's version",
    "",
};

}  // namespace

const std::vector<CMyCmdParser::SwitchEntry>& TenscalcCommandLine::Switches() {
    static const std::vector<CMyCmdParser::SwitchEntry> table = {
        kGradientMatrix, kPaddings,      kHelp,          kNumberOfB0,   kBValue,
        kOrientation,    kNoEigen,       kNoTensor,      kNoExp,        kObliqueCorrection,
        kAxial,          kSagittal,      kCoronal,       kVoxelOrder,   kImageInfo,
        kB0Threshold,    kStartNumber,   kInputType,     kOutputType,   kColorBrightness,
        kNex,            kOutput5d,      kBvecs,         kBvals,        kExportGradients,
        kThreads,        kFitMethod,
    };
    return table;
}

void TenscalcCommandLine::ShowHint() {
    CommandLineOpening::PrintHint(kProgramName);
}

void TenscalcCommandLine::ShowHelp() {
    for (const char* line : kHelpLines) {
        std::cout << line << '\n';
    }
    for (const char* line : kAddedHelpLines) {
        std::cout << line << '\n';
    }
    std::cout.flush();
}

RunStep TenscalcCommandLine::ParseFslGradients(const CMyCmdParser& parser,
                                               TenscalcSettings& settings) {
    if (parser.HasSwitch(kGradientMatrix)) {
        return usageError("\nGive the gradients either with -gm or with -bvec and -bval, not both.");
    }
    if (!parser.HasSwitch(kBvecs) || !parser.HasSwitch(kBvals)) {
        return usageError("\n-bvec and -bval go together: give both.");
    }
    settings.bvecFile = parser.GetArgument(kBvecs, 1, "");
    settings.bvalFile = parser.GetArgument(kBvals, 1, "");
    if (settings.bvecFile.empty() || settings.bvalFile.empty()) {
        return usageError("\nMissing argument(s) for -bvec or -bval.");
    }
    if (parser.HasSwitch(kNex)) {
        return usageError("\n-nex cannot be used with -bvec and -bval: they list every volume.");
    }
    return kGoOn;
}

RunStep TenscalcCommandLine::Parse(int argc, const char* const* argv, TenscalcSettings& settings) {
    const CMyCmdParser parser(argc, argv);
    std::vector<std::string> positional;
    const CommandLineOpening::Program program = {kProgramName, &ShowHelp, 2};
    if (const RunStep stop =
            CommandLineOpening::Open(argc, parser, Switches(), program, &positional)) {
        return *stop;
    }
    if (parser.HasSwitch(kBvecs) || parser.HasSwitch(kBvals)) {
        if (const RunStep stop = ParseFslGradients(parser, settings)) {
            return stop;
        }
    } else {
        if (!parser.HasSwitch(kGradientMatrix)) {
            return usageError("\nPlease specify a matrix file with -gm.");
        }
        settings.gradientTable = parser.GetArgument(kGradientMatrix, 1, "");
        if (settings.gradientTable.empty()) {
            return usageError("\nMissing argument(s).");
        }
    }
    if (const RunStep stop = ParseAddedOptions(parser, settings)) {
        return stop;
    }

    const std::string tabled = parser.GetArgument(kGradientMatrix, 2, "");
    settings.tabledBValues = tabled == "1" || tabled == "true";
    if (settings.tabledBValues) {
        std::cout << "Using b values provided in gradient table" << std::endl;
    }
    settings.bValue = toDouble(parser.GetArgument(kBValue, 1, "1000"));
    if (settings.bValue <= 0) {
        settings.bValue = 1000.0;
    }
    settings.paddings = toInt(parser.GetArgument(kPaddings, 1, "3"));
    settings.startNumber = toInt(parser.GetArgument(kStartNumber, 1, "1"));
    if (settings.startNumber < 0) {
        settings.startNumber = 1;
    }

    settings.rawDataArgument = positional[0];
    settings.rawDataName =
        get_valid_nifti_filename(positional[0], settings.startNumber, settings.paddings);
    if (settings.rawDataName.empty()) {
        std::cerr << "\nCan not find given raw data file." << std::endl;
        return kExitFailure;
    }

    settings.outputPrefix = positional[1];
    const char last = settings.outputPrefix.empty() ? '\0' : settings.outputPrefix.back();
    if (last != '_' && last != '-') {
        settings.outputPrefix += "_";
    }

    if (const RunStep stop = ParseOutputType(parser, settings)) {
        return stop;
    }
    ParseRunOptions(parser, settings);
    return kGoOn;
}

RunStep TenscalcCommandLine::ParseAddedOptions(const CMyCmdParser& parser,
                                               TenscalcSettings& settings) {
    if (const RunStep stop = ParseFitMethod(parser, settings)) {
        return stop;
    }
    if (parser.HasSwitch(kThreads) && parser.GetNumberOfArguments(kThreads) < 1) {
        return usageError("\nMissing argument(s) for -nthreads.");
    }
    std::string threadProblem;
    if (!ThreadCount::Choose(parser.GetArgument(kThreads, 1, ""), &settings.threads,
                             &threadProblem)) {
        return usageError("\n" + threadProblem);
    }
    if (parser.HasSwitch(kExportGradients)) {
        settings.exportGradientFile = parser.GetArgument(kExportGradients, 1, "");
        if (settings.exportGradientFile.empty()) {
            return usageError("\nMissing argument(s) for -export_grad.");
        }
    }
    return kGoOn;
}

RunStep TenscalcCommandLine::ParseOutputType(const CMyCmdParser& parser,
                                             TenscalcSettings& settings) {
    const std::string type = parser.GetArgument(kOutputType, 1, "nii");
    const OutputType* chosen = nullptr;
    for (const auto& candidate : kOutputTypes) {
        if (type == candidate.keyword) {
            chosen = &candidate;
        }
    }
    if (chosen == nullptr) {
        return usageError("\nUnrecognized output type '" + type + "'.");
    }
    settings.outputEnding = chosen->ending;
    settings.outputMagic = chosen->magic;
    settings.analyzeOutput = type == "analyze";

    const std::string nex = parser.GetArgument(kNex, 1, "auto");
    settings.nex = nex == "auto" ? 0 : toInt(nex);
    if (nex != "auto" && settings.nex < 1) {
        std::cerr << "\nNEX must be equal or greater than 1";
        std::cerr.flush();
        return kExitUsage;
    }
    // Accepted for compatibility; the colour map uses the fixed scale 255.
    (void)toDouble(parser.GetArgument(kColorBrightness, 1, "1"));
    return kGoOn;
}

void TenscalcCommandLine::ReadOrientationSwitches(const CMyCmdParser& parser,
                                                  TenscalcSettings& settings) {
    settings.iopPresent = parser.HasSwitch(kOrientation);
    const int iopCount = parser.GetNumberOfArguments(kOrientation);
    for (int i = 1; i <= iopCount; ++i) {
        settings.iopValues.push_back(parser.GetArgument(kOrientation, i, ""));
    }
    settings.infoPresent = parser.HasSwitch(kImageInfo);
    settings.infoName = parser.GetArgument(kImageInfo, 1, "");
    settings.sagittal = parser.HasSwitch(kSagittal);
    settings.coronal = parser.HasSwitch(kCoronal);
    settings.axial = parser.HasSwitch(kAxial);
    settings.obliqueCorrection = parser.HasSwitch(kObliqueCorrection);
}

void TenscalcCommandLine::ParseRunOptions(const CMyCmdParser& parser, TenscalcSettings& settings) {
    const std::string b0 = parser.GetArgument(kNumberOfB0, 1, "0");
    settings.requestedB0 = b0 == "auto" ? 0 : toInt(b0);
    settings.writeEigen = !parser.HasSwitch(kNoEigen);
    settings.writeTensor = !parser.HasSwitch(kNoTensor);
    settings.writeExp = !parser.HasSwitch(kNoExp);
    settings.output5d = parser.HasSwitch(kOutput5d);

    ReadOrientationSwitches(parser, settings);

    settings.b0ThresholdValues = parser.GetNumberOfArguments(kB0Threshold);
    if (settings.b0ThresholdValues >= 1) {
        settings.b0Lower = toDouble(parser.GetArgument(kB0Threshold, 1, "0"));
    }
    if (settings.b0ThresholdValues >= 2) {
        settings.b0Upper = toDouble(parser.GetArgument(kB0Threshold, 2, "1e12"));
    }
}

RunStep TenscalcCommandLine::ParseFitMethod(const CMyCmdParser& parser,
                                            TenscalcSettings& settings) {
    if (!parser.HasSwitch(kFitMethod)) {
        return kGoOn;
    }
    const std::string method = parser.GetArgument(kFitMethod, 1, "");
    const int values = parser.GetNumberOfArguments(kFitMethod);
    const std::string methods = " The methods are ols, wls and iwls [rounds].";
    if (method == "ols" || method == "wls") {
        if (values > 1) {
            return usageError("\n-fit " + method + " takes no number ('" +
                              parser.GetArgument(kFitMethod, 2, "") + "' given).");
        }
        settings.fitMethod =
            method == "ols" ? WeightedFit::Method::kOrdinary : WeightedFit::Method::kWeighted;
        return kGoOn;
    }
    if (method == "iwls") {
        int rounds = 2;
        if (values > 1 && !ThreadCount::Parse(parser.GetArgument(kFitMethod, 2, ""), &rounds)) {
            return usageError("\n-fit iwls takes a whole number of rounds of at least 1, not '" +
                              parser.GetArgument(kFitMethod, 2, "") + "'.");
        }
        settings.fitMethod = WeightedFit::Method::kIterative;
        settings.fitExtraRounds = rounds;
        return kGoOn;
    }
    if (values < 1) {
        return usageError("\nMissing argument(s) for -fit." + methods);
    }
    return usageError("\nUnknown fit method '" + method + "'." + methods);
}
