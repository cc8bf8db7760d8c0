#pragma once
// Run settings of dwiphantom, settled from its command line, with the help text and the table
// of every switch the program knows.

#include <array>
#include <string>
#include <vector>

#include "CommandOption.h"
#include "OptionTable.h"
#include "PhantomModel.h"
#include "RunStep.h"

class PhantomSettings {
  public:
    static constexpr unsigned kDefaultSeed = 20240607u;
    static constexpr double kDefaultSigma = 20.0;
    static constexpr int kMaxSubjects = 999;

    // The help of -seed, -sigma, -oblique and -n states their defaults and bounds, and is
    // written out with them in Options().
    static constexpr CommandOption kSize = CommandOption::Checked(
        "-s", "--size", CommandOption::Value::Choice("small|medium|large"),
        "  -s, --size <small|medium|large>\n"
        "          32x32x20, 96x96x60 or 128x128x72 voxels. default is small\n");
    static constexpr CommandOption kSeed = CommandOption::Checked(
        "-seed", "--seed", CommandOption::Value::Integer(0, 4294967295.0), "");
    static constexpr CommandOption kSigma = CommandOption::Checked(
        "-sigma", "--sigma", CommandOption::Value::Decimal(0, CommandOption::kUnbounded), "");
    static constexpr CommandOption kZeroBackground = CommandOption::Flag(
        "-zb", "--zero_background",
        "  -zb, --zero_background\n"
        "          no noise outside the head: background voxels hold zeros\n");
    static constexpr CommandOption kLas = CommandOption::Flag(
        "-las", "--las",
        "  -las, --las\n"
        "          PREFIX.nii declares x stored right to left: sform and qform of\n"
        "          negative determinant. voxel data, truth maps and .info stay the same\n");
    static constexpr CommandOption kOblique = CommandOption::Flag("-oblique", "--oblique", "");
    static constexpr CommandOption kSlanted = CommandOption::Flag(
        "-slanted", "--slanted",
        "  -slanted, --slanted\n"
        "          one more straight bundle, along (1, 0.4, 0.9) and so out of the axial\n"
        "          plane, labelled 5. it is placed to meet no other bundle; a voxel shared\n"
        "          with one would keep that bundle's label and hold both fibres\n");
    static constexpr CommandOption kIsotropic = CommandOption::Flag(
        "-isotropic", "--isotropic",
        "  -isotropic, --isotropic\n"
        "          no bundles: brain-like and CSF-like tissue only, every white-matter label 0\n");
    static constexpr CommandOption kShells = CommandOption::Checked(
        "-shells", "--shells", CommandOption::Value::DecimalList(1, 100000),
        "  -shells, --shells <b,b,...>\n"
        "          several shells instead of b = 1000: the 64 directions at every b given\n"
        "          (for example 1000,2000,3000), after the b0. the signal then has a\n"
        "          kurtosis term, S = S0 exp(-b D + b^2 D^2 K / 6) with K 0.5 along a fibre\n"
        "          to 1.2 across it, 0.7 in brain-like tissue and 0 in CSF, so that the\n"
        "          higher shells are not mono-exponential; the gradient table then has the\n"
        "          b value as fourth number (read with '-gm PREFIX_grad.txt 1')\n");
    static constexpr CommandOption kBids = CommandOption::Checked(
        "-bids", "--bids", CommandOption::Value::Text(),
        "  -bids, --bids <folder>\n"
        "          instead of OUTPUT_PREFIX, a BIDS raw dataset of -n subjects in the folder.\n"
        "          every subject has noise of its own (its seed drawn from -seed and its\n"
        "          number) and its bundles and CSF moved by up to one voxel along each axis;\n"
        "          the other options apply to every subject. it writes\n"
        "            dataset_description.json, participants.tsv, README\n"
        "            sub-XX/dwi/sub-XX_dwi.nii.gz   gzip NIfTI whose sform and qform declare\n"
        "                                           the RAS matrix (or as -las, -oblique say)\n"
        "            sub-XX/dwi/sub-XX_dwi.bval, .bvec, .json\n"
        "          and the truth of each subject, in the same header, under\n"
        "            derivatives/phantom-truth/sub-XX/dwi/sub-XX_desc-truth_fa.nii.gz,\n"
        "            _v1.nii.gz, _wm.nii.gz, _bundles.txt and _bundles.trk\n"
        "          and, for selecting each bundle's tracks, two planes across every bundle\n"
        "          (uint8 masks on the acquisition's grid, in its header) under\n"
        "            derivatives/phantom-rois/sub-XX/dwi/\n"
        "              sub-XX_bundle-NAME_desc-start_mask.nii.gz  near the bundle's start\n"
        "              sub-XX_bundle-NAME_desc-end_mask.nii.gz    near its end\n"
        "          NAME straight, arc, crossing (and slanted). a plane is perpendicular to the\n"
        "          bundle's centre-line (derivatives/phantom-truth/.../_bundles.txt) at 15 %\n"
        "          (start) or 85 % (end) of its length, one voxel thick, and reaches one voxel\n"
        "          beyond the bundle's radius. where another bundle's radius comes within 1.5\n"
        "          voxels of its voxels there, it takes the nearest place in steps of 1 % of\n"
        "          the length that keeps that far (towards the middle first; the straight\n"
        "          bundle's start plane so lies past the crossing), between 5 % from the\n"
        "          bundle's end and its middle; the run lists where each plane lies. a track\n"
        "          running the bundle's length passes through both planes, a track of\n"
        "          another bundle through neither\n");
    static constexpr CommandOption kLesion = CommandOption::Checked(
        "-lesion", "--lesion", CommandOption::Value::Text(),
        "  -lesion, --lesion <subject:bundle>\n"
        "          with -bids: the subject's bundle (straight, arc, crossing, or slanted with\n"
        "          -slanted) has a lesion over the middle 30 % of its length, where the\n"
        "          radial diffusivity of its fibres rises from 0.35e-3 to 0.7e-3 mm^2/s: FA\n"
        "          falls from 0.762 to 0.508 there, in the signal and in the subject's truth\n"
        "          FA. for example -lesion 2:straight. may be given several times\n");
    static constexpr CommandOption kSubjects = CommandOption::Checked(
        "-n", "--subjects", CommandOption::Value::Integer(1, kMaxSubjects), "");

