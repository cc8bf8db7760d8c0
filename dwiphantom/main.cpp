// dwiphantom: writes a synthetic diffusion acquisition with known ground truth, for trying out
// and measuring the tenscalc -> fiberwalk -> trksmooth pipeline.

#include <nifti1.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "ExitStatus.h"
#include "GradientScheme.h"
#include "PhantomFiles.h"
#include "PhantomModel.h"

namespace {

constexpr double kBValue = 1000.0;
constexpr float kVoxelSize = 2.0f;
constexpr int kDirectionCount = 64;
constexpr unsigned kDefaultSeed = 20240607u;
constexpr double kDefaultSigma = 20.0;

void ShowHelp() {
    std::printf(
        "\n"
        "Usage: dwiphantom OUTPUT_PREFIX [OPTION]...\n"
        "\n"
        "Writes a synthetic diffusion acquisition (1 b0 + 64 directions, b = 1000, 2 mm voxels)\n"
        "with background, brain-like and CSF-like regions, a straight bundle, an arc bundle and\n"
        "a crossing, plus its ground truth:\n"
        "  PREFIX.nii                 4D int16 data, no header orientation (axial)\n"
        "  PREFIX.info                image information file (axial, slice order 1)\n"
        "  PREFIX_grad.txt            gradient table for 'tenscalc -gm'\n"
        "  PREFIX_truth_fa.nii        true FA (float)\n"
        "  PREFIX_truth_v1.nii        true principal direction (float, 3 volumes x, y, z)\n"
        "  PREFIX_truth_wm.nii        white-matter labels (int16): 1 straight, 2 arc,\n"
        "                             3 crossing bundle, 4 where the crossing bundles meet\n"
        "  PREFIX_truth_bundles.txt   bundle centre-lines in millimetres (text)\n"
        "  PREFIX_truth_bundles.trk   the same centre-lines as a track file\n"
        "\n"
        "  -s, --size <small|medium|large>\n"
        "          32x32x20, 96x96x60 or 128x128x72 voxels. default is small\n"
        "  -seed, --seed <number>\n"
        "          seed of the Rician noise. default is %u\n"
        "  -sigma, --sigma <value>\n"
        "          standard deviation of each noise component. default is %g\n"
        "  -zb, --zero_background\n"
        "          no noise outside the head: background voxels hold zeros\n"
        "  -h, --help\n"
        "          display this help\n"
        "\n"
        "Example: \n"
        "  dwiphantom demo/phantom -s small\n"
        "  tenscalc demo/phantom.nii demo/phantom -gm demo/phantom_grad.txt\n"
        "\n",
        kDefaultSeed, kDefaultSigma);
}

void ShowHint() {
    std::printf("Type 'dwiphantom --help' for more information.\n");
}

std::string BundlesText(const PhantomModel& model) {
    std::string text;
    char line[512];
    std::snprintf(line, sizeof line,
                  "# dwiphantom bundle centre-lines in millimetres; voxel (i, j, k) spans\n"
                  "# [i*%.3f, (i+1)*%.3f) along each axis.\n"
                  "# bundle NAME LABEL RADIUS_MM POINT_COUNT, then one 'x y z' line per point\n",
                  model.voxelSize(), model.voxelSize());
    text += line;
    for (const PhantomModel::Bundle& bundle : model.bundles()) {
        std::snprintf(line, sizeof line, "bundle %s %d %.6f %zu\n", bundle.name.c_str(),
                      bundle.label, bundle.radiusMm, bundle.centreLine.size());
        text += line;
        for (const Vec3& p : bundle.centreLine) {
            std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", p[0], p[1], p[2]);
            text += line;
        }
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const CMyCmdParser parser(argc, argv);
    if (argc < 2 || parser.HasSwitch("-h", "--help")) {
        ShowHelp();
        return kExitSuccess;
    }
    const std::vector<CMyCmdParser::SwitchSpec> switches = {{"-s", "--size", 1},
                                                            {"-seed", "--seed", 1},
                                                            {"-sigma", "--sigma", 1},
                                                            {"-zb", "--zero_background", 0},
                                                            {"-h", "--help", 0}};
    std::vector<std::string> positional;
    const std::string unknown = parser.ExtractPureArguments(&positional, switches);
    if (!unknown.empty()) {
        std::fprintf(stderr, "\nUnrecognized switch '%s'.\n", unknown.c_str());
        ShowHint();
        return kExitUsage;
    }
    if (positional.empty()) {
        std::fprintf(stderr, "\nMissing argument(s).\n");
        ShowHint();
        return kExitUsage;
    }

    const std::string size = parser.GetArgument("-s", "--size", 1, "small");
    int dims[3] = {0, 0, 0};
    if (size == "small") {
        dims[0] = 32, dims[1] = 32, dims[2] = 20;
    } else if (size == "medium") {
        dims[0] = 96, dims[1] = 96, dims[2] = 60;
    } else if (size == "large") {
        dims[0] = 128, dims[1] = 128, dims[2] = 72;
    } else {
        std::fprintf(stderr, "\nUnrecognized size '%s'.\n", size.c_str());
        ShowHint();
        return kExitUsage;
    }
    const std::string seedText = parser.GetArgument("-seed", "--seed", 1, "");
    const unsigned seed = seedText.empty()
                              ? kDefaultSeed
                              : static_cast<unsigned>(std::strtoul(seedText.c_str(), nullptr, 10));
    const bool zeroBackground = parser.HasSwitch("-zb", "--zero_background");
    const std::string sigmaText = parser.GetArgument("-sigma", "--sigma", 1, "");
    const double sigma =
        sigmaText.empty() ? kDefaultSigma : std::strtod(sigmaText.c_str(), nullptr);
    if (!(sigma >= 0.0)) {
        std::fprintf(stderr, "\nNoise sigma must not be negative.\n");
        return kExitUsage;
    }

    std::string prefix = positional[0];
    if (prefix.size() > 4 && prefix.compare(prefix.size() - 4, 4, ".nii") == 0) {
        prefix.resize(prefix.size() - 4);
    }
    const std::filesystem::path folder = std::filesystem::path(prefix).parent_path();
    std::error_code ignored;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ignored);
    }

