#include "PhantomSettings.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "CommandLineOpening.h"
#include "ExitStatus.h"
#include "PhantomModel.h"
#include "PhantomOrientation.h"
#include "StandardOptions.h"

namespace {

constexpr const char* kProgram = "dwiphantom";

struct NamedSize {
    const char* name;
    std::array<int, 3> dims;
};

constexpr NamedSize kSizes[] = {
    {"small", {32, 32, 20}},
    {"medium", {96, 96, 60}},
    {"large", {128, 128, 72}},
};

// A help text with its numbers written in.
template <typename... Numbers>
std::string formatted(const char* format, Numbers... numbers) {
    char text[512];
    std::snprintf(text, sizeof text, format, numbers...);
    return text;
}

// The prefix as typed, without a ".nii" ending: the outputs add their own endings.
std::string withoutNiftiEnding(std::string prefix) {
    if (prefix.size() > 4 && prefix.compare(prefix.size() - 4, 4, ".nii") == 0) {
        prefix.resize(prefix.size() - 4);
    }
    return prefix;
}

// Digits only, so that "3x", "+3" or "-3" are refused rather than read as far as they go.
bool readSubjectCount(const std::string& text, int* count) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *count = std::stoi(text);
    return *count >= 1 && *count <= PhantomSettings::kMaxSubjects;
}

RunStep readDataset(const CMyCmdParser& parser, bool bids,
                    const std::vector<std::string>& positional, PhantomSettings* settings) {
    const bool subjectsGiven = parser.HasSwitch(PhantomSettings::kSubjects);
    if (!bids) {
        if (subjectsGiven) {
            return CommandLineOpening::UsageError(
                kProgram, "\n-n sets the subjects of a -bids dataset: give -bids DIR too.");
        }
        return kGoOn;
    }
    if (!positional.empty()) {
        return CommandLineOpening::UsageError(
            kProgram, "\n-bids DIR takes the place of OUTPUT_PREFIX: give one of them, not '" +
                          positional[0] + "' as well.");
    }
    settings->bidsFolder = parser.GetArgument(PhantomSettings::kBids, 1, "");
    // "study/" names the same folder as "study", and the listed paths read better without "//".
    while (settings->bidsFolder.size() > 1 && settings->bidsFolder.back() == '/') {
        settings->bidsFolder.pop_back();
    }
    if (settings->bidsFolder.empty()) {
        return CommandLineOpening::UsageError(kProgram, "\n-bids needs the folder of the dataset.");
    }
    const std::string count =
        subjectsGiven ? parser.GetArgument(PhantomSettings::kSubjects, 1, "") : "1";
    if (!readSubjectCount(count, &settings->subjects)) {
        return CommandLineOpening::UsageError(
            kProgram, "\nNumber of subjects '" + count + "' is not a whole number from 1 to " +
                          std::to_string(PhantomSettings::kMaxSubjects) + ".");
    }
    return kGoOn;
}

bool isOption(const std::string& word, const CommandOption& option) {
    return word == option.shortName || word == option.longName;
}

// As the parser tells switches from values: "-5" and "-.5" are values.
bool isSwitchWord(const char* word) {
    return word[0] == '-' && !(word[1] >= '0' && word[1] <= '9') && word[1] != '.';
}

// "2:straight": a subject of the dataset, by number, and a bundle of its layout.
bool readLesion(const std::string& text, int subjects, const std::vector<std::string>& bundles,
                PhantomSettings::Lesion* lesion) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 3) {
        return false;
    }
    const std::string number = text.substr(0, colon);
    lesion->bundle = text.substr(colon + 1);
    if (number.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    lesion->subject = std::stoi(number);
    return lesion->subject >= 1 && lesion->subject <= subjects &&
           std::find(bundles.begin(), bundles.end(), lesion->bundle) != bundles.end();
}

