// fiberwalk: follows fiber tracks through the tensor volume written by tenscalc and streams
// them into one track file.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "CMyCmdParser.h"
#include "CMyUtils.h"
#include "CTrack.h"
#include "ExitStatus.h"
#include "ImageInfoParser.h"
#include "ImageOrientation.h"
#include "MemoryGuard.h"
#include "MyLog.h"
#include "NiftiIO.h"
#include "ProgressDisplay.h"
#include "ReadMask.h"
#include "RunReport.h"
#include "TRACK_HEADER.h"
#include "TrackStream.h"
#include "TrackingSettings.h"

namespace {

// A step that ends the run early carries the exit status; no value lets the run go on.
using Stop = std::optional<int>;

struct VolumeGeometry {
    int dims[3] = {0, 0, 0};
    float voxelSize[3] = {0.0f, 0.0f, 0.0f};
    size_t voxelCount = 0;
};

// The tensor volume stays open from its header to the reading of its six components.
struct TensorSource {
    std::string fileName;
    NiftiIO file;
    nifti_1_header header{};
    bool componentsAlongFifth = false;
    VolumeGeometry geometry;
};

struct Orientation {
    float vectors[6] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f};
    int sliceDirection = 1;
};

struct Masks {
    std::vector<short> tracking;
    std::vector<short> seed;  // empty: every voxel is a seed voxel
};

// Place of each on-disk component (xx, xy, yy, xz, yz, zz) in a voxel's (xx, xy, xz, yy, yz, zz).
constexpr int kComponentPlace[6] = {0, 1, 3, 2, 4, 5};
constexpr int kXX = 0;
constexpr int kXY = 1;
constexpr int kXZ = 2;
constexpr int kYY = 3;
constexpr int kYZ = 4;
constexpr int kZZ = 5;

constexpr int kAutoThresholdBins = 50;
// Intent code the output mask carries, as the viewers of these masks expect it.
constexpr short kOutputMaskIntent = 1001;
const char* const kLogName = "fiberwalk.log";

bool hasValue(const CMyCmdParser& parser, const char* shortName, const char* longName) {
    return parser.GetNumberOfArguments(shortName, longName) >= 1;
}

std::string value(const CMyCmdParser& parser, const char* shortName, const char* longName,
                  int index) {
    return parser.GetArgument(shortName, longName, index, "");
}

float toFloat(const std::string& text) {
    return static_cast<float>(std::strtod(text.c_str(), nullptr));
}

// ---- tensor volume --------------------------------------------------------------------------

Stop openTensor(const TrackingSettings& settings, TensorSource& tensor) {
    tensor.fileName = settings.tensorFile;
    if (!tensor.file.Open(settings.tensorFile, &tensor.header, NiftiIO::kRead)) {
        return RunReport::Failure("\nCan not load file " + settings.tensorFile);
    }
    const short* dim = tensor.header.dim;
    if (!(dim[4] > 5 || dim[5] > 5)) {
        return RunReport::Failure("\n" + settings.tensorFile + " is not valid tensor data file.");
    }
    tensor.componentsAlongFifth = dim[0] > 4;

    VolumeGeometry& geometry = tensor.geometry;
    geometry.voxelCount = 1;
    for (int a = 0; a < 3; ++a) {
        geometry.dims[a] = dim[a + 1];
        geometry.voxelSize[a] = tensor.header.pixdim[a + 1];
        geometry.voxelCount *= static_cast<size_t>(std::max(geometry.dims[a], 0));
    }
    std::printf("\nVolume dimension: %d %d %d\nVoxel size: %.3f %.3f %.3f\n", geometry.dims[0],
                geometry.dims[1], geometry.dims[2], geometry.voxelSize[0], geometry.voxelSize[1],
                geometry.voxelSize[2]);
    return std::nullopt;
}

