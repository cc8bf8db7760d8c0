#include "TrackingSettings.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "CTrack.h"
#include "CommandLineOpening.h"
#include "ExitStatus.h"
#include "RunReport.h"
#include "ThreadCount.h"

namespace {

using Switch = CMyCmdParser::SwitchEntry;
constexpr Switch kStepLength = {"-l", "--step_length", 1};
constexpr Switch kAngleThreshold = {"-at", "--angle_threshold", 1};
constexpr Switch kHelp = {"-h", "--help", 0};
constexpr Switch kAngleWeights = {"-atw", "--angle_threshold_weight", 1};
constexpr Switch kMask = {"-m", "--mask", 3};
constexpr Switch kMask2 = {"-m2", "--mask2", 3};
constexpr Switch kFact = {"-fact", "--fact", 0};
constexpr Switch kRungeKutta2 = {"-rk2", "--runge_kutta2", 0};
constexpr Switch kTensorLine = {"-tl", "--tensor_line", 0};
constexpr Switch kOutputMask = {"-om", "--output_mask", 1};
constexpr Switch kInvertX = {"-ix", "--invert_x", 0};
constexpr Switch kInvertY = {"-iy", "--invert_y", 0};
constexpr Switch kInvertZ = {"-iz", "--invert_z", 0};
constexpr Switch kSwapXY = {"-sxy", "--swap_xy", 0};
constexpr Switch kSwapYZ = {"-syz", "--swap_yz", 0};
constexpr Switch kSwapZX = {"-szx", "--swap_zx", 0};
constexpr Switch kStreamLine = {"-sl", "--stream_line", 0};
constexpr Switch kOrientation = {"-iop", "--image_orientation_patient", 6};
constexpr Switch kVoxelOrder = {"-vorder", "--voxel_order", 1};
constexpr Switch kImageInfo = {"-info", "--image_info", 1};
constexpr Switch kSliceOrder = {"-sorder", "--slice_order", 1};
constexpr Switch kInputType = {"-it", "--input_type", 1};
constexpr Switch kRandomSeed = {"-rseed", "--random_seed", 1};
constexpr Switch kV2 = {"-v2", "--v2", 0};
constexpr Switch kV3 = {"-v3", "--v3", 0};
constexpr Switch kSeedMask = {"-sm", "--seed_mask", 3};
constexpr Switch kThreads = {"-nthreads", "--nthreads", 1};
constexpr Switch kSeed = {"-seed", "--seed", 1};

// Word for word as users and their scripts know it, misspellings ("seperate", "folloing")
// included: do not correct them.
const char* const kHelpLines[] = {
    "",
    "fiberwalk 0.5",
    "",
    "Usage: fiberwalk INPUT_DATA_PREFIX OUTPUT_FILE [OPTION]...",
    "",
    "  -it, --input_type <type>",
    "          input and output file type. accepted values are: ",
    "             analyze -> analyze format 7.5",
    "             ni1     -> nifti format saved in seperate .hdr and .img file",
    "             nii     -> nifti format with one .nii file",
    "             nii.gz  -> nifti format with compression",
    "          default type is 'nii'",
    "  -fact, --fact",
    "          use FACT method for tracking. this is the default method.",
    "  -rk2, --runge_kutta2",
    "          use 2nd order runge-kutta method for tracking. ",
    "  -tl, --tensor_line",
    "          use tensorline method for tracking. ",
    "  -sl, --stream_line",
    "          use interpolated streamline method with fixed step-length",
    "  -l, --step_length <step_length> ",
    "          set step length, in the unit of minimum voxel size.",
    "          default value is 0.5 for interpolated streamline method",
    "          and 0.1 for other methods",
    "  -at, --angle_threshold <angle_threshold>",
    "          set angle threshold. default value is 35 degree ",
    "  -atw, --angle_threshold_weight <filename>",
    "          set angle threshold weighting factor. weighting will be be applied ",
    "          on top of the angle_threshold",
    "  -rseed, --random_seed <number per voxel>",
    "          use random location in a voxel instead of the center of the voxel",
    "          to seed. can also define number of seed per voxel. default is 1",
    "  -sm, --seed_mask <mask_file> <low_threshold> <high_threshold>",
    "          mask for seed voxels. if provided, only voxels that are in the ",
    "          mask will be used as seed",
    "  -ix, --invert_x",
    "  -iy, --invert_y",
    "  -iz, --invert_z",
    "          invert x, y or z component(s) of the vector",
    "  -sxy, --swap_xy  ",
    "          swap x & y vectors while tracking",
    "  -syz, --swap_yz",
    "          swap y & z vectors while tracking",
    "  -szx, --swap_zx",
    "          swap x & z vectors while tracking",
    "  -m, --mask <mask_file> <low_threshold> <high_threshold>",
    "  -m2, --mask2 <mask_file> <low_threshold> <high_threshold>",
    "          threshold value for mask image. can combine 2 masks. ",
    "          if <threshold> not given, the program will try automatically find",
    "          the threshold",
    "  -om, --output_mask <output_file>",
    "          output a binary mask file in analyze format",
    "  -v2, --v2",
    "          using the 2nd eigenvector as the primary vector for fiber tracking",
    "  -v3, --v3",
    "          using the 3rd eigenvector as the primary vector for fiber tracking",
    "",
    "  following 4 options are to provide image orientation information. if the ",
    "  input data are genuine nifti format, these flags are NOT needed because",
    "  nifti header contains all the needed information. if the program can not ",
    "  find those information for input data header, it will use the folloing flags",
    "  to determine image orientation and slice order",
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
    "  -sorder, --slice_order <value>",
    "          set the slice order. 1 means normal, -1 means reversed. default",
    "          value is 1",
    "          NOTE: '-iop' and '-sorder' is used to determine '-vorder' if ",
    "          if '-vorder' is not explicitly given",
    "  -vorder, --voxel_order <value>",
    "          specify the voxel order in RL/AP/IS (human brain) reference. must be",
    "          3 letters with no space in between.",
    "          for example, RAS means the voxel row is from L->R, the column",
    "          is from P->A and the slice order is from I->S.",
    "          by default voxel order is determined by the image orientation",
    "          (but NOT guaranteed to be correct because of various standards).",
    "          for example, siemens axial image is LPS, coronal image is LIP and",
    "          sagittal image is PIL.",
    "          this information also is NOT needed for tracking but will be saved",
    "          in the track file and is essential for track display to map onto",
    "          the right coordinates",
    "",
    "          NOTE: .info file contains all the information for '-iop', '-sorder'",
    "          and '-vorder'. so if an .info file exists, it should be used instead",
    "          of applying '-iop', '-sorder' or '-vorder' manually, unless you want",
    "          to overwrite what '-info' option provided",
    "  -h, --help  ",
    "          display this help",
    "",
    "Example: ",
    "  fiberwalk test tracks.trk -m test_FA.img 0.15",
    "",
};

// Options added after the help text above, which stays as it is.
const char* const kAddedHelpLines[] = {
    "Threads and repeatable random seeds:",
    "",
    "  -nthreads, --nthreads <number>",
    "          threads of the seeding loop. default: the DTI_NTHREADS environment",
    "          variable, else every processor this process may run on. the track",
    "          file is the same for every number of threads",
    "  -seed, --seed <number>",
    "          seed of the random seed positions of '-rseed' (0 to 4294967295)",
    "          instead of the clock, so that a run can be repeated. the run log",
    "          records the seed of every random-seeded run as '-seed <number>'",
    "",
    "  --version",
    "          print the toolkit's version",
    "",
};

// A whole number from 0 to 4294967295; false otherwise.
bool parseSeed(const std::string& text, unsigned* seed) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(begin, &end, 10);
    const bool digitsOnly = end != begin && *end == '\0' && text.find('-') == std::string::npos;
    if (!digitsOnly || errno != 0 || value > UINT_MAX) {
        return false;
    }
    *seed = static_cast<unsigned>(value);
    return true;
}