// The parser keeps only the first occurrence of a switch, and -lesion may be repeated: every
// occurrence is read from the words themselves.
RunStep readLesions(int argc, const char* const* argv, bool bids,
                    const std::vector<std::string>& bundles, PhantomSettings* settings) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!isOption(word, PhantomSettings::kLesion)) {
            continue;
        }
        if (!bids) {
            return CommandLineOpening::UsageError(
                kProgram, "\n" + word + " marks a subject of a -bids dataset: give -bids DIR too.");
        }
        if (i + 1 >= argc || isSwitchWord(argv[i + 1])) {
            return CommandLineOpening::UsageError(kProgram,
                                                  "\nMissing argument(s) for " + word + ".");
        }
        const std::string value = argv[++i];
        PhantomSettings::Lesion lesion;
        if (!readLesion(value, settings->subjects, bundles, &lesion)) {
            std::string names;
            for (const std::string& name : bundles) {
                names += (names.empty() ? "" : ", ") + name;
            }
            return CommandLineOpening::UsageError(
                kProgram,
                "\n" + word + " must be SUBJECT:BUNDLE, SUBJECT a subject's number from 1 to " +
                    std::to_string(settings->subjects) + " and BUNDLE " +
                    (bundles.empty() ? std::string("a bundle, which -isotropic leaves out")
                                     : "one of " + names) +
                    ", not '" + value + "'.");
        }
        settings->lesions.push_back(lesion);
    }
    return kGoOn;
}

}  // namespace

PhantomModel::Layout PhantomSettings::Layout() const {
    return isotropic ? PhantomModel::Layout::Isotropic
           : slanted ? PhantomModel::Layout::WithSlanted
                     : PhantomModel::Layout::Standard;
}

std::vector<std::string> PhantomSettings::LesionedBundles(int subject) const {
    std::vector<std::string> bundles;
    for (const Lesion& lesion : lesions) {
        if (lesion.subject == subject) {
            bundles.push_back(lesion.bundle);
        }
    }
    return bundles;
}

const OptionTable& PhantomSettings::Options() {
    using P = PhantomSettings;
    static const std::string seedHelp = formatted(
        "  -seed, --seed <number>\n"
        "          seed of the Rician noise. default is %u\n", kDefaultSeed);
    static const std::string sigmaHelp = formatted(
        "  -sigma, --sigma <value>\n"
        "          standard deviation of each noise component. default is %g\n", kDefaultSigma);
    static const std::string obliqueHelp = formatted(
        "  -oblique, --oblique\n"
        "          PREFIX.nii declares voxel axes turned %g degrees about x, then %g\n"
        "          about z (with -las, after x is stored right to left)\n",
        PhantomOrientation::kObliqueAboutXDegrees, PhantomOrientation::kObliqueAboutZDegrees);
    static const std::string subjectsHelp = formatted(
        "  -n, --subjects <number>\n"
        "          subjects of the -bids dataset, 1 to %d, labelled 01, 02, ... (three\n"
        "          digits from 100 subjects on). default is 1\n", kMaxSubjects);
    static const OptionTable table({
        CommandOption::HelpText(
        "\n"
        "Usage: dwiphantom OUTPUT_PREFIX [OPTION]...\n"
        "\n"
        "Writes a synthetic diffusion acquisition (1 b0 + 64 directions, b = 1000, 2 mm voxels)\n"
        "with background, brain-like and CSF-like regions, a straight bundle, an arc bundle and\n"
        "a crossing, plus its ground truth:\n"
        "  PREFIX.nii                 4D int16 data, no header orientation (axial)\n"
        "  PREFIX.info                image information file (axial, slice order 1)\n"
        "  PREFIX_grad.txt            gradient table for 'tenscalc -gm'\n"
        "  PREFIX.bval, PREFIX.bvec   b-values and directions in the FSL (and BIDS) layout\n"
        "  PREFIX_truth_fa.nii        true FA (float)\n"
        "  PREFIX_truth_v1.nii        true principal direction (float, 3 volumes x, y, z)\n"
        "  PREFIX_truth_wm.nii        white-matter labels (int16): 1 straight, 2 arc,\n"
        "                             3 crossing bundle, 4 where the crossing bundles meet\n"
        "                             (5 slanted bundle, with -slanted)\n"
        "  PREFIX_truth_bundles.txt   bundle centre-lines in millimetres (text)\n"
        "  PREFIX_truth_bundles.trk   the same centre-lines as a track file\n"
        "\n"),
        P::kSize,
        P::kSeed.WithHelp(seedHelp.c_str()),
        P::kSigma.WithHelp(sigmaHelp.c_str()),
        P::kZeroBackground,
        P::kLas,
        P::kOblique.WithHelp(obliqueHelp.c_str()),
        P::kSlanted,
        P::kIsotropic,
        P::kShells,
        StandardOptions::Help(
        "  -h, --help\n"
        "          display this help\n"),
        P::kBids,
        P::kSubjects.WithHelp(subjectsHelp.c_str()),
        P::kLesion,
        StandardOptions::kVersion,
        CommandOption::HelpText(
        "\n"
        "Example: \n"
        "  dwiphantom demo/phantom -s small\n"
        "  tenscalc demo/phantom.nii demo/phantom -gm demo/phantom_grad.txt\n"
        "  dwiphantom -bids demo/study -n 3\n"
        "  dwiphantom -bids demo/lesion -n 3 -lesion 2:straight\n"
        "\n"),
    });
    return table;
}

