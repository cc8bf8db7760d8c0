#include "ProfileSettings.h"

#include <cstdlib>
#include <cstring>

#include "CommandLineOpening.h"
#include "StandardOptions.h"
#include "ThreadCount.h"

namespace {

constexpr CommandOption kUsage = CommandOption::HelpText(
    "\n"
    "Usage: trkprofile TRACKS [OPTION]...\n"
    "\n"
    "Tractometry of one bundle: selects the tracks of a track file (.trk, .tck or .trx) that\n"
    "pass through masks, samples maps along them, and writes the bundle's figures (-stats)\n"
    "and its profile (-profile): the maps' means at equally spaced nodes along the bundle.\n"
    "\n"
    "Masks and maps are NIfTI or Analyze volumes on the tracks' grid: the dimensions and\n"
    "voxel sizes of the track file's header (for a .tck file, which has no grid, those of\n"
    "the first mask or map named). A point lies in a mask when the voxel containing it is\n"
    "not zero: voxel i spans [i*s, (i+1)*s) of the track file's voxel millimetres, s the\n"
    "voxel size; a point outside the grid lies in no mask. Only the points of a track count,\n"
    "not the segments between them.\n"
    "\n"
    "Selection:\n"
    "\n");

constexpr CommandOption kInclude = CommandOption::Checked(
    "-include", "--include", CommandOption::Value::Text(),
    "  -include, --include <mask>\n"
    "          keep only tracks with a point in the mask. may be given several times:\n"
    "          a track must then pass through every one\n");

constexpr CommandOption kExclude = CommandOption::Checked(
    "-exclude", "--exclude", CommandOption::Value::Text(),
    "  -exclude, --exclude <mask>\n"
    "          drop every track with a point in the mask. may be given several times\n");

constexpr CommandOption kEnds = CommandOption::Checked(
    "-ends", "--ends", CommandOption::Value::Text(),
    "  -ends, --ends <mask>\n"
    "          keep only tracks whose first or last point lies in the mask\n");

constexpr CommandOption kLength = CommandOption::Checked(
    "-length", "--length", 2, 2, CommandOption::Value::Decimal(0.0, CommandOption::kUnbounded),
    CommandOption::Value::Decimal(0.0, CommandOption::kUnbounded),
    "  -length, --length <min> <max>\n"
    "          keep only tracks from min to max millimetres long (both included)\n");

constexpr CommandOption kOutput = CommandOption::Checked(
    "-o", "--output", CommandOption::Value::Text(),
    "  -o, --output <tracks>\n"
    "          write the selected tracks, with their values per point and per track, in\n"
    "          the format the name ends in (.trk, .tck, .trx)\n"
    "\n"
    "Values along the tracks:\n"
    "\n");

constexpr CommandOption kMap = CommandOption::Checked(
    "-map", "--map", CommandOption::Value::Text(),
    "  -map, --map <name=file>\n"
    "          a map to sample along the tracks, named for the tables (fa=sub_fa.nii.gz).\n"
    "          may be given several times. values are interpolated trilinearly between\n"
    "          voxel centres, which lie at (i+0.5)*s in voxel millimetres; a point\n"
    "          beyond the outermost centres takes the value at the nearest point within\n"
    "          them (the edge voxels' values)\n");

constexpr CommandOption kStats = CommandOption::Checked(
    "-stats", "--stats", CommandOption::Value::Text(),
    "  -stats, --stats <file.tsv>\n"
    "          write a header line and one row for the bundle: bundle, tracks,\n"
    "          mean_length_mm, voxels (distinct voxels holding a point of a selected\n"
    "          track), and for each map NAME_mean, NAME_sd, NAME_median over every point\n"
    "          of the selected tracks and NAME_mean_of_tracks, the mean of the tracks'\n"
    "          own means. sd is the root mean square deviation (divided by n). NA where\n"
    "          there is nothing to measure\n");

constexpr CommandOption kProfile = CommandOption::Checked(
    "-profile", "--profile", CommandOption::Value::Text(),
    "  -profile, --profile <file.tsv>\n"
    "          write the profile, one row per map and node: bundle, node, map, mean, sd,\n"
    "          tracks. every selected track is turned to run the same way, resampled to\n"
    "          -nodes points equally spaced along its length (linear between its\n"
    "          points), and the maps sampled there; mean and sd are over the tracks at\n"
    "          each node. node 0 is the end nearest the -ends mask, else the first\n"
    "          -include mask (the end whose point is closer to the mask's centroid);\n"
    "          without either, a track is turned when its first point is closer to the\n"
    "          last point of the longest track than to its first. needs -map\n");

constexpr CommandOption kNodes = CommandOption::Checked(
    "-nodes", "--nodes",
    CommandOption::Value::Integer(2, static_cast<double>(ProfileSettings::kMostNodes)),
    "  -nodes, --nodes <number>\n"
    "          nodes of the profile. default is 100\n");

constexpr CommandOption kWeights = CommandOption::Checked(
    "-weights", "--weights", CommandOption::Value::Choice("uniform|gaussian"),
    "  -weights, --weights <uniform|gaussian>\n"
    "          how the tracks count at each node. uniform (the default): all alike.\n"
    "          gaussian: by exp(-d^2/2), d the Mahalanobis distance of the track's node\n"
    "          from the bundle's core there (the mean node position, with the covariance\n"
    "          of the node positions; a ridge is added when that is singular), so that\n"
    "          stray tracks count less (Yeatman et al. 2012). weights sum to 1 at a node\n");

constexpr CommandOption kBundle = CommandOption::Checked(
    "-bundle", "--bundle", CommandOption::Value::Text(),
    "  -bundle, --bundle <name>\n"
    "          the bundle's name in the tables. default is the track file's name\n"
    "          without its folder and ending\n"
    "\n"
    "Other options:\n"
    "\n");

constexpr const char* kThreadsHelp =
    "  -nthreads, --nthreads <number>\n"
    "          threads that measure the tracks. default: the DTI_NTHREADS environment\n"
    "          variable, else every processor this process may run on. the output is the\n"
    "          same for every number of threads\n";

constexpr CommandOption kClosing = CommandOption::HelpText(
    "\n"
    "Memory holds two windows of tracks at a time, plus, for -stats, every sampled value\n"
    "(4 bytes a point and map, for the median) and, for -profile, the node values of every\n"
    "selected track (4 bytes a node and map; 12 more a node with -weights gaussian).\n"
    "\n"
    "Example: \n"
    "  trkprofile tracks.trk -include plane.nii -map fa=dti_fa.nii -map md=dti_adc.nii\n"
    "             -stats cst.tsv -profile cst_profile.tsv -o cst.trk\n"
    "\n");

constexpr CommandOption kRepeatable[] = {kInclude, kExclude, kMap};

int usageError(const std::string& message) {
    return CommandLineOpening::UsageError(ProfileSettings::kProgramName, message);
}

bool isOption(const std::string& word, const CommandOption& option) {
    return word == option.shortName || word == option.longName;
}

// As the parser tells switches from values: "-5" and "-.5" are values.
bool isSwitchWord(const char* word) {
    return word[0] == '-' && !(word[1] >= '0' && word[1] <= '9') && word[1] != '.';
}

// The track file's name without its folders and its ending.
std::string stem(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

// A name the tables can hold as a column label.
bool isPlainName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!plain) {
            return false;
        }
    }
    return true;
}