// Voxel order and orientation keep their defaults until the orientation is settled.
TRACK_HEADER newTrackHeader(const TensorSource& tensor) {
    TRACK_HEADER header = TRACK_HEADER::MakeDefault();
    for (int a = 0; a < 3; ++a) {
        header.dim[a] = static_cast<int16_t>(tensor.geometry.dims[a]);
        header.voxel_size[a] = tensor.geometry.voxelSize[a];
    }
    mat44 voxelToRas{};
    tensor.file.GetVoxelToRas(voxelToRas);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            header.voxel_to_ras[r][c] = voxelToRas.m[r][c];
        }
    }
    return header;
}

Stop readTensor(TensorSource& tensor, std::vector<float>& tensors) {
    std::printf("\nReading tensor data...");
    std::fflush(stdout);
    const size_t count = tensor.geometry.voxelCount;
    tensors.assign(count * 6, 0.0f);
    std::vector<float> component(count);
    for (int c = 0; c < 6; ++c) {
        const bool read = tensor.componentsAlongFifth
                              ? tensor.file.ReadCollapsedAsFloat(component.data(), count, -1, -1,
                                                                 -1, 0, c, -1, -1)
                              : tensor.file.ReadCollapsedAsFloat(component.data(), count, -1, -1,
                                                                 -1, c, -1, -1, -1);
        if (!read) {
            return RunReport::Failure("Can not read data from file " + tensor.fileName);
        }
        for (size_t v = 0; v < count; ++v) {
            tensors[6 * v + kComponentPlace[c]] = component[v];
        }
    }
    return std::nullopt;
}

// ---- orientation ----------------------------------------------------------------------------

Stop orientationFromInfoFile(const std::string& infoFile, Orientation& orientation) {
    ImageInfoParser info;
    if (!info.Open(infoFile) || !info.GetImageOrientation(orientation.vectors)) {
        return RunReport::Failure("\nCan not read image info from " + infoFile + ".");
    }
    orientation.sliceDirection = info.GetSliceOrder();
    return std::nullopt;
}

// Without a quaternion form in the tensor header: the .info file first, then the options.
Stop orientationFromOptions(const CMyCmdParser& parser, const TrackingSettings& settings,
                            Orientation& orientation) {
    std::string orientationArgument;
    if (parser.HasSwitch("-iop", "--image_orientation_patient")) {
        if (!hasValue(parser, "-iop", "--image_orientation_patient")) {
            return RunReport::UsageError(
                "\nMissing argument(s) for -iop or --image_orientation_patient.");
        }
        orientationArgument = value(parser, "-iop", "--image_orientation_patient", 1);
    }

    std::string infoFile;
    if (parser.HasSwitch("-info", "--image_info")) {
        if (!hasValue(parser, "-info", "--image_info")) {
            return RunReport::UsageError("\nMissing argument(s) for -info or --image_info.");
        }
        infoFile = value(parser, "-info", "--image_info", 1);
    } else if (CMyUtils::pathExist(settings.defaultInfoFile)) {
        infoFile = settings.defaultInfoFile;
    } else {
        std::printf("\nDid not find image info file '%s'. Default info being used.\n",
                    settings.defaultInfoFile.c_str());
    }
    if (!infoFile.empty()) {
        if (const Stop stop = orientationFromInfoFile(infoFile, orientation)) {
            return stop;
        }
    }

    if (hasValue(parser, "-sorder", "--slice_order")) {
        const long order =
            std::strtol(value(parser, "-sorder", "--slice_order", 1).c_str(), nullptr, 10);
        orientation.sliceDirection = order < 0 ? -1 : 1;
    }

    if (parser.GetNumberOfArguments("-iop", "--image_orientation_patient") >= 6) {
        for (int i = 0; i < 6; ++i) {
            orientation.vectors[i] =
                toFloat(value(parser, "-iop", "--image_orientation_patient", i + 1));
        }
    } else if (!orientationArgument.empty() &&
               !ImageOrientation::LoadImageOrientation(orientationArgument, orientation.vectors)) {
        return RunReport::Failure("\nCannot load image orientation matrix from " +
                                  orientationArgument);
    }
    return std::nullopt;
}