RunStep PhantomSettings::FromCommandLine(int argc, const char* const* argv,
                                         PhantomSettings* settings) {
    const CMyCmdParser parser(argc, argv);
    std::vector<std::string> positional;
    // A dataset folder takes the place of the prefix.
    const bool bids = parser.HasSwitch(kBids);
    if (const RunStep stop = CommandLineOpening::Open(
            argc, parser, {kProgram, Options(), bids ? 0u : 1u}, &positional)) {
        return stop;
    }
    if (const RunStep stop = readDataset(parser, bids, positional, settings)) {
        return stop;
    }

    const std::string size = parser.GetArgument(kSize, 1, "small");
    const NamedSize* chosen = nullptr;
    for (const NamedSize& named : kSizes) {
        if (size == named.name) {
            chosen = &named;
            break;
        }
    }
    if (chosen == nullptr) {
        return CommandLineOpening::UsageError(kProgram, "\nUnrecognized size '" + size + "'.");
    }
    settings->dims = chosen->dims;

    const std::string seedText = parser.GetArgument(kSeed, 1, "");
    settings->seed = seedText.empty()
                         ? kDefaultSeed
                         : static_cast<unsigned>(std::strtoul(seedText.c_str(), nullptr, 10));
    settings->zeroBackground = parser.HasSwitch(kZeroBackground);
    settings->las = parser.HasSwitch(kLas);
    settings->oblique = parser.HasSwitch(kOblique);
    settings->slanted = parser.HasSwitch(kSlanted);
    settings->isotropic = parser.HasSwitch(kIsotropic);
    if (settings->slanted && settings->isotropic) {
        return CommandLineOpening::UsageError(
            kProgram, "\n-slanted adds a bundle and -isotropic leaves out every bundle: use one.");
    }
    const std::string sigmaText = parser.GetArgument(kSigma, 1, "");
    // The option table has refused a negative or non-numeric sigma.
    settings->sigma = sigmaText.empty() ? kDefaultSigma : std::strtod(sigmaText.c_str(), nullptr);
    if (parser.HasSwitch(kShells)) {
        // The option table has checked every item.
        for (const std::string& item : OptionTable::ListItems(parser.GetArgument(kShells, 1, ""))) {
            settings->shells.push_back(std::strtod(item.c_str(), nullptr));
        }
    }
    if (const RunStep stop = readLesions(argc, argv, bids,
                                         PhantomModel::BundleNames(settings->Layout()), settings)) {
        return stop;
    }
    if (!bids) {
        settings->prefix = withoutNiftiEnding(positional[0]);
    }
    return kGoOn;
}
