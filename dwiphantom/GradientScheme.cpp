#include "GradientScheme.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

GradientScheme::GradientScheme(int directionCount) {
    // Fibonacci spiral over one hemisphere: antipodal directions measure the same thing, so a
    // hemisphere spreads the directions evenly over all orientations.
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < directionCount; ++i) {
        const double z = 1.0 - (i + 0.5) / directionCount;
        const double r = std::sqrt(1.0 - z * z);
        const double phi = golden * i;
        const Vec3 g{r * std::cos(phi), r * std::sin(phi), z};

        // Images without a header orientation count as axial, for which tenscalc turns every
        // tabled direction (gx, gy, gz) into (gx, -gy, -gz); the table therefore lists the
        // voxel-frame direction with y and z negated.
        char row[96];
        std::snprintf(row, sizeof row, "%.6f, %.6f, %.6f", g[0], -g[1], -g[2]);
        rows_.emplace_back(row);

        // The signal is simulated with the direction as printed, so that the table and the
        // data agree to the last digit the table carries.
        char* cursor = row;
        Vec3 tabled{};
        for (double& value : tabled) {
            value = std::strtod(cursor, &cursor);
            if (*cursor == ',') {
                ++cursor;
            }
        }
        const Vec3 voxelFrame{tabled[0], -tabled[1], -tabled[2]};
        const double n = std::sqrt(voxelFrame[0] * voxelFrame[0] + voxelFrame[1] * voxelFrame[1] +
                                   voxelFrame[2] * voxelFrame[2]);
        directions_.push_back({voxelFrame[0] / n, voxelFrame[1] / n, voxelFrame[2] / n});
    }
}

std::string GradientScheme::TableText() const {
    std::string text =
        "# dwiphantom gradient table: one b0 row, then one unit direction per volume.\n"
        "# Directions are voxel-frame directions with y and z negated, matching the axial\n"
        "# default orientation of images without header orientation.\n"
        "0.000000, 0.000000, 0.000000\n";
    for (const std::string& row : rows_) {
        text += row;
        text += '\n';
    }
    return text;
}
