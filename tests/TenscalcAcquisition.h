#pragma once
// A small acquisition generated from known tensors, and a folder to run tenscalc on it: shared
// by the tests of tenscalc's runs.

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace tenscalctest {

using testsupport::LoadedVolume;
using testsupport::readVolume;
using testsupport::runProgram;
using testsupport::TempDir;
using testsupport::VolumeSpec;
using testsupport::writeFile;
using testsupport::writeVolume;

using Vec3 = std::array<double, 3>;
using Tensor = std::array<double, 6>;  // xx, xy, xz, yy, yz, zz in the image frame

using testsupport::spiralDirections;

inline Tensor prolate(const Vec3& axis, double along, double across) {
    const double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    const Vec3 e = {axis[0] / n, axis[1] / n, axis[2] / n};
    auto m = [&](int a, int b) { return across * (a == b) + (along - across) * e[a] * e[b]; };
    return {m(0, 0), m(0, 1), m(0, 2), m(1, 1), m(1, 2), m(2, 2)};
}

// A small acquisition: 4 x 3 x 2 voxels, one b0 and 12 directions at b = 1000. The table lists
// each direction as (x, -y, -z), which the default axial orientation turns back into (x, y, z),
// so the tensors below are what the fit should find.
struct Acquisition {
    int nx = 4, ny = 3, nz = 2;
    std::vector<Vec3> dirs = spiralDirections(12);
    std::vector<Tensor> tensors;
    std::vector<double> s0;

    Acquisition() {
        const size_t v = static_cast<size_t>(nx * ny * nz);
        tensors.assign(v, Tensor{});
        s0.assign(v, 0.0);
        for (size_t p = 0; p < v; ++p) {
            const int x = static_cast<int>(p % nx);
            if (x == 0) {
                continue;  // background: no signal at all
            }
            s0[p] = 1000.0 + 10.0 * static_cast<double>(p);
            if (x == 1) {
                tensors[p] = prolate({1, 0, 0}, 1.7e-3, 0.3e-3);
            } else if (x == 2) {
                tensors[p] = prolate({0.3, 1, -0.5}, 1.5e-3, 0.4e-3);
            } else {
                tensors[p] = prolate({0, 0, 1}, 0.8e-3, 0.8e-3);
            }
        }
    }
    size_t voxels() const { return static_cast<size_t>(nx * ny * nz); }
    int rows() const { return 1 + static_cast<int>(dirs.size()); }

    std::string table() const {
        std::string text = "0 0 0\n";
        char line[128];
        for (const auto& d : dirs) {
            std::snprintf(line, sizeof line, "%.10f %.10f %.10f\n", d[0], -d[1], -d[2]);
            text += line;
        }
        return text;
    }

    // Volume `row` (0: b0) with every signal scaled by `gain`.
    std::vector<short> volume(int row, double gain = 1.0) const {
        std::vector<short> data(voxels());
        for (size_t p = 0; p < voxels(); ++p) {
            double s = s0[p];
            if (row > 0) {
                const Vec3& g = dirs[static_cast<size_t>(row - 1)];
                const Tensor& t = tensors[p];
                const double q = t[0] * g[0] * g[0] + 2 * t[1] * g[0] * g[1] +
                                 2 * t[2] * g[0] * g[2] + t[3] * g[1] * g[1] +
                                 2 * t[4] * g[1] * g[2] + t[5] * g[2] * g[2];
                s *= std::exp(-1000.0 * q);
            }
            data[p] = static_cast<short>(std::lround(s * gain));
        }
        return data;
    }

    // All volumes in one 4D file, repeated `repeats` times (the later repeats with a gain).
    void write4d(const std::string& path, int repeats = 1, VolumeSpec layout = VolumeSpec()) const {
        std::vector<short> all;
        for (int r = 0; r < repeats; ++r) {
            for (int i = 0; i < rows(); ++i) {
                const auto v = volume(i, r == 0 ? 1.0 : 1.2);
                all.insert(all.end(), v.begin(), v.end());
            }
        }
        layout.dims = {nx, ny, nz, rows() * repeats};
        layout.datatype = 4;
        layout.pixdim[0] = 2.0f;
        layout.pixdim[1] = 2.0f;
        layout.pixdim[2] = 2.5f;
        writeVolume(path, layout, all);
    }
};

struct Workspace {
    TempDir dir;
    Acquisition acq;
    std::string raw, table, prefix;
    Workspace() : raw(dir.file("dwi.nii")), table(dir.file("grad.txt")), prefix(dir.file("out")) {
        writeFile(table, acq.table());
    }
    testsupport::RunResult run(std::vector<std::string> extra = {}) const {
        std::vector<std::string> args = {raw, prefix, "-gm", table};
        args.insert(args.end(), extra.begin(), extra.end());
        return runProgram("tenscalc", args, dir.path());
    }
    LoadedVolume output(const std::string& suffix, const std::string& ending = ".nii") const {
        return readVolume(prefix + "_" + suffix + ending);
    }
};

}  // namespace tenscalctest