Stop settleOrientation(const CMyCmdParser& parser, const TrackingSettings& settings,
                       const TensorSource& tensor, Orientation& orientation, TRACK_HEADER& header) {
    // A header that knows its orientation is trusted over every option.
    if (!tensor.file.GetOrientationInfo(orientation.vectors, &orientation.sliceDirection)) {
        if (const Stop stop = orientationFromOptions(parser, settings, orientation)) {
            return stop;
        }
    }
    std::copy(orientation.vectors, orientation.vectors + 6, header.image_orientation_patient);
    return std::nullopt;
}

// ---- masks and weights ----------------------------------------------------------------------

// Thresholds of a mask switch: its second and third values, or the automatic low bound and the
// volume's maximum + 1. Empty when the file cannot be read at all, so that no line is printed.
std::optional<std::pair<float, float>> maskThresholds(const CMyCmdParser& parser,
                                                      const char* shortName, const char* longName) {
    const std::string file = value(parser, shortName, longName, 1);
    const int values = parser.GetNumberOfArguments(shortName, longName);
    nifti_1_header probe{};
    if (!NiftiIO::ReadHeader(file, probe, nullptr, nullptr)) {
        return std::nullopt;
    }
    if (values == 3) {
        return std::make_pair(toFloat(value(parser, shortName, longName, 2)),
                              toFloat(value(parser, shortName, longName, 3)));
    }
    double range[2] = {NAN, NAN};
    float low = static_cast<float>(NiftiIO::GetAutoThreshold(file, kAutoThresholdBins, range));
    if (std::isnan(range[1])) {
        return std::nullopt;
    }
    const float high = static_cast<float>(range[1] + 1.0);
    if (values == 2) {
        low = toFloat(value(parser, shortName, longName, 2));
    }
    return std::make_pair(low, high);
}

void printThresholds(const char* label, const std::pair<float, float>& thresholds) {
    std::ostringstream line;
    line << label << thresholds.first << " " << thresholds.second << "\n";
    std::fputs(line.str().c_str(), stdout);
}

// Reads one mask switch's volume; false after ReadMask's message when it cannot be used.
bool readMaskOption(const CMyCmdParser& parser, const char* shortName, const char* longName,
                    const char* label, const VolumeGeometry& geometry,
                    std::vector<short>& destination) {
    const std::string file = value(parser, shortName, longName, 1);
    const std::optional<std::pair<float, float>> thresholds =
        maskThresholds(parser, shortName, longName);
    float bounds[2] = {0.0f, 0.0f};
    if (thresholds) {
        printThresholds(label, *thresholds);
        bounds[0] = thresholds->first;
        bounds[1] = thresholds->second;
    }
    return ReadMask(file, bounds, geometry.dims, destination);
}

Stop readTrackingMask(const CMyCmdParser& parser, const VolumeGeometry& geometry, Masks& masks) {
    if (!readMaskOption(parser, "-m", "--mask", "\nThreshold for mask one:  ", geometry,
                        masks.tracking)) {
        return RunReport::Failure("\nCan not load mask file " + value(parser, "-m", "--mask", 1));
    }
    return std::nullopt;
}

Stop intersectSecondMask(const CMyCmdParser& parser, const VolumeGeometry& geometry, Masks& masks) {
    if (!parser.HasSwitch("-m2", "--mask2")) {
        return std::nullopt;
    }
    if (!hasValue(parser, "-m2", "--mask2")) {
        return RunReport::UsageError("\nMissing argument(s) for -m2.");
    }
    std::vector<short> second;
    if (!readMaskOption(parser, "-m2", "--mask2", "Threshold for mask two:  ", geometry, second)) {
        return kExitFailure;
    }
    for (size_t v = 0; v < masks.tracking.size(); ++v) {
        if (second[v] == 0) {
            masks.tracking[v] = 0;
        }
    }
    return std::nullopt;
}

Stop readSeedMask(const CMyCmdParser& parser, const VolumeGeometry& geometry, Masks& masks) {
    if (!parser.HasSwitch("-sm", "--seed_mask")) {
        return std::nullopt;
    }
    if (!hasValue(parser, "-sm", "--seed_mask")) {
        return RunReport::UsageError("\nMissing argument(s) for -sm.");
    }
    if (!readMaskOption(parser, "-sm", "--seed_mask", "Threshold for seed mask:  ", geometry,
                        masks.seed)) {
        return kExitFailure;
    }
    return std::nullopt;
}

