// Smooth random tracks for the benchmarks: 0.5 mm steps whose direction turns a little at
// every step, written as a .trk file and as an MRtrix3 .tck file.
//   make_tracks OUT.trk OUT.tck COUNT POINTS
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "TRACK_HEADER.h"

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const long count = std::atol(argv[3]);
    const int points = std::atoi(argv[4]);
    std::FILE* trk = std::fopen(argv[1], "wb");
    std::FILE* tck = std::fopen(argv[2], "wb");
    if (!trk || !tck) return 1;

    TRACK_HEADER h = TRACK_HEADER::MakeDefault();
    for (int i = 0; i < 3; ++i) {
        h.dim[i] = 64;
        h.voxel_size[i] = 2.0f;
    }
    h.track_count = static_cast<int>(count);
    std::fwrite(&h, sizeof h, 1, trk);

    std::string header = "mrtrix tracks\ndatatype: Float32LE\ncount: " +
                         std::to_string(count) + "\ntotal_count: " + std::to_string(count) +
                         "\nstep_size: 0.5\nfile: . ";
    // The data offset is part of the header it ends, so pad to a fixed width.
    const std::size_t offset = 256;
    std::string line = header + std::to_string(offset) + "\nEND\n";
    line.resize(offset, '\0');
    std::fwrite(line.data(), 1, line.size(), tck);

    std::mt19937 random(12345);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<float> track(3 * static_cast<std::size_t>(points));
    for (long t = 0; t < count; ++t) {
        float p[3] = {20 + 88 * (unit(random) + 1) / 2, 20 + 88 * (unit(random) + 1) / 2,
                      20 + 88 * (unit(random) + 1) / 2};
        float d[3] = {unit(random), unit(random), unit(random)};
        for (int i = 0; i < points; ++i) {
            const float turn = 0.08f;
            float norm = 0;
            for (int l = 0; l < 3; ++l) {
                d[l] += turn * unit(random);
                norm += d[l] * d[l];
            }
            norm = std::sqrt(norm);
            for (int l = 0; l < 3; ++l) {
                d[l] /= norm;
                p[l] += 0.5f * d[l];
                track[3 * i + l] = p[l];
            }
        }
        const int n = points;
        std::fwrite(&n, 4, 1, trk);
        std::fwrite(track.data(), 4, track.size(), trk);
        std::fwrite(track.data(), 4, track.size(), tck);
        const float end[3] = {NAN, NAN, NAN};
        std::fwrite(end, 4, 3, tck);
    }
    const float last[3] = {INFINITY, INFINITY, INFINITY};
    std::fwrite(last, 4, 3, tck);
    return (std::fclose(trk) == 0 && std::fclose(tck) == 0) ? 0 : 1;
}
