// dwiphantom: writes a synthetic diffusion acquisition with known ground truth, for trying out
// and measuring the tenscalc -> fiberwalk -> trksmooth pipeline.

#include <nifti1.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "CMyCmdParser.h"
#include "ExitStatus.h"
#include "FailureReason.h"
#include "GradientScheme.h"
#include "PhantomFiles.h"
#include "PhantomModel.h"
#include "PhantomOrientation.h"
#include "PhantomSettings.h"
#include "RunStep.h"

namespace {

constexpr double kBValue = 1000.0;
constexpr float kVoxelSize = 2.0f;
constexpr int kDirectionCount = 64;
constexpr int kVolumeCount = 1 + kDirectionCount;

// The synthesised acquisition and its ground truth, each in file order (x fastest).
struct Phantom {
    std::vector<short> dwi;  // the b0 volume, then one volume per direction
    std::vector<float> fa;
    std::vector<float> v1;  // three volumes: x, y and z of the principal direction
    std::vector<short> wm;  // white-matter labels
};

std::size_t voxelCount(const PhantomModel& model) {
    return static_cast<std::size_t>(model.dimx()) * model.dimy() * model.dimz();
}

std::vector<PhantomModel::Voxel> classifyVoxels(const PhantomModel& model) {
    std::vector<PhantomModel::Voxel> layout;
    layout.reserve(voxelCount(model));
    for (int k = 0; k < model.dimz(); ++k) {
        for (int j = 0; j < model.dimy(); ++j) {
            for (int i = 0; i < model.dimx(); ++i) {
                layout.push_back(model.Classify(i, j, k));
            }
        }
    }
    return layout;
}

// Rician magnitude: the noise-free signal is the real part of a complex value, and both
// channels get independent Gaussian noise. Drawing in file order from one fixed-seed generator
// makes the data reproducible.
std::vector<short> simulateSignals(const std::vector<PhantomModel::Voxel>& layout,
                                   const GradientScheme& scheme, const PhantomSettings& settings) {
    const std::size_t voxels = layout.size();
    std::mt19937 generator(settings.seed);
    std::normal_distribution<double> noise(0.0, settings.sigma > 0.0 ? settings.sigma : 1.0);
    std::vector<short> dwi(voxels * kVolumeCount);
    for (int t = 0; t < kVolumeCount; ++t) {
        for (std::size_t p = 0; p < voxels; ++p) {
            const double clean =
                t == 0 ? layout[p].s0
                       : PhantomModel::Signal(layout[p], scheme.directions()[t - 1], kBValue);
            double real = clean;
            double imaginary = 0.0;
            // Benchmarks want a head in an empty field, as skull-stripped data has.
            if (settings.sigma > 0.0 && !(settings.zeroBackground && layout[p].s0 == 0.0)) {
                real += noise(generator);
                imaginary += noise(generator);
            }
            const double magnitude = std::round(std::hypot(real, imaginary));
            dwi[static_cast<std::size_t>(t) * voxels + p] =
                static_cast<short>(std::min(magnitude, 32767.0));
        }
    }
    return dwi;
}

Phantom synthesise(const PhantomModel& model, const GradientScheme& scheme,
                   const PhantomSettings& settings) {
    const std::vector<PhantomModel::Voxel> layout = classifyVoxels(model);
    const std::size_t voxels = layout.size();
    Phantom phantom;
    phantom.dwi = simulateSignals(layout, scheme, settings);
    phantom.fa.resize(voxels);
    phantom.v1.resize(voxels * 3);
    phantom.wm.resize(voxels);
    for (std::size_t p = 0; p < voxels; ++p) {
        phantom.fa[p] = static_cast<float>(PhantomModel::TrueFA(layout[p]));
        const Vec3 direction = PhantomModel::TruePrincipalDirection(layout[p]);
        for (int c = 0; c < 3; ++c) {
            phantom.v1[c * voxels + p] = static_cast<float>(direction[c]);
        }
        phantom.wm[p] = static_cast<short>(layout[p].label);
    }
    return phantom;
}

std::string bundlesText(const PhantomModel& model) {
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

void createOutputFolder(const std::string& prefix) {
    const std::filesystem::path folder = std::filesystem::path(prefix).parent_path();
    std::error_code ignored;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ignored);
    }
}

template <typename T>
bool writeVolume(const std::string& path, const std::vector<int>& dims, int datatype,
                 const char* description, const std::vector<T>& values,
                 const std::optional<mat44>& voxelToWorld = std::nullopt) {
    return PhantomFiles::WriteVolume(path, dims, datatype, kVoxelSize, description, values.data(),
                                     values.size() * sizeof(T), voxelToWorld);
}

struct Output {
    std::string name;
    bool written;
    std::string reason;  // why it was not written, when that is known
};