Stop readMasks(const CMyCmdParser& parser, const VolumeGeometry& geometry, Masks& masks) {
    if (const Stop stop = readTrackingMask(parser, geometry, masks)) {
        return stop;
    }
    if (const Stop stop = intersectSecondMask(parser, geometry, masks)) {
        return stop;
    }
    return readSeedMask(parser, geometry, masks);
}

Stop writeOutputMask(const TrackingSettings& settings, const TensorSource& tensor,
                     const std::vector<short>& trackingMask) {
    if (settings.outputMaskFile.empty()) {
        return std::nullopt;
    }
    nifti_1_header header = tensor.header;
    header.dim[0] = 3;
    header.datatype = DT_INT16;
    header.bitpix = 16;
    header.intent_code = kOutputMaskIntent;
    if (!NiftiIO::WriteData(settings.outputMaskFile, header, trackingMask.data(),
                            trackingMask.size() * sizeof(short))) {
        return RunReport::Failure("\nCannot write file " + settings.outputMaskFile);
    }
    return std::nullopt;
}

// Voxels the header describes over all its dimensions.
size_t voxelsInFile(const nifti_1_header& header) {
    size_t count = 1;
    const int rank = header.dim[0] < 1 || header.dim[0] > 7 ? 3 : header.dim[0];
    for (int i = 1; i <= rank; ++i) {
        count *= header.dim[i] > 0 ? static_cast<size_t>(header.dim[i]) : 1U;
    }
    return count;
}

Stop readAngleWeights(const CMyCmdParser& parser, const VolumeGeometry& geometry,
                      std::vector<float>& weights) {
    if (parser.HasSwitch("-atw", "--angle_threshold_weight") &&
        !hasValue(parser, "-atw", "--angle_threshold_weight")) {
        return RunReport::UsageError("\nMissing argument(s) for -atw.");
    }
    const std::string file = value(parser, "-atw", "--angle_threshold_weight", 1);
    if (file.empty()) {
        return std::nullopt;
    }
    nifti_1_header header{};
    int dims[3] = {0, 0, 0};
    weights.assign(geometry.voxelCount, 0.0f);
    const bool fits = NiftiIO::ReadHeader(file, header, dims, nullptr) &&
                      std::equal(dims, dims + 3, geometry.dims) &&
                      voxelsInFile(header) == geometry.voxelCount;
    if (!fits || !NiftiIO::ReadAsFloat(file, weights.data(), weights.size(), 0, 0, false)) {
        return RunReport::Failure("\nCan not load angle threshold weighting file " + file);
    }
    return std::nullopt;
}

// ---- vector frame and voxel order -----------------------------------------------------------

void negate(std::vector<float>& tensors, int first, int second) {
    for (size_t v = 0; v < tensors.size(); v += 6) {
        tensors[v + first] = -tensors[v + first];
        tensors[v + second] = -tensors[v + second];
    }
}

void exchange(std::vector<float>& tensors, int a, int b, int c, int d) {
    for (size_t v = 0; v < tensors.size(); v += 6) {
        std::swap(tensors[v + a], tensors[v + b]);
        std::swap(tensors[v + c], tensors[v + d]);
    }
}

// Inverting an axis flips the off-diagonal elements that involve it; swapping two axes exchanges
// their diagonal elements and their couplings to the third axis.
void adjustVectorFrame(const CMyCmdParser& parser, int sliceDirection, std::vector<float>& tensors,
                       TRACK_HEADER& header) {
    if (sliceDirection < 0) {
        negate(tensors, kXZ, kYZ);
    }
    if (parser.HasSwitch("-ix", "--invert_x")) {
        negate(tensors, kXY, kXZ);
        header.invert_x = 1;
    }
    if (parser.HasSwitch("-iy", "--invert_y")) {
        negate(tensors, kXY, kYZ);
        header.invert_y = 1;
    }
    if (parser.HasSwitch("-iz", "--invert_z")) {
        negate(tensors, kXZ, kYZ);
        header.invert_z = 1;
    }
    if (parser.HasSwitch("-sxy", "--swap_xy")) {
        exchange(tensors, kXX, kYY, kXZ, kYZ);
        header.swap_xy = 1;
    }
    if (parser.HasSwitch("-syz", "--swap_yz")) {
        exchange(tensors, kYY, kZZ, kXY, kXZ);
        header.swap_yz = 1;
    }
    if (parser.HasSwitch("-szx", "--swap_zx")) {
        exchange(tensors, kXX, kZZ, kXY, kYZ);
        header.swap_zx = 1;
    }
}

