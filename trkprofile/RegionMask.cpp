#include "RegionMask.h"

#include <cmath>

RegionMask::RegionMask(const GridVolume& volume)
    : grid_(volume.Grid()), inside_(volume.Values().size(), 0) {
    const std::vector<float>& values = volume.Values();
    for (std::size_t v = 0; v < values.size(); ++v) {
        inside_[v] = values[v] != 0.0f && !std::isnan(values[v]) ? 1 : 0;
    }
}

bool RegionMask::Centroid(std::array<double, 3>& centre) const {
    double sum[3] = {0.0, 0.0, 0.0};
    std::int64_t count = 0;
    std::size_t v = 0;
    for (int z = 0; z < grid_.Dim(2); ++z) {
        for (int y = 0; y < grid_.Dim(1); ++y) {
            for (int x = 0; x < grid_.Dim(0); ++x, ++v) {
                if (inside_[v] == 0) {
                    continue;
                }
                const int index[3] = {x, y, z};
                for (int a = 0; a < 3; ++a) {
                    sum[a] += (index[a] + 0.5) * static_cast<double>(grid_.Size(a));
                }
                ++count;
            }
        }
    }
    if (count == 0) {
        return false;
    }
    for (int a = 0; a < 3; ++a) {
        centre[a] = sum[a] / static_cast<double>(count);
    }
    return true;
}