// The reconstruction names its outputs prefix + "_" + suffix unless the prefix already ends
// with a separator.
std::string extendedPrefix(const std::string& prefix) {
    if (!prefix.empty() && (prefix.back() == '_' || prefix.back() == '-')) {
        return prefix;
    }
    return prefix + "_";
}

std::optional<std::string> suffixOfType(const std::string& type) {
    if (type == "analyze" || type == "ni1") {
        return std::string(".hdr");
    }
    if (type == "nii") {
        return std::string(".nii");
    }
    if (type == "nii.gz") {
        return std::string(".nii.gz");
    }
    return std::nullopt;
}

int methodOf(const CMyCmdParser& parser) {
    if (parser.HasSwitch(kStreamLine)) {
        return CTrack::kFixedStep;
    }
    if (parser.HasSwitch(kRungeKutta2)) {
        return CTrack::kRungeKutta2;
    }
    if (parser.HasSwitch(kTensorLine)) {
        return CTrack::kTensorLine;
    }
    return CTrack::kFACT;
}

int eigenvectorOf(const CMyCmdParser& parser) {
    if (parser.HasSwitch(kV2)) {
        return 1;
    }
    if (parser.HasSwitch(kV3)) {
        return 2;
    }
    return 0;
}

float parseFloat(const std::string& text) {
    return static_cast<float>(std::strtod(text.c_str(), nullptr));
}