Stop setVoxelOrder(const CMyCmdParser& parser, const Orientation& orientation,
                   TRACK_HEADER& header) {
    std::string order;
    if (parser.HasSwitch("-vorder", "--voxel_order")) {
        if (!hasValue(parser, "-vorder", "--voxel_order")) {
            return RunReport::UsageError("\nMissing argument for -vorder or --voxel_order.");
        }
        order = CMyUtils::upperCase(value(parser, "-vorder", "--voxel_order", 1));
        const bool valid =
            order.size() >= 3 && std::all_of(order.begin(), order.begin() + 3, [](char letter) {
                return letter != '\0' && std::strchr("RLAPIS", letter);
            });
        if (!valid) {
            return RunReport::UsageError("\nInvalid input for -vorder or --voxel_roder.");
        }
    } else {
        order = ImageOrientation::GetVoxelOrder(orientation.vectors, orientation.sliceDirection);
    }
    order.resize(3, '\0');
    std::memcpy(header.voxel_order, order.data(), 3);
    header.voxel_order[3] = '\0';
    return std::nullopt;
}

// ---- tracking -------------------------------------------------------------------------------

Stop createTrackFile(const TrackingSettings& settings, const TRACK_HEADER& header,
                     TrackStream& stream) {
    std::printf("done.\n");
    if (!stream.Create(settings.outputFile)) {
        return RunReport::Failure("Can not create output file");
    }
    if (!stream.WriteHeader(header)) {
        return RunReport::Failure("\nCan not write output file " + settings.outputFile);
    }
    return std::nullopt;
}

struct TrackingField {
    const VolumeGeometry& geometry;
    const std::vector<float>& tensors;
    const Masks& masks;
    const std::vector<float>& weights;  // empty: no angle weighting
};

// Random points within a voxel, on a grid of hundredths of the voxel size.
void randomSeed(const float* voxelSize, const int voxel[3], float point[3]) {
    for (int a = 0; a < 3; ++a) {
        const float fraction = static_cast<float>(std::rand() % 100) / 100.0f;
        point[a] = (static_cast<float>(voxel[a]) + fraction) * voxelSize[a];
    }
}

Stop runSeedingLoop(const TrackingSettings& settings, const TrackingField& field,
                    TrackStream& stream) {
    const VolumeGeometry& geometry = field.geometry;
    const int* dims = geometry.dims;
    const float* weights = field.weights.empty() ? nullptr : field.weights.data();
    const std::vector<short>& seedMask = field.masks.seed;
    std::vector<float> eigenCache;  // shared by every track of this one field
    std::vector<float> points;
    int pointCount = 0;

    auto track = [&](const auto& seed) -> bool {
        const int made = CTrack::GetTrack(
            dims, geometry.voxelSize, field.tensors.data(), field.masks.tracking.data(), seed,
            settings.methodCode, settings.stepLength, settings.angleThreshold, weights, points,
            pointCount, settings.eigenvectorIndex, &eigenCache);
        return made == 0 || stream.WriteTrack(points, pointCount);
    };

    std::printf("Tracking...     ");
    std::fflush(stdout);
    for (int x = 0; x < dims[0]; ++x) {
        for (int y = 0; y < dims[1]; ++y) {
            for (int z = 0; z < dims[2]; ++z) {
                const size_t v = static_cast<size_t>(x) +
                                 static_cast<size_t>(dims[0]) *
                                     (static_cast<size_t>(y) + static_cast<size_t>(dims[1]) * z);
                if (!seedMask.empty() && !(seedMask[v] > 0)) {
                    continue;
                }
                const int voxel[3] = {x, y, z};
                bool written = true;
                if (settings.randomSeeding) {
                    for (int s = 0; s < settings.seedsPerVoxel && written; ++s) {
                        float point[3];
                        randomSeed(geometry.voxelSize, voxel, point);
                        written = track(point);
                    }
                } else {
                    written = track(voxel);
                }
                if (!written) {
                    std::printf("\n");
                    return RunReport::Failure("\nCan not write output file " + settings.outputFile);
                }
            }
        }
        ProgressDisplay::Show(static_cast<double>(x + 1) / dims[0] * 100.0);
    }
    return std::nullopt;
}

