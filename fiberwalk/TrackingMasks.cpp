#include "TrackingMasks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include "ExitStatus.h"
#include "NiftiIO.h"
#include "ReadMask.h"
#include "RunReport.h"

namespace {

constexpr int kAutoThresholdBins = 50;
// Intent code the output mask carries, as the viewers of these masks expect it.
constexpr short kOutputMaskIntent = 1001;

// Thresholds of a mask switch: its second and third values, or the automatic low bound and the
// volume's maximum + 1. Empty when the file cannot be read at all, so that no line is printed.
std::optional<std::pair<float, float>> maskThresholds(const TrackingSettings::MaskOption& mask) {
    nifti_1_header probe{};
    if (!NiftiIO::ReadHeader(mask.file, probe, nullptr, nullptr)) {
        return std::nullopt;
    }
    if (mask.valueCount == 3) {
        return std::make_pair(mask.low, mask.high);
    }
    double range[2] = {NAN, NAN};
    float low = static_cast<float>(NiftiIO::GetAutoThreshold(mask.file, kAutoThresholdBins, range));
    if (std::isnan(range[1])) {
        return std::nullopt;
    }
    const float high = static_cast<float>(range[1] + 1.0);
    if (mask.valueCount == 2) {
        low = mask.low;
    }
    return std::make_pair(low, high);
}

std::string gridText(const int* dims) {
    return std::to_string(dims[0]) + " x " + std::to_string(dims[1]) + " x " +
           std::to_string(dims[2]);
}

void printThresholds(const char* label, const std::pair<float, float>& thresholds) {
    std::ostringstream line;
    line << label << thresholds.first << " " << thresholds.second << "\n";
    std::fputs(line.str().c_str(), stdout);
}

// Reads one mask switch's volume; false after ReadMask's message when it cannot be used, with
// the library's reason (empty when the volume was read but does not fit).
bool readMaskOption(const TrackingSettings::MaskOption& mask, const char* label,
                    const VolumeGeometry& geometry, std::vector<short>& destination,
                    std::string* reason) {
    const std::optional<std::pair<float, float>> thresholds = maskThresholds(mask);
    float bounds[2] = {0.0f, 0.0f};
    if (thresholds) {
        printThresholds(label, *thresholds);
        bounds[0] = thresholds->first;
        bounds[1] = thresholds->second;
    }
    std::string notice;
    if (!ReadMask(mask.file, bounds, geometry.dims, destination, reason, &notice)) {
        std::fputs(notice.c_str(), stdout);
        return false;
    }
    return true;
}

}  // namespace

RunStep TrackingMasks::Read(const TrackingSettings& settings, const VolumeGeometry& geometry) {
    std::string reason;
    if (!readMaskOption(settings.trackingMask, "\nThreshold for mask one:  ", geometry, tracking,
                        &reason)) {
        return RunReport::Failure("\nCan not load mask file " + settings.trackingMask.file, reason,
                                  settings.trackingMask.file);
    }

    const TrackingSettings::MaskOption& second = settings.secondMask;
    if (second.given) {
        if (second.valueCount < 1) {
            return RunReport::UsageError("\nMissing argument(s) for -m2.");
        }
        std::vector<short> secondMask;
        if (!readMaskOption(second, "Threshold for mask two:  ", geometry, secondMask, &reason)) {
            RunReport::Reason(reason, "");
            return kExitFailure;
        }
        for (size_t v = 0; v < tracking.size(); ++v) {
            if (secondMask[v] == 0) {
                tracking[v] = 0;
            }
        }
    }

    const TrackingSettings::MaskOption& seedOption = settings.seedMask;
    if (seedOption.given) {
        if (seedOption.valueCount < 1) {
            return RunReport::UsageError("\nMissing argument(s) for -sm.");
        }
        if (!readMaskOption(seedOption, "Threshold for seed mask:  ", geometry, seed, &reason)) {
            RunReport::Reason(reason, "");
            return kExitFailure;
        }
    }
    return kGoOn;
}

RunStep TrackingMasks::WriteOutputMask(const TrackingSettings& settings,
                                       const nifti_1_header& tensorHeader) const {
    if (settings.outputMaskFile.empty()) {
        return kGoOn;
    }
    nifti_1_header header = tensorHeader;
    header.dim[0] = 3;
    header.datatype = DT_INT16;
    header.bitpix = 16;
    header.intent_code = kOutputMaskIntent;
    std::string reason;
    if (!NiftiIO::WriteData(settings.outputMaskFile, header, tracking.data(),
                            tracking.size() * sizeof(short), &reason)) {
        return RunReport::Failure("\nCannot write file " + settings.outputMaskFile, reason,
                                  settings.outputMaskFile);
    }
    return kGoOn;
}

RunStep TrackingMasks::ReadAngleWeights(const TrackingSettings& settings,
                                        const VolumeGeometry& geometry) {
    if (settings.angleWeightsGiven && !settings.angleWeightsHasValue) {
        return RunReport::UsageError("\nMissing argument(s) for -atw.");
    }
    const std::string& file = settings.angleWeightsFile;
    if (file.empty()) {
        return kGoOn;
    }
    nifti_1_header header{};
    int dims[3] = {0, 0, 0};
    weights.assign(geometry.voxelCount, 0.0f);
    std::string reason;
    bool usable = NiftiIO::ReadHeader(file, header, dims, nullptr, &reason);
    if (usable && !std::equal(dims, dims + 3, geometry.dims)) {
        reason = "its grid " + gridText(dims) + " is not the tensor's " + gridText(geometry.dims);
        usable = false;
    } else if (usable && NiftiIO::VoxelsInHeader(header) != geometry.voxelCount) {
        reason = "it holds " + std::to_string(NiftiIO::VoxelsInHeader(header)) +
                 " voxels; one volume of " + std::to_string(geometry.voxelCount) + " is needed";
        usable = false;
    }
    if (!usable ||
        !NiftiIO::ReadAsFloat(file, weights.data(), weights.size(), 0, 0, false, &reason)) {
        return RunReport::Failure("\nCan not load angle threshold weighting file " + file, reason,
                                  file);
    }
    return kGoOn;
}

void TrackingMasks::Release() {
    tracking = std::vector<short>();
    seed = std::vector<short>();
    weights = std::vector<float>();
}