TrackingSettings::MaskOption maskOption(const CMyCmdParser& parser, const Switch& mask) {
    TrackingSettings::MaskOption option;
    option.given = parser.HasSwitch(mask);
    option.file = parser.GetArgument(mask, 1, "");
    option.valueCount = parser.GetNumberOfArguments(mask);
    option.low = parseFloat(parser.GetArgument(mask, 2, ""));
    option.high = parseFloat(parser.GetArgument(mask, 3, ""));
    return option;
}

TrackingSettings::OrientationOptions orientationOptions(const CMyCmdParser& parser) {
    TrackingSettings::OrientationOptions options;
    options.orientationGiven = parser.HasSwitch(kOrientation);
    const int values = parser.GetNumberOfArguments(kOrientation);
    for (int i = 1; i <= values; ++i) {
        options.orientation.push_back(parser.GetArgument(kOrientation, i, ""));
    }
    options.infoGiven = parser.HasSwitch(kImageInfo);
    options.infoHasValue = parser.GetNumberOfArguments(kImageInfo) >= 1;
    options.infoFile = parser.GetArgument(kImageInfo, 1, "");
    options.sliceOrderGiven = parser.GetNumberOfArguments(kSliceOrder) >= 1;
    options.sliceOrder = std::strtol(parser.GetArgument(kSliceOrder, 1, "1").c_str(), nullptr, 10);
    options.voxelOrderGiven = parser.HasSwitch(kVoxelOrder);
    options.voxelOrderHasValue = parser.GetNumberOfArguments(kVoxelOrder) >= 1;
    options.voxelOrder = parser.GetArgument(kVoxelOrder, 1, "");
    return options;
}

TrackingSettings::VectorFrame vectorFrame(const CMyCmdParser& parser) {
    TrackingSettings::VectorFrame frame;
    frame.invertX = parser.HasSwitch(kInvertX);
    frame.invertY = parser.HasSwitch(kInvertY);
    frame.invertZ = parser.HasSwitch(kInvertZ);
    frame.swapXY = parser.HasSwitch(kSwapXY);
    frame.swapYZ = parser.HasSwitch(kSwapYZ);
    frame.swapZX = parser.HasSwitch(kSwapZX);
    return frame;
}

}  // namespace

const std::vector<CMyCmdParser::SwitchEntry>& TrackingSettings::Switches() {
    static const std::vector<CMyCmdParser::SwitchEntry> table = {
        kStepLength, kAngleThreshold, kHelp,        kAngleWeights, kMask,        kMask2,
        kFact,       kRungeKutta2,    kTensorLine,  kOutputMask,   kInvertX,     kInvertY,
        kInvertZ,    kSwapXY,         kSwapYZ,      kSwapZX,       kStreamLine,  kOrientation,
        kVoxelOrder, kImageInfo,      kSliceOrder,  kInputType,    kRandomSeed,  kV2,
        kV3,         kSeedMask,       kThreads,     kSeed,
    };
    return table;
}

