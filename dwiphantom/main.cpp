// dwiphantom: writes a synthetic diffusion acquisition with known ground truth, for trying out
// and measuring the tenscalc -> fiberwalk -> trksmooth pipeline.

#include <nifti1.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "BidsDataset.h"
#include "BundlePlanes.h"
#include "ExitStatus.h"
#include "FailureReason.h"
#include "GradientScheme.h"
#include "PhantomFiles.h"
#include "PhantomModel.h"
#include "PhantomOrientation.h"
#include "PhantomSettings.h"
#include "RunStep.h"
#include "SubjectVariation.h"

namespace {

constexpr float kVoxelSize = 2.0f;
constexpr int kDirectionCount = 64;

// "1000" or "1000,2000,3000", for the descriptions.
std::string shellsText(const GradientScheme& scheme) {
    std::string text;
    for (const double b : scheme.shells()) {
        char value[32];
        std::snprintf(value, sizeof value, "%s%g", text.empty() ? "" : ",", b);
        text += value;
    }
    return text;
}

// The synthesised acquisition and its ground truth, each in file order (x fastest).
struct Phantom {
    std::vector<short> dwi;  // the b0 volume, then one volume per direction
    std::vector<float> fa;
    std::vector<float> v1;  // three volumes: x, y and z of the principal direction
    std::vector<short> wm;  // white-matter labels
    std::vector<unsigned char> brain;  // 1 inside the head: the brain mask a dataset provides
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
    const int volumes = scheme.VolumeCount();
    std::vector<short> dwi(voxels * static_cast<std::size_t>(volumes));
    for (int t = 0; t < volumes; ++t) {
        for (std::size_t p = 0; p < voxels; ++p) {
            // Several shells carry a kurtosis term; the one default shell keeps the tensor's
            // own signal, as it always has.
            const double clean =
                t == 0 ? layout[p].s0
                : scheme.MultiShell()
                    ? PhantomModel::SignalWithKurtosis(layout[p], scheme.DirectionOf(t),
                                                       scheme.BValueOf(t))
                    : PhantomModel::Signal(layout[p], scheme.DirectionOf(t), scheme.BValueOf(t));
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
    phantom.brain.resize(voxels);
    for (std::size_t p = 0; p < voxels; ++p) {
        phantom.brain[p] = layout[p].s0 > 0.0 ? 1 : 0;
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

struct Output {
    std::string name;
    bool written;
    std::string reason;  // why it was not written, when that is known
};

template <typename T>
Output writeVolume(const std::string& path, const std::vector<int>& dims, int datatype,
                   const char* description, const std::vector<T>& values,
                   const std::optional<mat44>& voxelToWorld) {
    std::string reason;
    const bool written =
        PhantomFiles::WriteVolume(path, dims, datatype, kVoxelSize, description, values.data(),
                                  values.size() * sizeof(T), voxelToWorld, &reason);
    return {path, written, written ? "" : reason};
}

Output writeText(const std::string& path, const std::string& text) {
    return {path, PhantomFiles::WriteText(path, text), ""};
}

// The files that carry one acquisition's diffusion encoding; no table when table is empty.
struct GradientNames {
    std::string image;  // the acquisition, whose header the directions depend on
    std::string table;
    std::string bval;
    std::string bvec;
};

// The gradient table and the FSL files follow the acquisition's header as it was written, read
// back the way tenscalc and FSL readers read it. A header without orientation needs no reading:
// tenscalc takes the axial default of the .info file and FSL counts it as positive.
std::vector<Output> writeGradientFiles(const GradientNames& names, const GradientScheme& scheme,
                                       bool headerOriented) {
    PhantomOrientation::GradientFrame frame;
    std::string reason;
    bool known = true;
    if (headerOriented) {
        known = PhantomOrientation::ReadGradientFrame(names.image, &frame, &reason);
        if (!known) {
            reason = "the directions depend on the header of " + names.image +
                     ", which could not be read back: " + reason;
        }
    }
    std::vector<Output> outputs;
    if (!names.table.empty()) {
        std::string table;
        bool tableKnown = known;
        std::string tableReason = reason;
        if (known && !frame.fromHeader) {
            table = scheme.TableText();
        } else if (known && !scheme.TableText(frame.tableToVoxel, &table)) {
            tableKnown = false;
            tableReason = "the header orientation of " + names.image +
                          " turns gradient directions other than by swapping and negating axes";
        }
        outputs.push_back({names.table, tableKnown && PhantomFiles::WriteText(names.table, table),
                           tableKnown ? "" : tableReason});
    }
    outputs.push_back(writeText(names.bval, scheme.BvalText()));
    outputs.push_back(
        {names.bvec,
         known && PhantomFiles::WriteText(names.bvec, scheme.BvecText(frame.negatesBvecX)),
         known ? "" : reason});
    return outputs;
}

// The truth is in the voxel frame whatever the header declares; stem and ending name the files
// (STEM_fa.nii ...), voxelToWorld goes into the header of every volume.
std::vector<Output> writeTruth(const std::string& stem, const std::string& ending,
                               const PhantomModel& model, const Phantom& phantom,
                               const std::optional<mat44>& voxelToWorld) {
    const int x = model.dimx();
    const int y = model.dimy();
    const int z = model.dimz();
    return {
        writeVolume(stem + "_fa" + ending, {x, y, z}, DT_FLOAT32, "dwiphantom true FA", phantom.fa,
                    voxelToWorld),
        writeVolume(stem + "_v1" + ending, {x, y, z, 3}, DT_FLOAT32,
                    "dwiphantom true principal direction", phantom.v1, voxelToWorld),
        writeVolume(stem + "_wm" + ending, {x, y, z}, DT_INT16, "dwiphantom white-matter labels",
                    phantom.wm, voxelToWorld),
        writeText(stem + "_bundles.txt", bundlesText(model)),
        {stem + "_bundles.trk", PhantomFiles::WriteBundleTracks(stem + "_bundles.trk", model), ""},
    };
}

void printGeometry(const std::array<int, 3>& dims, const GradientScheme& scheme) {
    std::printf(
        "\nPhantom: %d %d %d voxels of %.3f mm, %d volumes (1 b0 + %d directions%s), b = %s\n",
        dims[0], dims[1], dims[2], kVoxelSize, scheme.VolumeCount(), kDirectionCount,
        scheme.MultiShell() ? " at every b" : "", shellsText(scheme).c_str());
}

// Lists what was written and reports what was not; kExitFailure when anything was not.
int report(const std::vector<Output>& outputs) {
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

// Writes every file, then lists what was written and reports what was not (status 1).
int writeOutputs(const std::string& prefix, const std::optional<mat44>& voxelToWorld,
                 const PhantomModel& model, const GradientScheme& scheme, const Phantom& phantom) {
    std::vector<Output> outputs = {
        writeVolume(prefix + ".nii",
                    {model.dimx(), model.dimy(), model.dimz(), scheme.VolumeCount()}, DT_INT16,
                    ("dwiphantom DWI b=" + shellsText(scheme)).c_str(), phantom.dwi, voxelToWorld),
        {prefix + ".info", PhantomFiles::WriteAxialInfo(prefix + ".info"), ""},
    };
    const GradientNames gradients = {prefix + ".nii", prefix + "_grad.txt", prefix + ".bval",
                                     prefix + ".bvec"};
    for (Output& output : writeGradientFiles(gradients, scheme, voxelToWorld.has_value())) {
        outputs.push_back(std::move(output));
    }
    for (Output& output : writeTruth(prefix + "_truth", ".nii", model, phantom, std::nullopt)) {
        outputs.push_back(std::move(output));
    }
    printGeometry({model.dimx(), model.dimy(), model.dimz()}, scheme);
    return report(outputs);
}

// How the dataset was made, for its descriptions: enough to make it again.
std::string generatorText(const PhantomSettings& settings, const GradientScheme& scheme) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "synthetic diffusion phantom: %dx%dx%d voxels of %.3f mm, 1 b0 + %d directions "
                  "at b = %s%s, Rician noise of sigma %g, dataset seed %u%s%s%s%s%s",
                  settings.dims[0], settings.dims[1], settings.dims[2], kVoxelSize, kDirectionCount,
                  shellsText(scheme).c_str(),
                  scheme.MultiShell() ? " (with a kurtosis term)" : "", settings.sigma,
                  settings.seed,
                  settings.zeroBackground ? ", no noise outside the head" : "",
                  settings.las ? ", x stored right to left" : "",
                  settings.oblique ? ", oblique voxel axes" : "",
                  settings.slanted ? ", with a slanted bundle" : "",
                  settings.isotropic ? ", no bundles" : "");
    return text;
}

// The lesions of a dataset, for its descriptions: ", a lesion (...) in sub-02 straight, ...".
std::string lesionText(const PhantomSettings& settings, const BidsDataset& dataset) {
    if (settings.lesions.empty()) {
        return "";
    }
    char text[256];
    std::snprintf(text, sizeof text,
                  ", a lesion (radial diffusivity %g mm^2/s over %g-%g %% of the bundle's "
                  "length) in",
                  PhantomModel::kLesionRadial, 100.0 * PhantomModel::kLesionFrom,
                  100.0 * PhantomModel::kLesionTo);
    std::string lesions = text;
    for (std::size_t n = 0; n < settings.lesions.size(); ++n) {
        const PhantomSettings::Lesion& lesion = settings.lesions[n];
        lesions += std::string(n == 0 ? " " : ", ") + "sub-" +
                   dataset.SubjectLabel(lesion.subject) + " " + lesion.bundle;
    }
    return lesions;
}

// The planes across the subject's bundles, each a mask in the acquisition's grid and header.
std::vector<Output> writeBundlePlanes(const BidsDataset& dataset, int subject,
                                      const PhantomModel& model, const mat44& voxelToWorld) {
    std::vector<Output> outputs;
    std::string placed;
    for (const BundlePlanes::Plane& plane : BundlePlanes::Across(model)) {
        outputs.push_back(
            writeVolume(dataset.PlaneMaskName(subject, plane.bundle, plane.end),
                        {model.dimx(), model.dimy(), model.dimz()}, DT_UINT8,
                        ("dwiphantom " + plane.bundle + " " + plane.end + " plane").c_str(),
                        plane.mask, voxelToWorld));
        char text[96];
        std::snprintf(text, sizeof text, "%s%s %s at %.0f %%", placed.empty() ? "" : ", ",
                      plane.bundle.c_str(), plane.end.c_str(), 100.0 * plane.fraction);
        placed += text;
    }
    if (!placed.empty()) {
        std::printf("sub-%s: planes across the bundles: %s of the length\n",
                    dataset.SubjectLabel(subject).c_str(), placed.c_str());
    }
    return outputs;
}

// One acquisition per subject in the BIDS layout, each subject's truth and the planes across
// its bundles in derivative datasets beside it. Subjects are made and written one at a time,
// so that a large dataset needs no more memory than one subject.
int writeBidsDataset(const PhantomSettings& settings, const GradientScheme& scheme) {
    const BidsDataset dataset(settings.bidsFolder, settings.subjects,
                              !PhantomModel::BundleNames(settings.Layout()).empty());
    for (const std::string& folder : dataset.Folders()) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error || !std::filesystem::is_directory(folder)) {
            std::fprintf(stderr, "\nCan not create folder %s\n  %s\n", folder.c_str(),
                         error ? error.message().c_str() : "a file of that name is in the way");
            return kExitFailure;
        }
    }
    // BIDS tools read the orientation from the header, so every volume declares one.
    const mat44 voxelToWorld = PhantomOrientation::DeclaredVoxelToWorld(
        settings.las, settings.oblique, settings.dims, kVoxelSize);

    printGeometry(settings.dims, scheme);
    std::vector<Output> described;
    for (const BidsDataset::TextFile& file : dataset.DescriptionFiles(
             generatorText(settings, scheme) + lesionText(settings, dataset))) {
        described.push_back(writeText(file.path, file.text));
    }
    int status = report(described);
    for (int subject = 1; subject <= dataset.subjectCount(); ++subject) {
        const SubjectVariation variation(settings.seed, subject, kVoxelSize);
        const std::vector<std::string> lesioned = settings.LesionedBundles(subject);
        const PhantomModel model(settings.dims[0], settings.dims[1], settings.dims[2], kVoxelSize,
                                 settings.Layout(), variation.shiftMm(), lesioned);
        PhantomSettings subjectSettings = settings;
        subjectSettings.seed = variation.noiseSeed();
        const Phantom phantom = synthesise(model, scheme, subjectSettings);

        const std::string stem = dataset.DwiStem(subject);
        std::vector<Output> outputs = {
            writeVolume(stem + ".nii.gz",
                        {model.dimx(), model.dimy(), model.dimz(), scheme.VolumeCount()},
                        DT_INT16, ("dwiphantom DWI b=" + shellsText(scheme)).c_str(), phantom.dwi,
                        voxelToWorld),
        };
        const GradientNames gradients = {stem + ".nii.gz", "", stem + ".bval", stem + ".bvec"};
        for (Output& output : writeGradientFiles(gradients, scheme, true)) {
            outputs.push_back(std::move(output));
        }
        outputs.push_back(writeText(stem + ".json", BidsDataset::SidecarText()));
        for (Output& output :
             writeTruth(dataset.TruthStem(subject), ".nii.gz", model, phantom, voxelToWorld)) {
            outputs.push_back(std::move(output));
        }
        // A brain mask as datasets carry them among their derivatives, which the cohort uses.
        outputs.push_back(writeVolume(dataset.BrainMaskName(subject),
                                      {model.dimx(), model.dimy(), model.dimz()}, DT_UINT8,
                                      "dwiphantom brain mask", phantom.brain, voxelToWorld));
        const Vec3& shift = variation.shiftMm();
        std::printf("\nsub-%s: bundles and CSF moved by (%.3f, %.3f, %.3f) mm, noise seed %u\n",
                    dataset.SubjectLabel(subject).c_str(), shift[0], shift[1], shift[2],
                    variation.noiseSeed());
        for (const std::string& bundle : lesioned) {
            std::printf("sub-%s: a lesion in the %s bundle, FA %.3f over %.0f-%.0f %% of its "
                        "length\n",
                        dataset.SubjectLabel(subject).c_str(), bundle.c_str(),
                        PhantomModel::FractionalAnisotropy(PhantomModel::kFibreAxial,
                                                           PhantomModel::kLesionRadial,
                                                           PhantomModel::kLesionRadial),
                        100.0 * PhantomModel::kLesionFrom, 100.0 * PhantomModel::kLesionTo);
        }
        for (Output& output : writeBundlePlanes(dataset, subject, model, voxelToWorld)) {
            outputs.push_back(std::move(output));
        }
        if (report(outputs) != kExitSuccess) {
            status = kExitFailure;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    PhantomSettings settings;
    if (const RunStep stop = PhantomSettings::FromCommandLine(argc, argv, &settings)) {
        return *stop;
    }
    const GradientScheme scheme =
        settings.shells.empty() ? GradientScheme(kDirectionCount)
                                : GradientScheme(kDirectionCount, settings.shells);
    if (!settings.bidsFolder.empty()) {
        return writeBidsDataset(settings, scheme);
    }
    createOutputFolder(settings.prefix);
    const PhantomModel model(settings.dims[0], settings.dims[1], settings.dims[2], kVoxelSize,
                             settings.Layout());
    // The signals need not wait for the header: tenscalc's transform only swaps and negates
    // axes, so every header leaves the fit the same rounded directions (the table for a header
    // refuses any other transform).
    const Phantom phantom = synthesise(model, scheme, settings);
    const std::optional<mat44> voxelToWorld =
        PhantomOrientation::VoxelToWorld(settings.las, settings.oblique, settings.dims, kVoxelSize);
    return writeOutputs(settings.prefix, voxelToWorld, model, scheme, phantom);
}
