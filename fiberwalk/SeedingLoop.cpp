#include "SeedingLoop.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "CTrack.h"
#include "OrderedChunks.h"
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

size_t voxelIndex(const int* dims, int x, int y, int z) {
    return static_cast<size_t>(x) +
           static_cast<size_t>(dims[0]) *
               (static_cast<size_t>(y) + static_cast<size_t>(dims[1]) * static_cast<size_t>(z));
}

// Every random seed point, drawn in seed order (x slowest, then y, then z, then the seeds of a
// voxel) before any track is grown, so that the thread count never changes which voxel gets
// which draw. slabStart[x] is where slab x's points begin.
void drawRandomSeeds(const TrackingSettings& settings, const VolumeGeometry& geometry,
                     const std::vector<short>& seedMask, std::vector<float>& points,
                     std::vector<size_t>& slabStart) {
    const int* dims = geometry.dims;
    slabStart.assign(static_cast<size_t>(std::max(dims[0], 0)) + 1, 0);
    for (int x = 0; x < dims[0]; ++x) {
        slabStart[static_cast<size_t>(x)] = points.size();
        for (int y = 0; y < dims[1]; ++y) {
            for (int z = 0; z < dims[2]; ++z) {
                if (!seedMask.empty() && !(seedMask[voxelIndex(dims, x, y, z)] > 0)) {
                    continue;
                }
                const int voxel[3] = {x, y, z};
                for (int s = 0; s < settings.seedsPerVoxel; ++s) {
                    float point[3];
                    randomSeed(geometry.voxelSize, voxel, point);
                    points.insert(points.end(), point, point + 3);
                }
            }
        }
    }
    slabStart.back() = points.size();
}

// The tracks of one slab of seeds (one x), in seed order, waiting for their turn to be written.
struct SlabTracks {
    std::vector<float> points;
    std::vector<int> counts;
};

// Tracks grown on several threads share one eigen cache, filled before they start with every
// voxel a track decomposes: the seed voxels (each half starts with its seed's decomposition)
// and the voxels of the tracking mask.
void shareEigenCache(const SeedingLoop::Field& field, int threads, std::vector<float>& cache) {
    const int64_t voxels = static_cast<int64_t>(field.geometry.voxelCount);
    CTrack::PrepareSharedEigenCache(voxels, cache);
    const std::vector<short>& seeds = field.masks.seed;
    std::vector<short> needed;
    if (!seeds.empty()) {
        needed.resize(seeds.size());
        for (size_t v = 0; v < seeds.size(); ++v) {
            needed[v] = seeds[v] > 0 || field.masks.tracking[v] >= 1 ? 1 : 0;
        }
    }
    const short* wanted = needed.empty() ? nullptr : needed.data();
    constexpr int64_t kBlock = 16384;
    const size_t blocks = static_cast<size_t>((voxels + kBlock - 1) / kBlock);
    OrderedChunks::Run(
        threads, blocks, blocks,
        [&](size_t block, int) {
            const int64_t begin = static_cast<int64_t>(block) * kBlock;
            CTrack::ShareEigenCache(field.tensors.data(), wanted, voxels, begin, begin + kBlock,
                                    cache);
        },
        [](size_t) { return true; });
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
    // Threads past the slab count would only hold scratch.
    const int threads =
        OrderedChunks::Workers(settings.threads, static_cast<size_t>(std::max(dims[0], 0)));

    std::vector<float> randomPoints;
    std::vector<size_t> slabStart;
    if (settings.randomSeeding) {
        drawRandomSeeds(settings, geometry, seedMask, randomPoints, slabStart);
    }
    // One thread fills its cache as it goes, as it always has; several share a filled one.
    std::vector<float> eigenCache;
    if (threads > 1 && settings.methodCode != CTrack::kFixedStep) {
        shareEigenCache(field, threads, eigenCache);
    }

    const size_t slabs = static_cast<size_t>(std::max(dims[0], 0));
    std::vector<SlabTracks> pending(slabs);
    std::vector<std::vector<float>> workerPoints(static_cast<size_t>(threads));
    auto growSlab = [&](size_t slab, int worker) {
        std::vector<float>& points = workerPoints[static_cast<size_t>(worker)];
        SlabTracks& tracks = pending[slab];
        auto track = [&](const auto& seed) {
            int pointCount = 0;
            const int made = CTrack::GetTrack(
                dims, geometry.voxelSize, field.tensors.data(), field.masks.tracking.data(), seed,
                settings.methodCode, settings.stepLength, settings.angleThreshold, weights,
                points, pointCount, settings.eigenvectorIndex, &eigenCache);
            if (made != 0) {
                tracks.points.insert(tracks.points.end(), points.begin(),
                                     points.begin() + 3 * static_cast<size_t>(pointCount));
                tracks.counts.push_back(pointCount);
            }
        };
        const int x = static_cast<int>(slab);
        size_t next = settings.randomSeeding ? slabStart[slab] : 0;
        for (int y = 0; y < dims[1]; ++y) {
            for (int z = 0; z < dims[2]; ++z) {
                if (!seedMask.empty() && !(seedMask[voxelIndex(dims, x, y, z)] > 0)) {
                    continue;
                }
                if (!settings.randomSeeding) {
                    const int voxel[3] = {x, y, z};
                    track(voxel);
                    continue;
                }
                for (int s = 0; s < settings.seedsPerVoxel; ++s, next += 3) {
                    const float point[3] = {randomPoints[next], randomPoints[next + 1],
                                            randomPoints[next + 2]};
                    track(point);
                }
            }
        }
    };
    // Slabs are written in seed order as they finish, and the progress shown after each.
    auto writeSlab = [&](size_t slab) {
        SlabTracks tracks = std::move(pending[slab]);
        const float* points = tracks.points.data();
        for (const int count : tracks.counts) {
            if (!stream.WriteTrack(points, count)) {
                return false;
            }
            points += 3 * static_cast<size_t>(count);
        }
        ProgressDisplay::Show(static_cast<double>(slab + 1) / dims[0] * 100.0);
        return true;
    };

    std::printf("Tracking...     ");
    std::fflush(stdout);
    if (!OrderedChunks::Run(threads, slabs, 2 * static_cast<size_t>(threads), growSlab,
                            writeSlab)) {
        std::printf("\n");
        return RunReport::Failure("\nCan not write output file " + settings.outputFile);
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