RunStep TrackingSettings::FromCommandLine(int argc, const CMyCmdParser& parser,
                                                     TrackingSettings* settings) {
    std::vector<std::string> positional;
    const CommandLineOpening::Program program = {kProgramName, &ShowHelp, 2};
    if (const RunStep stop =
            CommandLineOpening::Open(argc, parser, Switches(), program, &positional)) {
        return stop;
    }
    settings->inputPrefix = positional[0];
    settings->outputFile = positional[1];

    settings->eigenvectorIndex = eigenvectorOf(parser);
    const std::string type = parser.GetArgument(kInputType, 1, "nii");
    const std::optional<std::string> suffix = suffixOfType(type);
    if (!suffix) {
        return RunReport::UsageErrorOnOutput("\nUnrecognized file type '" + type + "'.");
    }
    settings->inputSuffix = *suffix;
    const std::string prefix = extendedPrefix(settings->inputPrefix);
    settings->tensorFile = prefix + "tensor" + settings->inputSuffix;
    settings->defaultInfoFile = prefix.substr(0, prefix.size() - 1) + ".info";

    settings->randomSeeding = parser.HasSwitch(kRandomSeed);
    if (settings->randomSeeding) {
        const long count =
            std::strtol(parser.GetArgument(kRandomSeed, 1, "1").c_str(), nullptr, 10);
        settings->seedsPerVoxel = count < 1 ? 1 : static_cast<int>(count);
    }

    settings->methodCode = methodOf(parser);
    if (settings->methodCode == CTrack::kTensorLine && settings->eigenvectorIndex != 0) {
        return RunReport::UsageErrorWithoutHint(
            "\nCan not track v2 or v3 with tensor line method.");
    }

    if (parser.HasSwitch(kOutputMask) &&
        parser.GetNumberOfArguments(kOutputMask) < 1) {
        return RunReport::UsageError("\nMissing argument(s) for -om.");
    }
    settings->outputMaskFile = parser.GetArgument(kOutputMask, 1, "");
    settings->angleThreshold = parseFloat(parser.GetArgument(kAngleThreshold, 1, "35"));
    const char* defaultStep = settings->methodCode == CTrack::kFixedStep ? "0.5" : "0.05";
    settings->stepLength = parseFloat(parser.GetArgument(kStepLength, 1, defaultStep));
    // A step of 0 (also what text that is not a number reads as) would never leave a voxel.
    if (!(std::isfinite(settings->stepLength) && settings->stepLength > 0.0f)) {
        return RunReport::UsageError("\nStep length must be larger than 0.");
    }

    if (!parser.HasSwitch(kMask)) {
        return RunReport::UsageError("\nPlease specify first mask file by -m.");
    }
    if (parser.GetNumberOfArguments(kMask) < 1) {
        return RunReport::UsageError("\nMissing argument(s) for -m.");
    }
    settings->trackingMask = maskOption(parser, kMask);
    settings->secondMask = maskOption(parser, kMask2);
    settings->seedMask = maskOption(parser, kSeedMask);
    settings->angleWeightsGiven = parser.HasSwitch(kAngleWeights);
    settings->angleWeightsHasValue = parser.GetNumberOfArguments(kAngleWeights) >= 1;
    settings->angleWeightsFile = parser.GetArgument(kAngleWeights, 1, "");
    settings->orientation = orientationOptions(parser);
    if (const RunStep stop = threadsAndSeed(parser, settings)) {
        return stop;
    }
    settings->frame = vectorFrame(parser);
    return kGoOn;
}

RunStep TrackingSettings::threadsAndSeed(const CMyCmdParser& parser,
                                         TrackingSettings* settings) {
    if (parser.HasSwitch(kThreads) && parser.GetNumberOfArguments(kThreads) < 1) {
        return RunReport::UsageError("\nMissing argument(s) for -nthreads.");
    }
    std::string problem;
    if (!ThreadCount::Choose(parser.GetArgument(kThreads, 1, ""), &settings->threads, &problem)) {
        return RunReport::UsageError("\n" + problem);
    }
    settings->seedGiven = parser.HasSwitch(kSeed);
    if (settings->seedGiven) {
        const std::string text = parser.GetArgument(kSeed, 1, "");
        if (parser.GetNumberOfArguments(kSeed) < 1) {
            return RunReport::UsageError("\nMissing argument(s) for -seed.");
        }
        if (!parseSeed(text, &settings->seed)) {
            return RunReport::UsageError(
                "\n-seed must be a whole number from 0 to 4294967295, not '" + text + "'.");
        }
    }
    return kGoOn;
}

void TrackingSettings::ShowHelp() {
    for (const char* line : kHelpLines) {
        std::printf("%s\n", line);
    }
    for (const char* line : kAddedHelpLines) {
        std::printf("%s\n", line);
    }
    std::fflush(stdout);
}
