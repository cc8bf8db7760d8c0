#include "GradientScheme.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "CMyMath.h"

namespace {

// Largest deviation, per component, of the direction a fit reads from a table row from the
// direction the signal was simulated with.
constexpr double kSameDirection = 1e-12;

Vec3 parseRow(const char* row) {
    const char* cursor = row;
    Vec3 values{};
    for (double& value : values) {
        char* end = nullptr;
        value = std::strtod(cursor, &end);
        cursor = *end == ',' ? end + 1 : end;
    }
    return values;
}

Vec3 normalised(const Vec3& v) {
    const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / n, v[1] / n, v[2] / n};
}

Vec3 apply(const double m[3][3], const Vec3& v) {
    Vec3 out{};
    for (int r = 0; r < 3; ++r) {
        out[r] = m[r][0] * v[0] + m[r][1] * v[1] + m[r][2] * v[2];
    }
    return out;
}

}  // namespace

GradientScheme::GradientScheme(int directionCount, std::vector<double> shells)
    : shells_(std::move(shells)) {
    // Fibonacci spiral over one hemisphere: antipodal directions measure the same thing, so a
    // hemisphere spreads the directions evenly over all orientations.
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < directionCount; ++i) {
        const double z = 1.0 - (i + 0.5) / directionCount;
        const double r = std::sqrt(1.0 - z * z);
        const double phi = golden * i;
        const Vec3 g{r * std::cos(phi), r * std::sin(phi), z};
        spread_.push_back(g);

        // Images without a header orientation count as axial, for which tenscalc turns every
        // tabled direction (gx, gy, gz) into (gx, -gy, -gz); the table therefore lists the
        // voxel-frame direction with y and z negated.
        char row[96];
        std::snprintf(row, sizeof row, "%.6f, %.6f, %.6f", g[0], -g[1], -g[2]);
        rows_.emplace_back(row);

        // The signal is simulated with the direction as printed, so that the table and the
        // data agree to the last digit the table carries.
        const Vec3 tabled = parseRow(row);
        directions_.push_back(normalised({tabled[0], -tabled[1], -tabled[2]}));
    }
}

int GradientScheme::VolumeCount() const {
    return 1 + static_cast<int>(directions_.size() * shells_.size());
}

const Vec3& GradientScheme::DirectionOf(int t) const {
    return directions_[static_cast<size_t>(t - 1) % directions_.size()];
}

double GradientScheme::BValueOf(int t) const {
    return shells_[static_cast<size_t>(t - 1) / directions_.size()];
}

bool GradientScheme::MultiShell() const {
    return !(shells_.size() == 1 && shells_.front() == kDefaultB);
}

std::string GradientScheme::ShellRows(const std::vector<std::string>& rows) const {
    std::string text;
    if (MultiShell()) {
        text += "# The fourth number is the b value: read with '-gm FILE 1'.\n";
        text += "0.000000, 0.000000, 0.000000, 0\n";
    } else {
        text += "0.000000, 0.000000, 0.000000\n";
    }
    for (const double b : shells_) {
        char value[32];
        std::snprintf(value, sizeof value, ", %g", b);
        for (const std::string& row : rows) {
            text += row;
            if (MultiShell()) {
                text += value;
            }
            text += '\n';
        }
    }
    return text;
}

std::string GradientScheme::TableText() const {
    return "# dwiphantom gradient table: one b0 row, then one unit direction per volume.\n"
           "# Directions are voxel-frame directions with y and z negated, matching the axial\n"
           "# default orientation of images without header orientation.\n" +
           ShellRows(rows_);
}

bool GradientScheme::TableText(const double tableToVoxel[3][3], std::string* text) const {
    double voxelToTable[3][3];
    if (!CMyMath::InvertMatrix(voxelToTable, tableToVoxel)) {
        return false;
    }
    std::vector<std::string> rows;
    for (size_t i = 0; i < spread_.size(); ++i) {
        // Turning the unrounded direction and rounding once leaves the fit the same rounded
        // components as the table of the axial default, so the simulated signals fit both.
        const Vec3 g = apply(voxelToTable, spread_[i]);
        char row[96];
        std::snprintf(row, sizeof row, "%.6f, %.6f, %.6f", g[0], g[1], g[2]);
        const Vec3 seen = normalised(apply(tableToVoxel, parseRow(row)));
        for (int a = 0; a < 3; ++a) {
            if (!(std::fabs(seen[a] - directions_[i][a]) <= kSameDirection)) {
                return false;
            }
        }
        rows.emplace_back(row);
    }
    *text = "# dwiphantom gradient table: one b0 row, then one unit direction per volume.\n"
            "# Directions are voxel-frame directions turned back by the transform tenscalc takes\n"
            "# from the header orientation of the acquisition.\n" +
            ShellRows(rows);
    return true;
}

std::string GradientScheme::BvalText() const {
    std::string text = "0";
    for (const double b : shells_) {
        char value[32];
        std::snprintf(value, sizeof value, " %g", b);
        for (size_t i = 0; i < directions_.size(); ++i) {
            text += value;
        }
    }
    text += '\n';
    return text;
}

std::string GradientScheme::BvecText(bool negateX) const {
    std::string text;
    for (int axis = 0; axis < 3; ++axis) {
        text += '0';
        for (size_t shell = 0; shell < shells_.size(); ++shell) {
            for (const Vec3& d : directions_) {
                const double component = axis == 0 && negateX ? -d[0] : d[axis];
                char value[40];
                std::snprintf(value, sizeof value, " %.17g", component);
                text += value;
            }
        }
        text += '\n';
    }
    return text;
}
