#include "TrackingOrientation.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CMyUtils.h"
#include "ImageInfoParser.h"
#include "ImageOrientation.h"
#include "RunReport.h"

namespace {

constexpr int kXX = 0;
constexpr int kXY = 1;
constexpr int kXZ = 2;
constexpr int kYY = 3;
constexpr int kYZ = 4;
constexpr int kZZ = 5;

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

}  // namespace

RunStep TrackingOrientation::Settle(const TrackingSettings& settings, const TensorVolume& tensor,
                                    TRACK_HEADER& header) {
    if (!tensor.file().GetOrientationInfo(vectors_, &sliceDirection_)) {
        if (const RunStep stop = FromOptions(settings)) {
            return stop;
        }
    }
    std::copy(vectors_, vectors_ + 6, header.image_orientation_patient);
    return kGoOn;
}

RunStep TrackingOrientation::FromInfoFile(const std::string& infoFile) {
    ImageInfoParser info;
    if (!info.Open(infoFile) || !info.GetImageOrientation(vectors_)) {
        const std::string reason =
            info.LastError().empty() ? "no usable image orientation in it" : info.LastError();
        return RunReport::Failure("\nCan not read image info from " + infoFile + ".", reason,
                                  infoFile);
    }
    sliceDirection_ = info.GetSliceOrder();
    return kGoOn;
}

// The .info file first, then the options.
RunStep TrackingOrientation::FromOptions(const TrackingSettings& settings) {
    const TrackingSettings::OrientationOptions& options = settings.orientation;
    std::string orientationArgument;
    if (options.orientationGiven) {
        if (options.orientation.empty()) {
            return RunReport::UsageError(
                "\nMissing argument(s) for -iop or --image_orientation_patient.");
        }
        orientationArgument = options.orientation.front();
    }

    std::string infoFile;
    if (options.infoGiven) {
        if (!options.infoHasValue) {
            return RunReport::UsageError("\nMissing argument(s) for -info or --image_info.");
        }
        infoFile = options.infoFile;
    } else if (CMyUtils::pathExist(settings.defaultInfoFile)) {
        infoFile = settings.defaultInfoFile;
    } else {
        std::printf("\nDid not find image info file '%s'. Default info being used.\n",
                    settings.defaultInfoFile.c_str());
    }
    if (!infoFile.empty()) {
        if (const RunStep stop = FromInfoFile(infoFile)) {
            return stop;
        }
    }

    if (options.sliceOrderGiven) {
        sliceDirection_ = options.sliceOrder < 0 ? -1 : 1;
    }

    if (options.orientation.size() >= 6) {
        for (int i = 0; i < 6; ++i) {
            vectors_[i] = static_cast<float>(std::strtod(options.orientation[i].c_str(), nullptr));
        }
    } else if (!orientationArgument.empty() &&
               !ImageOrientation::LoadImageOrientation(orientationArgument, vectors_)) {
        return RunReport::Failure("\nCannot load image orientation matrix from " +
                                  orientationArgument);
    }
    return kGoOn;
}

// Inverting an axis flips the off-diagonal elements that involve it; swapping two axes exchanges
// their diagonal elements and their couplings to the third axis.
void TrackingOrientation::AdjustVectorFrame(const TrackingSettings::VectorFrame& frame,
                                            std::vector<float>& tensors,
                                            TRACK_HEADER& header) const {
    if (sliceDirection_ < 0) {
        negate(tensors, kXZ, kYZ);
    }
    if (frame.invertX) {
        negate(tensors, kXY, kXZ);
        header.invert_x = 1;
    }
    if (frame.invertY) {
        negate(tensors, kXY, kYZ);
        header.invert_y = 1;
    }
    if (frame.invertZ) {
        negate(tensors, kXZ, kYZ);
        header.invert_z = 1;
    }
    if (frame.swapXY) {
        exchange(tensors, kXX, kYY, kXZ, kYZ);
        header.swap_xy = 1;
    }
    if (frame.swapYZ) {
        exchange(tensors, kYY, kZZ, kXY, kXZ);
        header.swap_yz = 1;
    }
    if (frame.swapZX) {
        exchange(tensors, kXX, kZZ, kXY, kYZ);
        header.swap_zx = 1;
    }
}

RunStep TrackingOrientation::SetVoxelOrder(const TrackingSettings::OrientationOptions& options,
                                           TRACK_HEADER& header) const {
    std::string order;
    if (options.voxelOrderGiven) {
        if (!options.voxelOrderHasValue) {
            return RunReport::UsageError("\nMissing argument for -vorder or --voxel_order.");
        }
        order = CMyUtils::upperCase(options.voxelOrder);
        const bool valid =
            order.size() >= 3 && std::all_of(order.begin(), order.begin() + 3, [](char letter) {
                return letter != '\0' && std::strchr("RLAPIS", letter);
            });
        if (!valid) {
            // "roder" is how the message has always read; scripts match on it.
            return RunReport::UsageError("\nInvalid input for -vorder or --voxel_roder.");
        }
    } else {
        order = ImageOrientation::GetVoxelOrder(vectors_, sliceDirection_);
    }
    order.resize(3, '\0');
    std::memcpy(header.voxel_order, order.data(), 3);
    header.voxel_order[3] = '\0';
    return kGoOn;
}
