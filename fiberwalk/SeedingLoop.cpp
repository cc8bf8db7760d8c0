#include "SeedingLoop.h"

#include <cstdio>
#include <cstdlib>

#include "CTrack.h"
#include "ProgressDisplay.h"
#include "RunReport.h"

namespace {

// Random points within a voxel, on a grid of hundredths of the voxel size.
void randomSeed(const float* voxelSize, const int voxel[3], float point[3]) {
    for (int a = 0; a < 3; ++a) {
        const float fraction = static_cast<float>(std::rand() % 100) / 100.0f;
        point[a] = (static_cast<float>(voxel[a]) + fraction) * voxelSize[a];
    }
}

}  // namespace

RunStep SeedingLoop::CreateTrackFile(const TrackingSettings& settings, const TRACK_HEADER& header,
                                     TrackStream& stream) {
    std::printf("done.\n");
    if (!stream.Create(settings.outputFile)) {
        return RunReport::Failure("Can not create output file");
    }
    if (!stream.WriteHeader(header)) {
        return RunReport::Failure("\nCan not write output file " + settings.outputFile);
    }
    return kGoOn;
}

RunStep SeedingLoop::Run(const TrackingSettings& settings, const Field& field,
                         TrackStream& stream) {
    const VolumeGeometry& geometry = field.geometry;
    const int* dims = geometry.dims;
    const float* weights = field.masks.weights.empty() ? nullptr : field.masks.weights.data();
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
    return kGoOn;
}

RunStep SeedingLoop::FinishTrackFile(const TrackingSettings& settings, TrackStream& stream) {
    const bool closed = stream.Close();
    std::printf("\n");
    bool written = closed;
    if (closed && stream.TracksWritten() == 0) {
        written = stream.Create(settings.outputFile) && stream.Close();
    }
    if (!written) {
        return RunReport::Failure("\nCan not write output file " + settings.outputFile);
    }
    return kGoOn;
}