    const PhantomModel model(dims[0], dims[1], dims[2], kVoxelSize);
    const GradientScheme scheme(kDirectionCount);
    const size_t voxels = static_cast<size_t>(dims[0]) * dims[1] * dims[2];
    const int volumes = 1 + kDirectionCount;

    std::vector<PhantomModel::Voxel> layout;
    layout.reserve(voxels);
    for (int k = 0; k < dims[2]; ++k) {
        for (int j = 0; j < dims[1]; ++j) {
            for (int i = 0; i < dims[0]; ++i) {
                layout.push_back(model.Classify(i, j, k));
            }
        }
    }

    // Rician magnitude: the noise-free signal is the real part of a complex value, and both
    // channels get independent Gaussian noise. Drawing in file order from one fixed-seed
    // generator makes the data reproducible.
    std::mt19937 generator(seed);
    std::normal_distribution<double> noise(0.0, sigma > 0.0 ? sigma : 1.0);
    std::vector<short> dwi(voxels * volumes);
    for (int t = 0; t < volumes; ++t) {
        for (size_t p = 0; p < voxels; ++p) {
            const double clean =
                t == 0 ? layout[p].s0
                       : PhantomModel::Signal(layout[p], scheme.directions()[t - 1], kBValue);
            double real = clean;
            double imaginary = 0.0;
            // Benchmarks want a head in an empty field, as skull-stripped data has.
            if (sigma > 0.0 && !(zeroBackground && layout[p].s0 == 0.0)) {
                real += noise(generator);
                imaginary += noise(generator);
            }
            const double magnitude = std::round(std::hypot(real, imaginary));
            dwi[static_cast<size_t>(t) * voxels + p] =
                static_cast<short>(std::min(magnitude, 32767.0));
        }
    }

    std::vector<float> fa(voxels);
    std::vector<float> v1(voxels * 3);
    std::vector<short> wm(voxels);
    for (size_t p = 0; p < voxels; ++p) {
        fa[p] = static_cast<float>(PhantomModel::TrueFA(layout[p]));
        const Vec3 direction = PhantomModel::TruePrincipalDirection(layout[p]);
        for (int c = 0; c < 3; ++c) {
            v1[c * voxels + p] = static_cast<float>(direction[c]);
        }
        wm[p] = static_cast<short>(layout[p].label);
    }

    const std::vector<int> dims3{dims[0], dims[1], dims[2]};
    const std::vector<int> dims4{dims[0], dims[1], dims[2], volumes};
    const std::vector<int> dimsVector{dims[0], dims[1], dims[2], 3};
    struct Output {
        std::string name;
        bool written;
    };
    const std::vector<Output> outputs = {
        {prefix + ".nii", PhantomFiles::WriteVolume(prefix + ".nii", dims4, DT_INT16, kVoxelSize,
                                                    "dwiphantom DWI b=1000", dwi.data(),
                                                    dwi.size() * sizeof(short))},
        {prefix + ".info", PhantomFiles::WriteAxialInfo(prefix + ".info")},
        {prefix + "_grad.txt", PhantomFiles::WriteText(prefix + "_grad.txt", scheme.TableText())},
        {prefix + "_truth_fa.nii",
         PhantomFiles::WriteVolume(prefix + "_truth_fa.nii", dims3, DT_FLOAT32, kVoxelSize,
                                   "dwiphantom true FA", fa.data(), fa.size() * sizeof(float))},
        {prefix + "_truth_v1.nii",
         PhantomFiles::WriteVolume(prefix + "_truth_v1.nii", dimsVector, DT_FLOAT32, kVoxelSize,
                                   "dwiphantom true principal direction", v1.data(),
                                   v1.size() * sizeof(float))},
        {prefix + "_truth_wm.nii",
         PhantomFiles::WriteVolume(prefix + "_truth_wm.nii", dims3, DT_INT16, kVoxelSize,
                                   "dwiphantom white-matter labels", wm.data(),
                                   wm.size() * sizeof(short))},
        {prefix + "_truth_bundles.txt",
         PhantomFiles::WriteText(prefix + "_truth_bundles.txt", BundlesText(model))},
        {prefix + "_truth_bundles.trk",
         PhantomFiles::WriteBundleTracks(prefix + "_truth_bundles.trk", model)},
    };

    std::printf(
        "\nPhantom: %d %d %d voxels of %.3f mm, %d volumes (1 b0 + %d directions), b = %g\n",
        dims[0], dims[1], dims[2], kVoxelSize, volumes, kDirectionCount, kBValue);
    int status = kExitSuccess;
    for (const Output& output : outputs) {
        if (output.written) {
            std::printf("Wrote %s\n", output.name.c_str());
        } else {
            std::fprintf(stderr, "\nCan not write file %s\n", output.name.c_str());
            status = kExitFailure;
        }
    }
    return status;
}