    std::string prefix;                      // every output name starts with it; no ".nii" ending
    std::array<int, 3> dims = {32, 32, 20};  // voxels along x, y and z
    unsigned seed = kDefaultSeed;            // of the noise generator
    double sigma = kDefaultSigma;            // of each noise component; 0: no noise at all
    bool zeroBackground = false;             // no noise outside the head
    // The acquisition's header declares a voxel-to-world matrix; without either it has none.
    bool las = false;        // x stored right to left: a matrix of negative determinant
    bool oblique = false;    // the voxel axes turned away from the world axes
    bool slanted = false;    // one more bundle, out of the axial plane
    bool isotropic = false;  // no bundles at all
    // With a folder, a BIDS dataset of that many subjects is written there instead of one
    // acquisition at prefix, which is then empty.
    std::string bidsFolder;
    int subjects = 1;
    std::vector<double> shells;  // -shells: b values; empty: the one shell b = 1000
    // -lesion: the bundles of one subject (counted from 1) that carry a lesion.
    struct Lesion {
        int subject = 0;
        std::string bundle;
    };
    std::vector<Lesion> lesions;

    // Every option in the order of the help.
    static const OptionTable& Options();

    // Checks the command line and fills settings. Returns kGoOn when the run goes on; otherwise
    // the exit status after the help or a reported error.
    static RunStep FromCommandLine(int argc, const char* const* argv, PhantomSettings* settings);

    // The bundles the phantom holds.
    PhantomModel::Layout Layout() const;
    // The bundles of subject (counted from 1) that carry a lesion.
    std::vector<std::string> LesionedBundles(int subject) const;
};