// The gradient table and the FSL files follow the acquisition's header as it was written, read
// back the way tenscalc and FSL readers read it. A header without orientation needs no reading:
// tenscalc takes the axial default of the .info file and FSL counts it as positive.
std::vector<Output> writeGradientFiles(const std::string& prefix, const GradientScheme& scheme,
                                       bool headerOriented) {
    const std::string tableName = prefix + "_grad.txt";
    const std::string bvalName = prefix + ".bval";
    const std::string bvecName = prefix + ".bvec";
    PhantomOrientation::GradientFrame frame;
    std::string reason;
    bool known = true;
    if (headerOriented) {
        known = PhantomOrientation::ReadGradientFrame(prefix + ".nii", &frame, &reason);
        if (!known) {
            reason = "the directions depend on the header of " + prefix +
                     ".nii, which could not be read back: " + reason;
        }
    }
    std::string table;
    bool tableKnown = known;
    if (known && !frame.fromHeader) {
        table = scheme.TableText();
    } else if (known && !scheme.TableText(frame.tableToVoxel, &table)) {
        tableKnown = false;
        reason = "the header orientation of " + prefix +
                 ".nii turns gradient directions other than by swapping and negating axes";
    }
    std::vector<Output> outputs;
    outputs.push_back({tableName, tableKnown && PhantomFiles::WriteText(tableName, table),
                       tableKnown ? "" : reason});
    outputs.push_back({bvalName, PhantomFiles::WriteText(bvalName, scheme.BvalText(kBValue)), ""});
    outputs.push_back(
        {bvecName, known && PhantomFiles::WriteText(bvecName, scheme.BvecText(frame.negatesBvecX)),
         known ? "" : reason});
    return outputs;
}

// Writes every file, then lists what was written and reports what was not (status 1).
int writeOutputs(const std::string& prefix, const std::optional<mat44>& voxelToWorld,
                 const PhantomModel& model, const GradientScheme& scheme, const Phantom& phantom) {
    const int x = model.dimx();
    const int y = model.dimy();
    const int z = model.dimz();
    std::vector<Output> outputs = {
        {prefix + ".nii",
         writeVolume(prefix + ".nii", {x, y, z, kVolumeCount}, DT_INT16, "dwiphantom DWI b=1000",
                     phantom.dwi, voxelToWorld),
         ""},
        {prefix + ".info", PhantomFiles::WriteAxialInfo(prefix + ".info"), ""},
    };
    for (Output& output : writeGradientFiles(prefix, scheme, voxelToWorld.has_value())) {
        outputs.push_back(std::move(output));
    }
    // The truth is in the voxel frame whatever the acquisition's header declares.
    const std::vector<Output> truth = {
        {prefix + "_truth_fa.nii", writeVolume(prefix + "_truth_fa.nii", {x, y, z}, DT_FLOAT32,
                                               "dwiphantom true FA", phantom.fa),
         ""},
        {prefix + "_truth_v1.nii", writeVolume(prefix + "_truth_v1.nii", {x, y, z, 3}, DT_FLOAT32,
                                               "dwiphantom true principal direction", phantom.v1),
         ""},
        {prefix + "_truth_wm.nii", writeVolume(prefix + "_truth_wm.nii", {x, y, z}, DT_INT16,
                                               "dwiphantom white-matter labels", phantom.wm),
         ""},
        {prefix + "_truth_bundles.txt",
         PhantomFiles::WriteText(prefix + "_truth_bundles.txt", bundlesText(model)), ""},
        {prefix + "_truth_bundles.trk",
         PhantomFiles::WriteBundleTracks(prefix + "_truth_bundles.trk", model), ""},
    };
    outputs.insert(outputs.end(), truth.begin(), truth.end());

    std::printf(
        "\nPhantom: %d %d %d voxels of %.3f mm, %d volumes (1 b0 + %d directions), b = %g\n", x, y,
        z, kVoxelSize, kVolumeCount, kDirectionCount, kBValue);
    int status = kExitSuccess;
    for (const Output& output : outputs) {
        if (output.written) {
            std::printf("Wrote %s\n", output.name.c_str());
        } else {
            std::fprintf(stderr, "\nCan not write file %s\n", output.name.c_str());
            std::fputs(FailureReason::Line(output.reason, output.name).c_str(), stderr);
            status = kExitFailure;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const CMyCmdParser parser(argc, argv);
    PhantomSettings settings;
    if (const RunStep stop = PhantomSettings::FromCommandLine(argc, parser, &settings)) {
        return *stop;
    }
    createOutputFolder(settings.prefix);
    const PhantomModel::Layout layout = settings.isotropic ? PhantomModel::Layout::Isotropic
                                        : settings.slanted ? PhantomModel::Layout::WithSlanted
                                                           : PhantomModel::Layout::Standard;
    const PhantomModel model(settings.dims[0], settings.dims[1], settings.dims[2], kVoxelSize,
                             layout);
    const GradientScheme scheme(kDirectionCount);
    // The signals need not wait for the header: tenscalc's transform only swaps and negates
    // axes, so every header leaves the fit the same rounded directions (the table for a header
    // refuses any other transform).
    const Phantom phantom = synthesise(model, scheme, settings);
    const std::optional<mat44> voxelToWorld =
        PhantomOrientation::VoxelToWorld(settings.las, settings.oblique, settings.dims, kVoxelSize);
    return writeOutputs(settings.prefix, voxelToWorld, model, scheme, phantom);
}