// -map's value split at its first '='; nothing when it is not NAME=FILE.
std::optional<ProfileSettings::NamedMap> namedMap(const std::string& word) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos || equals + 1 == word.size()) {
        return std::nullopt;
    }
    ProfileSettings::NamedMap map{word.substr(0, equals), word.substr(equals + 1)};
    if (!isPlainName(map.name)) {
        return std::nullopt;
    }
    return map;
}

}  // namespace

const OptionTable& ProfileSettings::Options() {
    static const OptionTable table({
        kUsage,
        kInclude,
        kExclude,
        kEnds,
        kLength,
        kOutput,
        kMap,
        kStats,
        kProfile,
        kNodes,
        kWeights,
        kBundle,
        StandardOptions::Threads(kThreadsHelp),
        StandardOptions::Help("  -h, --help\n          display this help\n"),
        StandardOptions::kVersion,
        kClosing,
    });
    return table;
}

// The parser keeps the first occurrence of a switch: the options that may be repeated are
// collected here, each occurrence with its value, and the others may be given once only.
RunStep ProfileSettings::CollectRepeated(int argc, const char* const* argv,
                                         ProfileSettings* settings) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!isSwitchWord(argv[i])) {
            continue;
        }
        if (isOption(word, kEnds) && settings->gridImage_.empty() && i + 1 < argc) {
            settings->gridImage_ = argv[i + 1];
        }
        bool repeatable = false;
        for (const CommandOption& option : kRepeatable) {
            repeatable = repeatable || isOption(word, option);
        }
        if (!repeatable) {
            for (int j = i + 1; j < argc; ++j) {
                for (const CommandOption& option : Options().Entries()) {
                    if (option.IsSwitch() && isOption(word, option) && isOption(argv[j], option)) {
                        return usageError("\n" + word + " is given more than once.");
                    }
                }
            }
            continue;
        }
        if (i + 1 >= argc || isSwitchWord(argv[i + 1])) {
            return usageError("\nMissing argument(s) for " + word + ".");
        }
        const std::string value = argv[++i];
        if (isOption(word, kMap)) {
            const std::optional<NamedMap> map = namedMap(value);
            if (!map) {
                return usageError("\n" + word +
                                  " must be NAME=FILE, NAME of letters, digits, '_', '-' and '.'"
                                  ", not '" +
                                  value + "'.");
            }
            for (const NamedMap& earlier : settings->maps) {
                if (earlier.name == map->name) {
                    return usageError("\nTwo maps are named '" + map->name + "'.");
                }
            }
            settings->maps.push_back(*map);
        } else {
            (isOption(word, kInclude) ? settings->includes : settings->excludes).push_back(value);
        }
        if (settings->gridImage_.empty()) {
            settings->gridImage_ = isOption(word, kMap) ? settings->maps.back().file : value;
        }
    }
    return kGoOn;
}