// A run without tracks leaves an empty file rather than a header with nothing after it.
Stop finishTrackFile(const TrackingSettings& settings, TrackStream& stream) {
    const bool closed = stream.Close();
    std::printf("\n");
    bool written = closed;
    if (closed && stream.TracksWritten() == 0) {
        written = stream.Create(settings.outputFile) && stream.Close();
    }
    if (!written) {
        return RunReport::Failure("\nCan not write output file " + settings.outputFile);
    }
    return std::nullopt;
}

void printSummary(int tracks, std::time_t start, std::time_t end) {
    const long seconds = static_cast<long>(end - start);
    std::printf("Number of tracks: %d\n", tracks);
    std::printf("Time taken: %02d:%02d:%02d\n", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

void writeRunLog(int argc, const char* const* argv, const std::string& outputFile) {
    std::string command;
    for (int i = 0; i < argc; ++i) {
        command += argv[i];
        command += ' ';
    }
    const std::string logFile = CMyUtils::getFilePath(outputFile) + kLogName;
    MyLog::WriteLog(command.c_str(), logFile.c_str(), nullptr);
}

}  // namespace

int run(int argc, char** argv) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    // Missing files are reported by the run's own messages, not by the library's diagnostics.
    nifti_set_debug_level(0);
    const CMyCmdParser parser(argc, argv);
    TrackingSettings settings;
    if (const Stop stop = TrackingSettings::FromCommandLine(argc, parser, &settings)) {
        return *stop;
    }

    TensorSource tensor;
    if (const Stop stop = openTensor(settings, tensor)) {
        return *stop;
    }
    TRACK_HEADER header = newTrackHeader(tensor);
    Orientation orientation;
    if (const Stop stop = settleOrientation(parser, settings, tensor, orientation, header)) {
        return *stop;
    }

    Masks masks;
    if (const Stop stop = readMasks(parser, tensor.geometry, masks)) {
        return *stop;
    }
    if (const Stop stop = writeOutputMask(settings, tensor, masks.tracking)) {
        return *stop;
    }
    std::vector<float> weights;
    if (const Stop stop = readAngleWeights(parser, tensor.geometry, weights)) {
        return *stop;
    }

    std::vector<float> tensors;
    if (const Stop stop = readTensor(tensor, tensors)) {
        return *stop;
    }
    adjustVectorFrame(parser, orientation.sliceDirection, tensors, header);
    if (const Stop stop = setVoxelOrder(parser, orientation, header)) {
        return *stop;
    }

    TrackStream stream;
    if (const Stop stop = createTrackFile(settings, header, stream)) {
        return *stop;
    }
    const std::time_t start = std::time(nullptr);
    const TrackingField field{tensor.geometry, tensors, masks, weights};
    if (const Stop stop = runSeedingLoop(settings, field, stream)) {
        return *stop;
    }
    const int tracks = stream.TracksWritten();
    if (const Stop stop = finishTrackFile(settings, stream)) {
        return *stop;
    }
    const std::time_t end = std::time(nullptr);

    tensors = std::vector<float>();
    masks = Masks();
    printSummary(tracks, start, end);
    writeRunLog(argc, argv, settings.outputFile);
    return kExitSuccess;
}

int main(int argc, char** argv) {
    return MemoryGuard::Call(run, argc, argv, "the volumes of this run");
}