RunStep ProfileSettings::FromCommandLine(int argc, const char* const* argv,
                                         ProfileSettings* settings) {
    const CMyCmdParser parser(argc, argv);
    std::vector<std::string> positional;
    if (const RunStep stop =
            CommandLineOpening::Open(argc, parser, {kProgramName, Options(), 1}, &positional)) {
        return stop;
    }
    if (positional.size() > 1) {
        return usageError("\nOne track file, not '" + positional[1] + "' as well.");
    }
    settings->tracks = positional[0];

    if (const RunStep stop = CollectRepeated(argc, argv, settings)) {
        return stop;
    }
    settings->ends = parser.GetArgument(kEnds, 1, "");
    if (parser.HasSwitch(kLength)) {
        const double low = std::strtod(parser.GetArgument(kLength, 1, "0").c_str(), nullptr);
        const double high = std::strtod(parser.GetArgument(kLength, 2, "0").c_str(), nullptr);
        if (low > high) {
            return usageError("\n-length's minimum " + parser.GetArgument(kLength, 1, "") +
                              " is above its maximum " + parser.GetArgument(kLength, 2, "") +
                              ".");
        }
        settings->length = LengthRange{low, high};
    }
    settings->selectedOutput = parser.GetArgument(kOutput, 1, "");
    settings->statsFile = parser.GetArgument(kStats, 1, "");
    settings->profileFile = parser.GetArgument(kProfile, 1, "");
    settings->nodes = std::atoi(parser.GetArgument(kNodes, 1, "100").c_str());
    settings->weights = parser.GetArgument(kWeights, 1, "uniform") == "gaussian"
                            ? Weights::kGaussian
                            : Weights::kUniform;
    if (!settings->profileFile.empty() && settings->maps.empty()) {
        return usageError("\n-profile needs at least one -map.");
    }
    settings->bundle = parser.GetArgument(kBundle, 1, "");
    if (settings->bundle.empty()) {
        settings->bundle = stem(settings->tracks);
    }
    if (settings->bundle.find_first_of("\t\n\r") != std::string::npos) {
        return usageError("\n-bundle must not hold tabs or line ends.");
    }
    std::string problem;
    if (!ThreadCount::Choose(parser.GetArgument(StandardOptions::Threads(""), 1, ""),
                             &settings->threads, &problem)) {
        return usageError("\n" + problem);
    }
    return kGoOn;
}
